#pragma once
// One registration call per endpoint group.
#include "store/Store.h"

namespace hb::server {
struct Request;
}

namespace hb::api {

class Router;

void registerPairingEndpoints(Router& router); // pair, pair-code, unpair, set-pin, connect, airdrop
void registerAdminEndpoints(Router& router);   // admin, config, open-admin
void registerActionEndpoints(
    Router& router); // launch, url, shortcut, gesture, media, volume, system, clipboard, type
void registerCatalogueEndpoints(Router& router); // icon, shortcuts
void registerPlanEndpoints(Router& router);      // plan, run-plan, flows
void registerDevicesEndpoints(Router& router);   // devices

/// The phone a pairing request introduces: its "name", else a label made from its User-Agent.
store::NewDevice newDevice(const server::Request& request);

} // namespace hb::api
