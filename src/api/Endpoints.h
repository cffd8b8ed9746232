#pragma once
// One registration call per endpoint group; each installs its routes (path, gate, handler).
#include "store/Store.h"

namespace hb::server {
struct Request;
}

namespace hb::api {

class Router;

void registerPairingEndpoints(Router& router);
void registerAdminEndpoints(Router& router);
void registerActionEndpoints(Router& router);
void registerCatalogueEndpoints(Router& router);
void registerPlanEndpoints(Router& router);
void registerDevicesEndpoints(Router& router);

/// The phone a pairing request introduces: its "name", else a label made from its User-Agent.
store::NewDevice newDevice(const server::Request& request);

} // namespace hb::api
