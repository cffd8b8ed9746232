// The paired phones, listed, renamed and revoked; and the name a pairing request gives its
// phone.
#include "api/Endpoints.h"
#include "api/Router.h"
#include "core/Json.h"
#include "store/Store.h"

#include <QJsonArray>

namespace hb::api {
namespace {

struct Marker {
    const char* needle;
    const char* name;
};

// First match wins: Chrome-based browsers also say "Chrome" and "Safari", and every
// browser on an iPhone says "Safari".
constexpr Marker kBrowsers[] = {
    {"Edg", "Edge"},         {"SamsungBrowser/", "Samsung Internet"},
    {"OPR/", "Opera"},       {"OPiOS/", "Opera"},
    {"Firefox/", "Firefox"}, {"FxiOS/", "Firefox"},
    {"CriOS/", "Chrome"},    {"Chrome/", "Chrome"},
    {"Safari/", "Safari"},
};
constexpr Marker kSystems[] = {
    {"iPhone", "iPhone"},   {"iPad", "iPad"},     {"Android", "Android"}, {"CrOS", "ChromeOS"},
    {"Windows", "Windows"}, {"Macintosh", "Mac"}, {"Linux", "Linux"},
};

template <std::size_t N> QString firstMatch(const QString& userAgent, const Marker (&markers)[N]) {
    for (const Marker& marker : markers) {
        if (userAgent.contains(QLatin1String(marker.needle)))
            return QString::fromLatin1(marker.name);
    }
    return {};
}

QJsonValue timeValue(const QDateTime& time) {
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QJsonArray deviceList(Context& context, const QString& callerToken) {
    QJsonArray list;
    for (const store::Device& device : context.store.devices(callerToken))
        list.append(QJsonObject{{QStringLiteral("id"), device.id},
                                {QStringLiteral("name"), device.name},
                                {QStringLiteral("pairedAt"), timeValue(device.pairedAt)},
                                {QStringLiteral("lastSeen"), timeValue(device.lastSeen)},
                                {QStringLiteral("via"), device.via.isEmpty() ? QJsonValue() : device.via},
                                {QStringLiteral("current"), device.current}});
    return list;
}

/// The answer to one change: 200 when done, 404 for an unknown id, 400 when nothing asked.
int changeDevices(Context& context, const QJsonObject& body, QString& error) {
    const QJsonValue revoke = body.value(QStringLiteral("revoke"));
    const QJsonValue rename = body.value(QStringLiteral("rename"));
    if (body.value(QStringLiteral("revokeAll")) == QJsonValue(true)) {
        context.store.revokeAllDevices();
        return 200;
    }
    if (revoke.isString())
        return context.store.revokeDevice(revoke.toString()) ? 200 : 404;
    if (!rename.isString())
        return 400;
    const QString name = store::Store::deviceName(json::textField(body, QStringLiteral("name")));
    if (name.isEmpty()) {
        error = QStringLiteral("Give the phone a name.");
        return 400;
    }
    return context.store.renameDevice(rename.toString(), name) ? 200 : 404;
}

// A phone that revokes itself is unpaired like "/api/unpair"; every open page reloads, so a
// revoked phone that is open finds out at once and shows its pairing screen.
void devices(Context& context, const server::Request& request, const server::Responder& responder) {
    const QString caller = request.header(QStringLiteral("x-hb-token"));
    if (request.method != QStringLiteral("POST")) {
        responder.json(QJsonObject{{QStringLiteral("ok"), true},
                                   {QStringLiteral("devices"), deviceList(context, caller)}});
        return;
    }
    QString error;
    const int status = changeDevices(context, bodyJSON(request), error);
    if (status != 200) {
        QJsonObject answer = notOk();
        if (!error.isEmpty())
            answer.insert(QStringLiteral("error"), error);
        responder.json(answer, status);
        return;
    }
    context.broadcastReload();
    responder.json(QJsonObject{{QStringLiteral("ok"), true}});
}

} // namespace

QString userAgentLabel(const QString& userAgent) {
    const QString browser = firstMatch(userAgent, kBrowsers);
    const QString system = firstMatch(userAgent, kSystems);
    if (!browser.isEmpty() && !system.isEmpty())
        return browser + QStringLiteral(" on ") + system;
    if (browser.isEmpty() && system.isEmpty())
        return QStringLiteral("Phone");
    return browser + system;
}

store::NewDevice newDevice(const server::Request& request) {
    QString name = store::Store::deviceName(json::textField(bodyJSON(request), QStringLiteral("name")));
    if (name.isEmpty())
        name = userAgentLabel(request.header(QStringLiteral("user-agent")));
    return store::NewDevice{name, isRelayed(request) ? store::Via::Relay : store::Via::Lan};
}

void registerDevicesEndpoints(Router& router) {
    router.add({QStringLiteral("/api/devices"), Gate::LocalOrToken, devices});
}

} // namespace hb::api
