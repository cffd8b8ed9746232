#include "update/UpdateCheck.h"

#include "BuildConfig.h"
#include "core/Env.h"
#include "core/Json.h"
#include "core/Version.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <algorithm>

namespace hb::update {
namespace {

QList<qint64> versionComponents(const QString& text) {
    QList<qint64> components;
    for (const QString& piece : text.split(u'.', Qt::SkipEmptyParts))
        components.append(env::parseInt64(piece).value_or(0));
    return components;
}

bool isDownloadUrl(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    // QUrl lower-cases the scheme it parses, so the case-sensitive test runs on the raw text.
    return url.isValid() && !url.isRelative() && text.startsWith(u"https:") && url.scheme() == u"https" &&
           !url.host().isEmpty();
}

} // namespace

bool versionIsNewer(const QString& candidate, const QString& reference) {
    const QList<qint64> left = versionComponents(candidate);
    const QList<qint64> right = versionComponents(reference);
    const qsizetype count = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 a = i < left.size() ? left[i] : 0;
        const qint64 b = i < right.size() ? right[i] : 0;
        if (a != b)
            return a > b;
    }
    return false;
}

std::optional<UpdateInfo> parseManifest(const QByteArray& body, const QString& currentVersion) {
    const std::optional<QJsonObject> manifest = json::parseObject(body);
    if (!manifest)
        return std::nullopt;
    const QJsonValue version = manifest->value(u"version");
    const QJsonValue url = manifest->value(u"url");
    if (!version.isString() || !url.isString() || !isDownloadUrl(url.toString()))
        return std::nullopt;
    if (!versionIsNewer(version.toString(), currentVersion))
        return std::nullopt;
    return UpdateInfo{version.toString(), QUrl(url.toString(), QUrl::StrictMode),
                      json::textField(*manifest, QStringLiteral("notes"))};
}

QUrl manifestUrl() {
    return QUrl(env::getOr("HB_UPDATE_URL", QStringLiteral(HB_DEFAULT_UPDATE_URL)), QUrl::StrictMode);
}

UpdateChecker::UpdateChecker(QObject* parent) : UpdateChecker(manifestUrl(), kManifestTimeout, parent) {}

UpdateChecker::UpdateChecker(QUrl manifest, std::chrono::milliseconds timeout, QObject* parent)
    : QObject(parent), network_(new QNetworkAccessManager(this)), manifest_(std::move(manifest)),
      timeout_(timeout) {}

void UpdateChecker::checkForUpdate(Completion completion) {
    if (!manifest_.isValid() || manifest_.isRelative()) {
        QMetaObject::invokeMethod(
            this, [completion] { completion(std::nullopt); }, Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(manifest_);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    QNetworkReply* reply = network_->get(request);

    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline->start(timeout_);
    connect(reply, &QNetworkReply::readyRead, reply, [reply] {
        if (reply->bytesAvailable() > kMaxManifestBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, completion] { finish(reply, completion); });
}

void UpdateChecker::finish(QNetworkReply* reply, const Completion& completion) {
    reply->deleteLater();
    // The HTTP status is not examined: a manifest-shaped body in an error answer counts too.
    // Transport failures, time-outs and oversized bodies (both aborted) give no update.
    const QNetworkReply::NetworkError error = reply->error();
    const bool complete = error == QNetworkReply::NoError || error >= QNetworkReply::ContentAccessDenied;
    std::optional<UpdateInfo> answer;
    if (complete && reply->bytesAvailable() <= kMaxManifestBytes)
        answer = parseManifest(reply->readAll(), currentVersion());
    // Always later than the call, on this object's thread, also when the reply failed at once.
    QMetaObject::invokeMethod(
        this, [completion, answer] { completion(answer); }, Qt::QueuedConnection);
}

} // namespace hb::update
