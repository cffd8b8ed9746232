#include "api/Endpoints.h"
#include "api/Router.h"

namespace hb::api {

void registerCatalogueEndpoints(Router& router) {
    (void)router;
}

} // namespace hb::api
