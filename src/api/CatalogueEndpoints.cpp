// What can be launched, for the pages: one application's icon, and the list of shortcuts.
#include "actions/Actions.h"
#include "api/Endpoints.h"
#include "api/Router.h"

#include <QJsonArray>

namespace hb::api {
namespace {

void icon(Context& context, const server::Request& request, const server::Responder& responder) {
    const auto app = request.query.constFind(QStringLiteral("app"));
    const std::optional<QByteArray> png =
        app != request.query.cend() ? context.platform.apps.iconPNG(*app) : std::nullopt;
    if (png)
        responder.send(200, QByteArrayLiteral("image/png"), *png);
    else
        responder.send(404, QByteArrayLiteral("text/plain"), {});
}

void shortcuts(Context& context, const server::Request&, const server::Responder& responder) {
    responder.json(QJsonObject{{QStringLiteral("ok"), true},
                               {QStringLiteral("shortcuts"),
                                QJsonArray::fromStringList(context.platform.shortcuts.listShortcuts())}});
}

} // namespace

void registerCatalogueEndpoints(Router& router) {
    router.add({QStringLiteral("/api/icon"), Gate::Open, icon});
    router.add({QStringLiteral("/api/shortcuts"), Gate::LocalOrToken, shortcuts});
}

} // namespace hb::api
