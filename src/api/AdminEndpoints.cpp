// "/api/admin", "/api/config" and "/api/open-admin": the agent's configuration and identity
// for the web apps, and replacing the configuration.
#include "actions/Actions.h"
#include "actions/Gestures.h"
#include "api/Endpoints.h"
#include "api/Router.h"
#include "core/Version.h"
#include "relay/RelayUrls.h"
#include "store/Store.h"

#include <QJsonArray>

namespace hb::api {
namespace {

QJsonArray gestureCatalogue() {
    QJsonArray entries;
    for (const actions::Gesture& gesture : actions::gestures())
        entries.append(QJsonObject{{QStringLiteral("value"), gesture.name},
                                   {QStringLiteral("label"), gesture.label},
                                   {QStringLiteral("emoji"), gesture.emoji}});
    return entries;
}

QString relayPhoneUrl(Context& context) {
    const QString base = context.relayBase ? context.relayBase() : relay::relayBase();
    return relay::phoneUrl(base, context.store.relayId());
}

void admin(Context& context, const server::Request&, const server::Responder& responder) {
    actions::Platform& platform = context.platform;
    // Beside the summary, the relay phone address, so the Control Panel can show its QR code.
    responder.json(QJsonObject{
        {QStringLiteral("ok"), true},
        {QStringLiteral("host"), platform.host.hostName()},
        {QStringLiteral("version"), currentVersion()},
        {QStringLiteral("config"), context.store.snapshotConfig()},
        {QStringLiteral("pin"), context.store.pinValue()},
        {QStringLiteral("apps"), QJsonArray::fromStringList(platform.apps.listApps())},
        {QStringLiteral("gestures"), gestureCatalogue()},
        {QStringLiteral("shortcuts"), QJsonArray::fromStringList(platform.shortcuts.listShortcuts())},
        {QStringLiteral("relayUrl"), relayPhoneUrl(context)}});
}

void saveConfig(Context& context, const server::Request& request, const server::Responder& responder) {
    context.store.saveConfig(bodyJSON(request));
    if (context.setRelayEnabled)
        context.setRelayEnabled(context.store.relayEnabled());
    context.broadcastReload();
    responder.json(QJsonObject{{QStringLiteral("ok"), true}});
}

void readConfig(Context& context, const server::Request&, const server::Responder& responder) {
    responder.json(QJsonObject{{QStringLiteral("ok"), true},
                               {QStringLiteral("config"), context.store.snapshotConfig()},
                               {QStringLiteral("version"), currentVersion()},
                               {QStringLiteral("host"), context.platform.host.computerName()},
                               {QStringLiteral("relayUrl"), relayPhoneUrl(context)},
                               {QStringLiteral("relayEnabled"), context.store.relayEnabled()}});
}

void config(Context& context, const server::Request& request, const server::Responder& responder) {
    if (request.method == QStringLiteral("POST"))
        saveConfig(context, request, responder);
    else
        readConfig(context, request, responder);
}

// The hook posts to the UI thread itself; the answer does not wait for the window.
void openAdmin(Context& context, const server::Request&, const server::Responder& responder) {
    if (context.openAdmin)
        context.openAdmin();
    responder.json(QJsonObject{{QStringLiteral("ok"), true}});
}

// "Start at login": GET reads the switch, POST {"enabled": bool} sets it.
void loginItem(Context& context, const server::Request& request, const server::Responder& responder) {
    if (!context.loginItemEnabled || !context.setLoginItem) {
        responder.json(
            QJsonObject{{QStringLiteral("ok"), false},
                        {QStringLiteral("error"), QStringLiteral("Start at login needs a desktop session")}});
        return;
    }
    if (request.method == QStringLiteral("POST")) {
        const QJsonValue enabled = bodyJSON(request).value(QStringLiteral("enabled"));
        if (!enabled.isBool()) {
            responder.json(
                QJsonObject{{QStringLiteral("ok"), false},
                            {QStringLiteral("error"), QStringLiteral("\"enabled\" must be true or false")}},
                400);
            return;
        }
        if (const std::optional<QString> error = context.setLoginItem(enabled.toBool())) {
            responder.json(QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), *error}});
            return;
        }
    }
    responder.json(
        QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("enabled"), context.loginItemEnabled()}});
}

} // namespace

void registerAdminEndpoints(Router& router) {
    Context& context = router.context();
    const auto bind = [&router, &context](const QString& path, auto endpoint) {
        router.handle(
            path, [&context, endpoint](const server::Request& request, const server::Responder& responder) {
                endpoint(context, request, responder);
            });
    };
    bind(QStringLiteral("/api/admin"), admin);
    bind(QStringLiteral("/api/config"), config);
    bind(QStringLiteral("/api/open-admin"), openAdmin);
    bind(QStringLiteral("/api/login-item"), loginItem);
}

} // namespace hb::api
