#include "steps/Planner.h"

#include "BuildConfig.h"
#include "actions/Actions.h"
#include "actions/Gestures.h"
#include "core/Env.h"
#include "core/HandOff.h"
#include "core/Json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <memory>

namespace hb::steps {

namespace {

QJsonObject failure(const QString& code) {
    return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), code}};
}

/// One plan in flight. Whatever happens to it, its completion runs exactly once: a job that
/// is dropped unanswered (planner shut down, request torn down) ends "plan_failed".
struct PlanJob {
    QString intent;
    QString key;
    QUrl endpoint;
    std::chrono::milliseconds timeout{};
    Planner::Completion completion;
    std::atomic_bool done{false};

    void finish(const QJsonObject& result) {
        if (!done.exchange(true) && completion)
            completion(result);
    }
    ~PlanJob() { finish(failure(QStringLiteral("plan_failed"))); }
};

/// The first "text" string among the reply's content blocks; nothing when the body is not a
/// Messages reply with a text block.
std::optional<QString> firstModelText(const QByteArray& body) {
    const auto reply = json::parseObject(body);
    if (!reply)
        return std::nullopt;
    const QJsonValue content = reply->value(u"content");
    if (!json::isArrayOfObjects(content))
        return std::nullopt;
    for (const QJsonValue& block : content.toArray()) {
        const QJsonValue text = block.toObject().value(u"text");
        if (text.isString())
            return text.toString();
    }
    return std::nullopt;
}

/// The "steps" array of the JSON object cut from the first "{" to the last "}" of the text.
std::optional<QJsonArray> stepsFromModelText(const QString& text) {
    const qsizetype open = text.indexOf(u'{');
    const qsizetype close = text.lastIndexOf(u'}');
    if (open < 0 || close < open)
        return std::nullopt;
    const auto plan = json::parseObject(text.mid(open, close - open + 1).toUtf8());
    if (!plan)
        return std::nullopt;
    const QJsonValue steps = plan->value(u"steps");
    if (!json::isArrayOfObjects(steps))
        return std::nullopt;
    return steps.toArray();
}

QStringList gestureNames() {
    QStringList names;
    for (const actions::Gesture& gesture : actions::gestures())
        names.append(gesture.name);
    return names;
}

} // namespace

/// Owns the network access manager on the planner's thread and runs every request there.
class PlannerWorker : public QObject {
  public:
    explicit PlannerWorker(StepEnvironment environment) : environment_(std::move(environment)) {}

    void start(const std::shared_ptr<PlanJob>& job) {
        QNetworkRequest request(job->endpoint);
        request.setRawHeader("x-api-key", job->key.toUtf8());
        request.setRawHeader("anthropic-version", kAnthropicVersion);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        request.setTransferTimeout(int(job->timeout.count()));
        // The key goes to the configured host only: a redirect elsewhere ends the plan.
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::SameOriginRedirectPolicy);
        const QByteArray body = json::compact(requestBody(job->intent, currentPrompt()));

        QNetworkReply* reply = network()->post(request, body);
        connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
            if (received > kMaxPlanReplyBytes)
                reply->abort();
        });
        connect(reply, &QNetworkReply::finished, this, [this, reply, job] {
            reply->deleteLater();
            job->finish(planResultFromBody(replyBody(reply), environment_));
        });
    }

  private:
    QNetworkAccessManager* network() {
        if (!network_)
            network_ = new QNetworkAccessManager(this); // created on this thread, dies with the worker
        return network_;
    }

    QString currentPrompt() const {
        const QStringList apps =
            environment_.allowedApps ? QStringList(environment_.allowedApps().values()) : QStringList();
        const QStringList shortcuts =
            environment_.platform ? environment_.platform->shortcuts.listShortcuts() : QStringList();
        return systemPrompt(sortedByCodePoint(apps), shortcuts, gestureNames());
    }

    /// The body as received; nothing for a cancelled, timed-out or oversized transfer, whose
    /// partial bytes are no answer.
    static QByteArray replyBody(QNetworkReply* reply) {
        switch (reply->error()) {
        case QNetworkReply::OperationCanceledError:
        case QNetworkReply::TimeoutError:
            return {};
        default:
            break;
        }
        const QByteArray body = reply->read(kMaxPlanReplyBytes + 1);
        return body.size() > kMaxPlanReplyBytes ? QByteArray() : body;
    }

    StepEnvironment environment_;
    QNetworkAccessManager* network_ = nullptr;
};

Planner::Planner(StepEnvironment environment) : Planner(std::move(environment), Options{}) {}

Planner::Planner(StepEnvironment environment, Options options)
    : environment_(std::move(environment)), options_(std::move(options)) {
    worker_ = new PlannerWorker(environment_);
    worker_->moveToThread(&thread_);
    // Deferred deletion still runs after the loop stops: the worker, its network manager and
    // every reply die on their own thread, and the jobs they held end "plan_failed".
    QObject::connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.setObjectName(QStringLiteral("hb-planner"));
    thread_.start();
}

Planner::~Planner() {
    thread_.quit();
    thread_.wait();
}

QString Planner::endpointUrl() const {
    QString base = options_.baseUrl;
    if (base.isEmpty())
        base = env::getOr("ANTHROPIC_BASE_URL", QStringLiteral(HB_DEFAULT_ANTHROPIC_URL));
    while (base.endsWith(u'/'))
        base.chop(1);
    return base + QStringLiteral("/v1/messages");
}

void Planner::planWithClaude(const QString& intent, Completion completion) {
    const QString key = env::get("ANTHROPIC_API_KEY").value_or(QString());
    if (key.isEmpty()) {
        if (completion)
            completion(failure(QStringLiteral("no_key")));
        return;
    }
    auto job = std::make_shared<PlanJob>();
    job->intent = intent;
    job->key = key;
    job->endpoint = QUrl(endpointUrl());
    job->timeout = options_.timeout;
    job->completion = std::move(completion);
    PlannerWorker* worker = worker_;
    postTo(worker, [worker, job] { worker->start(job); });
}

QString systemPrompt(const QStringList& sortedApps, const QStringList& shortcuts,
                     const QStringList& gestures) {
    const QString separator = QStringLiteral(", ");
    return QStringLiteral("You plan a short, ordered sequence of desktop actions from the user's intent. "
                          "Reply with ONLY a JSON object of the form "
                          "{\"steps\":[{\"type\":\"app|url|shortcut|gesture\",\"value\":\"...\","
                          "\"label\":\"...\"}]}.\nValid apps: ") +
           sortedApps.join(separator) + QStringLiteral(".\nValid shortcuts: ") + shortcuts.join(separator) +
           QStringLiteral(".\nValid gestures: ") + gestures.join(separator) +
           QStringLiteral(".\nFor \"url\" steps, value is a full https URL. Only use items from those lists. "
                          "Max 6 steps.");
}

QJsonObject requestBody(const QString& intent, const QString& system) {
    const QJsonObject message{{QStringLiteral("role"), QStringLiteral("user")},
                              {QStringLiteral("content"), intent}};
    return QJsonObject{{QStringLiteral("model"), QString::fromLatin1(kPlanModel)},
                       {QStringLiteral("max_tokens"), kPlanMaxTokens},
                       {QStringLiteral("system"), system},
                       {QStringLiteral("messages"), QJsonArray{message}}};
}

QJsonObject planResultFromBody(const QByteArray& body, const StepEnvironment& environment) {
    const std::optional<QString> text = firstModelText(body);
    if (!text)
        return failure(QStringLiteral("plan_failed"));
    const std::optional<QJsonArray> steps = stepsFromModelText(*text);
    if (!steps)
        return failure(QStringLiteral("parse_failed"));
    QJsonArray kept;
    for (const QJsonValue& step : *steps) {
        if (stepAllowed(step.toObject(), environment))
            kept.append(step);
    }
    return QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("steps"), kept}};
}

QStringList sortedByCodePoint(QStringList names) {
    // QString's own ordering compares UTF-16 units, which puts U+10000 and above before U+E000.
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.toUcs4() < b.toUcs4(); });
    return names;
}

} // namespace hb::steps
