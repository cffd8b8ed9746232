// The agent's configuration and identity for the web apps, replacing the configuration, and
// opening the Control Panel.
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
    // Beside the summary, the relay phone address and its QR code for the Control Panel; the
    // code carries the trailing slash the phone app's relative addresses need.
    const QString relayUrl = relayPhoneUrl(context);
    responder.json(QJsonObject{
        {QStringLiteral("ok"), true},
        {QStringLiteral("host"), platform.host.hostName()},
        {QStringLiteral("version"), currentVersion()},
        {QStringLiteral("config"), context.store.snapshotConfig()},
        {QStringLiteral("pin"), context.store.pinValue()},
        {QStringLiteral("apps"), QJsonArray::fromStringList(platform.apps.listApps())},
        {QStringLiteral("gestures"), gestureCatalogue()},
        {QStringLiteral("shortcuts"), QJsonArray::fromStringList(platform.shortcuts.listShortcuts())},
        {QStringLiteral("relayUrl"), relayUrl},
        {QStringLiteral("relayQr"), actions::qrDataURL(relayUrl + u'/').value_or(QString())}});
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

} // namespace

void registerAdminEndpoints(Router& router) {
    // A refused summary answers 200 {"ok": false}: the pages read it as "not this computer".
    router.add({QStringLiteral("/api/admin"), Gate::LocalOrToken, admin, 200});
    // Reading the configuration needs a token; saving it is the Control Panel's, so local.
    router.add({QStringLiteral("/api/config"), Gate::Token, config, 401, Gate::LocalOrToken});
    router.add({QStringLiteral("/api/open-admin"), Gate::LocalOrToken, openAdmin});
}

} // namespace hb::api
