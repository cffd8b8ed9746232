#pragma once
// One registration call per endpoint group; each installs its routes (path, gate, handler).
#include "store/Store.h"

#include <QJsonValue>

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
/// "Chrome on Android", "Safari on iPhone", or whichever half is known; "Phone" when neither is.
QString userAgentLabel(const QString& userAgent);
/// "level" cut toward zero and bounded to 0..100; 50 when absent or not a number.
int requestedLevel(const QJsonValue& value);

} // namespace hb::api
