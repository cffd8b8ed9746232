#include "api/Endpoints.h"

#include "api/Router.h"

namespace hb::api {

void registerEndpoints(Router& router) {
    registerPairingEndpoints(router);
    registerAdminEndpoints(router);
    registerActionEndpoints(router);
    registerCatalogueEndpoints(router);
    registerPlanEndpoints(router);
    registerDevicesEndpoints(router);
}

} // namespace hb::api
