// harbly-relay: the reference relay service. Agents connect at /mac/ws?id=<relay id>; phones reach
// their agent at /phone/<relay id>/. Configured from the environment (see docs/relay.md).
#include "relay-service/RelayService.h"
#include "relay-service/ServiceOptions.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString error;
    const auto options = hb::relay::service::optionsFromEnvironment(&error);
    if (!options) {
        std::fprintf(stderr, "harbly-relay: %s\n", qPrintable(error));
        return 2;
    }
    hb::relay::service::RelayService service(*options);
    if (!service.start(&error)) {
        std::fprintf(stderr, "harbly-relay: cannot serve on %s:%u: %s\n",
                     qPrintable(options->address.toString()), unsigned(options->port), qPrintable(error));
        return 1;
    }
    // The chosen port on one line of its own (useful with HB_RELAY_PORT=0).
    std::printf("harbly-relay listening on %s://%s:%u\n", service.isTls() ? "https" : "http",
                qPrintable(options->address.toString()), unsigned(service.port()));
    std::fflush(stdout);
    return app.exec();
}
