#include "relay/RelayUrls.h"

#include "BuildConfig.h"
#include "core/Env.h"

namespace hb::relay {
namespace {

QString withoutTrailingSlash(QString text) {
    while (text.endsWith(u'/'))
        text.chop(1);
    return text;
}

} // namespace

QString relayBase() {
    return withoutTrailingSlash(env::getOr("HB_RELAY_URL", QStringLiteral(HB_DEFAULT_RELAY_URL)));
}

QUrl agentEndpoint(const QString& base, const QString& relayId) {
    return QUrl(withoutTrailingSlash(base) + QStringLiteral("/mac/ws?id=") + relayId, QUrl::StrictMode);
}

QString phoneUrl(const QString& base, const QString& relayId) {
    QString http = withoutTrailingSlash(base);
    if (http.startsWith(QStringLiteral("wss://"), Qt::CaseInsensitive))
        http = QStringLiteral("https://") + http.mid(6);
    else if (http.startsWith(QStringLiteral("ws://"), Qt::CaseInsensitive))
        http = QStringLiteral("http://") + http.mid(5);
    return http + QStringLiteral("/phone/") + relayId;
}

} // namespace hb::relay
