#pragma once
// Small pieces shared by the benchmarks.
#include "core/HandOff.h"
#include "relay/RelayClient.h"
#include "relay/service/RelayService.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThread>
#include <algorithm>
#include <vector>

namespace hb::bench {

/// Runs `make` on a fresh thread with its own event loop; the object is deleted there at the end.
template <typename T> class OnThread {
  public:
    template <typename F> explicit OnThread(F make) {
        anchor_.moveToThread(&thread_);
        thread_.start();
        callOn(&anchor_, [&] { object_ = make(); });
    }
    ~OnThread() {
        callOn(&anchor_, [this] { delete object_; });
        thread_.quit();
        thread_.wait();
    }
    template <typename F> auto call(F f) {
        decltype(f(*object_)) result{};
        callOn(&anchor_, [&] { result = f(*object_); });
        return result;
    }

  private:
    QThread thread_;
    QObject anchor_;
    T* object_ = nullptr;
};

/// The value below which a share `p` of `values` lies.
inline double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

/// harbly-relay's service on a thread of its own and an agent's relay client on another,
/// linked for the agent listening on `agentPort`. Phones reach it at /phone/<relayId>/...
class RelayLink {
  public:
    RelayLink(const QString& relayId, quint16 agentPort)
        : service_([] {
              relay::service::ServiceOptions options;
              options.port = 0;
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
