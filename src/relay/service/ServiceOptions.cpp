#include "relay/service/ServiceOptions.h"

#include "core/Env.h"

namespace hb::relay::service {

std::optional<ServiceOptions> optionsFromEnvironment(QString* error) {
    ServiceOptions options;
    if (const auto text = env::get("HB_RELAY_PORT"); text && !text->isEmpty()) {
        const auto port = env::parsePort(*text);
        if (!port) {
            *error = QStringLiteral("HB_RELAY_PORT is not a port number: ") + *text;
            return std::nullopt;
        }
        options.port = *port;
    }
    if (const auto text = env::get("HB_RELAY_LISTEN"); text && !text->isEmpty()) {
        if (!options.address.setAddress(*text)) {
            *error = QStringLiteral("HB_RELAY_LISTEN is not an IP address: ") + *text;
            return std::nullopt;
        }
    }
    options.certPath = env::getOr("HB_RELAY_CERT", QString());
    options.keyPath = env::getOr("HB_RELAY_KEY", QString());
    if (options.certPath.isEmpty() != options.keyPath.isEmpty()) {
        *error = QStringLiteral("HB_RELAY_CERT and HB_RELAY_KEY must be given together");
        return std::nullopt;
    }
    return options;
}

} // namespace hb::relay::service
