#include "PortalInjector.h"

#include "SystemDBus.h"
#include "WaylandKeymap.h"

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QFile>
#include <QObject>
#include <QThread>
#include <map>
#include <thread>

namespace hb::actions {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
constexpr uint kKeyboard = 1;
constexpr uint kPointer = 2;
// Remembered until revoked by the user.
constexpr uint kPersistUntilRevoked = 2;
// Quick steps of the handshake; the approval itself waits for the user.
constexpr auto kStepWait = std::chrono::seconds(5);
constexpr auto kApprovalWait = std::chrono::minutes(5);
constexpr uint kResponseSuccess = 0;
constexpr uint kResponseCancelled = 1;

QString readToken(const QString& file) {
    QFile in(file);
    if (file.isEmpty() || !in.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(in.readAll()).trimmed();
}

void writeToken(const QString& file, const QString& token) {
    if (file.isEmpty())
        return;
    QFile out(file);
    if (token.isEmpty()) {
        out.remove();
        return;
    }
    // Owner-only before anything is written.
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        out.write(token.toUtf8());
    }
}

} // namespace

/// Collects the Response signals of portal requests, by request path.
class PortalResponses : public QObject, protected QDBusContext {
    Q_OBJECT
  public:
    struct Response {
        uint code;
        QVariantMap results;
    };
    std::optional<Response> wait(const QString& path, std::chrono::steady_clock::duration timeout) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [&] { return responses_.count(path) > 0; }))
            return std::nullopt;
        return responses_.at(path);
    }

  public Q_SLOTS:
    void onResponse(uint code, const QVariantMap& results) {
        std::lock_guard lock(mutex_);
        responses_[message().path()] = Response{code, results};
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<QString, Response> responses_;
};

uint PortalInjector::version() {
    const auto version =
        readDBusProperty(Bus::Session, kService, kPath, kInterface, QStringLiteral("version"));
    return version ? version->toUInt() : 0;
}

std::shared_ptr<PortalInjector> PortalInjector::begin(const QString& tokenFile) {
    std::shared_ptr<PortalInjector> injector(new PortalInjector(tokenFile));
    auto* responses = new PortalResponses;
    responses->moveToThread(sessionSignalThread());
    injector->responses_ = responses;
    // Subscribed for every request of this connection before any is made, so none is missed.
    if (!injector->bus_.connection().connect(kService, QString(), kRequestInterface,
                                             QStringLiteral("Response"), responses,
                                             SLOT(onResponse(uint, QVariantMap)))) {
        injector->finish(State::Failed);
        return injector;
    }
    std::thread([injector] { injector->finish(injector->handshake()); }).detach();
    return injector;
}

PortalInjector::PortalInjector(QString tokenFile) : tokenFile_(std::move(tokenFile)) {}

PortalInjector::~PortalInjector() {
    if (!session_.isEmpty())
        bus_.call(kService, session_, QStringLiteral("org.freedesktop.portal.Session"),
                  QStringLiteral("Close"));
    if (responses_)
        responses_->deleteLater();
}

void PortalInjector::finish(State state) {
    std::lock_guard lock(mutex_);
    state_ = state;
    changed_.notify_all();
}

PortalInjector::State PortalInjector::wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return state_ != State::Starting; });
    return state_;
}

std::optional<QVariantMap> PortalInjector::request(const QString& method, QVariantList arguments,
                                                   QVariantMap options) {
    static std::atomic<int> counter{0};
    const QString token = QStringLiteral("harbly%1").arg(++counter);
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    // The request's path is known before the call: the sender's name without ':' and with '.'
    // as '_', then the token.
    QString sender = bus_.connection().baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString path = kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    if (!bus_.call(kService, kPath, kInterface, method, arguments))
        return std::nullopt;
    const auto response =
        responses_->wait(path, method == QLatin1String("Start") ? kApprovalWait : kStepWait);
    if (!response)
        return std::nullopt;
    if (response->code != kResponseSuccess)
        return std::nullopt;
    return response->results;
}

PortalInjector::State PortalInjector::handshake() {
    const uint portalVersion = version();
    const auto created = request(QStringLiteral("CreateSession"), {},
                                 {{QStringLiteral("session_handle_token"), QStringLiteral("harbly")}});
    if (!created)
        return State::Failed;
    session_ = created->value(QStringLiteral("session_handle")).toString();
    const QDBusObjectPath session(session_);
    QVariantMap devices{{QStringLiteral("types"), kKeyboard | kPointer}};
    if (portalVersion >= 2) {
        devices.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
        if (const QString token = readToken(tokenFile_); !token.isEmpty())
            devices.insert(QStringLiteral("restore_token"), token);
    }
    if (!request(QStringLiteral("SelectDevices"), {QVariant::fromValue(session)}, devices))
        return State::Failed;
    const auto started = request(QStringLiteral("Start"), {QVariant::fromValue(session), QString()}, {});
    if (!started)
        return State::Refused;
    if (!(started->value(QStringLiteral("devices")).toUInt() & kKeyboard))
        return State::Refused;
    // A token is good for one start: keep the new one (or none) in its place.
    if (portalVersion >= 2)
        writeToken(tokenFile_, started->value(QStringLiteral("restore_token")).toString());
    keymap_ = WaylandKeymap::connect();
    return State::Ready;
}

bool PortalInjector::key(Keysym sym, bool pressed) {
    return bus_
        .call(
            kService, kPath, kInterface, QStringLiteral("NotifyKeyboardKeysym"),
            {QVariant::fromValue(QDBusObjectPath(session_)), QVariantMap(), int(sym), uint(pressed ? 1 : 0)})
        .has_value();
}

bool PortalInjector::sendChord(const Chord& chord) {
    std::lock_guard lock(keysMutex_);
    bool ok = true;
    for (const Keysym sym : chord.modifiers)
        ok = key(sym, true) && ok;
    ok = key(chord.key, true) && ok;
    ok = key(chord.key, false) && ok;
    for (auto it = chord.modifiers.rbegin(); it != chord.modifiers.rend(); ++it)
        ok = key(*it, false) && ok;
    return ok;
}

bool PortalInjector::typeKeysyms(const std::vector<Keysym>& keysyms) {
    std::lock_guard lock(keysMutex_);
    // Symbols the layout lacks would be dropped without a word: then nothing is typed.
    if (!keymap_ || !keymap_->refresh())
        return false;
    for (const Keysym sym : keysyms) {
        if (!keymap_->placeOf(sym))
            return false;
    }
    bool ok = true;
    for (const Keysym sym : keysyms)
        ok = key(sym, true) && key(sym, false) && ok;
    return ok;
}

} // namespace hb::actions

#include "PortalInjector.moc"
