#include "api/Endpoints.h"
#include "api/Router.h"

namespace hb::api {

void registerPairingEndpoints(Router& router) {
    (void)router;
}

} // namespace hb::api
