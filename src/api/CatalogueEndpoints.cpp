// What can be launched, for the pages: one application's icon, and the list of shortcuts.
#include "actions/Actions.h"
#include "api/Endpoints.h"
#include "api/Router.h"

#include <QJsonArray>

namespace hb::api {

void registerCatalogueEndpoints(Router& router) {
    actions::Platform& platform = router.context().platform;

    router.handle(QStringLiteral("/api/icon"),
                  [&platform](const server::Request& request, const server::Responder& responder) {
                      const auto app = request.query.constFind(QStringLiteral("app"));
                      const std::optional<QByteArray> png =
                          app != request.query.cend() ? platform.apps.iconPNG(*app) : std::nullopt;
                      if (png)
                          responder.send(200, QByteArrayLiteral("image/png"), *png);
                      else
                          responder.send(404, QByteArrayLiteral("text/plain"), {});
                  });
    router.handle(QStringLiteral("/api/shortcuts"), [&platform](const server::Request&,
                                                                const server::Responder& responder) {
        responder.json(QJsonObject{
            {QStringLiteral("ok"), true},
            {QStringLiteral("shortcuts"), QJsonArray::fromStringList(platform.shortcuts.listShortcuts())}});
    });
}

} // namespace hb::api
