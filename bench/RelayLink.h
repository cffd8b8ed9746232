#pragma once
// harbly-relay's service and an agent's relay client, linked, for the benchmarks.
#include "BenchSupport.h"
#include "relay-service/RelayService.h"
#include "relay/RelayClient.h"

#include <QElapsedTimer>

namespace hb::bench {

/// harbly-relay's service on a thread of its own and an agent's relay client on another,
/// linked for the agent listening on `agentPort`. Phones reach it at /phone/<relayId>/...
class RelayLink {
  public:
    RelayLink(const QString& relayId, quint16 agentPort)
        : service_([] {
              relay::service::ServiceOptions options;
              options.port = 0;
              options.requestsPerSecond = 0; // one address sends every tap: no per-address limit
              auto* service = new relay::service::RelayService(options);
              service->start();
              return service;
          }),
          port_(service_.call([](auto& s) { return s.port(); })), client_([&] {
              const QString base = QStringLiteral("ws://127.0.0.1:") + QString::number(port_);
              auto* client = new relay::RelayClient(relayId, base, [agentPort] { return agentPort; });
              client->setEnabled(true);
              return client;
          }) {
        QElapsedTimer wait;
        wait.start();
        while (!service_.call([&](auto& s) { return s.hasAgent(relayId); }) && wait.elapsed() < 5000)
            QThread::msleep(10);
    }

    quint16 port() const { return port_; }
    OnThread<relay::service::RelayService>& service() { return service_; }

  private:
    OnThread<relay::service::RelayService> service_;
    quint16 port_;
    OnThread<relay::RelayClient> client_;
};

} // namespace hb::bench
