// Round trip of a small API call through harbly-relay against the direct call, on loopback.
// The agent core (real server, router, store; fake desktop) and harbly-relay each run on their own
// threads, the agent's relay client on a third; the main thread is the phone. Prints p50/p99 and
// the throughput sustained at several numbers of requests in flight.
#include "RelayLink.h"
#include "relay-service/RelayService.h"
#include "relay/RelayClient.h"
#include "support/TestSupport.h"
#include "support/api/ApiHarness.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int kWarmup = 200;
constexpr int kRounds = 2000;
constexpr auto kLoadSpan = std::chrono::seconds(3);
const QString kRelayId = QStringLiteral("bench-agent");

using hb::bench::percentile;

std::vector<double> timeCalls(quint16 port, const QByteArray& target, const QByteArray& token, int rounds,
                              int* failures) {
    std::vector<double> micros;
    micros.reserve(size_t(rounds));
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        const auto response = hb::test::httpRequest(port, "GET", target, {}, {{"x-hb-token", token}});
        micros.push_back(double(timer.nsecsElapsed()) / 1000.0);
        if (response.status != 200)
            ++*failures;
    }
    return micros;
}

struct LoadResult {
    int ok = 0;
    int busy = 0;
    int other = 0;
    double seconds = 0;
};

LoadResult load(quint16 port, const QByteArray& target, const QByteArray& token, int clients) {
    std::atomic<int> ok{0}, busy{0}, other{0};
    std::atomic<bool> stop{false};
    QElapsedTimer timer;
    timer.start();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            while (!stop.load()) {
                const int status =
                    hb::test::httpRequest(port, "GET", target, {}, {{"x-hb-token", token}}).status;
                (status == 200 ? ok : status == 503 ? busy : other).fetch_add(1);
            }
        });
    }
    std::this_thread::sleep_for(kLoadSpan);
    stop = true;
    for (auto& thread : threads)
        thread.join();
    return {ok.load(), busy.load(), other.load(), double(timer.nsecsElapsed()) / 1e9};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    hb::test::ApiHarness agent;
    const QByteArray token = agent.pairToken().toUtf8();

    const quint16 agentPort = agent.port();
    hb::bench::RelayLink link(kRelayId, agentPort);
    const quint16 relayPort = link.port();

    const QByteArray direct = "/api/config";
    const QByteArray relayed = "/phone/" + kRelayId.toUtf8() + direct;
    int failures = 0;
    timeCalls(agentPort, direct, token, kWarmup, &failures);
    timeCalls(relayPort, relayed, token, kWarmup, &failures);
    const auto directTimes = timeCalls(agentPort, direct, token, kRounds, &failures);
    const auto relayTimes = timeCalls(relayPort, relayed, token, kRounds, &failures);

    std::printf("GET /api/config with token, %d sequential calls each, new connection per call\n", kRounds);
    std::printf("%-22s %10s %10s %10s\n", "path", "p50 (ms)", "p90 (ms)", "p99 (ms)");
    for (const auto& [name, times] :
         {std::pair{"direct", &directTimes}, std::pair{"through harbly-relay", &relayTimes}})
        std::printf("%-22s %10.3f %10.3f %10.3f\n", name, percentile(*times, 0.5) / 1000,
                    percentile(*times, 0.9) / 1000, percentile(*times, 0.99) / 1000);
    std::printf("%-22s %10.3f %10.3f %10.3f\n", "added by the relay",
                (percentile(relayTimes, 0.5) - percentile(directTimes, 0.5)) / 1000,
                (percentile(relayTimes, 0.9) - percentile(directTimes, 0.9)) / 1000,
                (percentile(relayTimes, 0.99) - percentile(directTimes, 0.99)) / 1000);
    std::printf("failed calls: %d\n\n", failures);

    std::printf("Requests in flight through harbly-relay (%lld s each; the service caps one agent at 64)\n",
                qlonglong(kLoadSpan.count()));
    std::printf("%-10s %10s %10s %10s %10s\n", "in flight", "req/s", "200", "503", "other");
    for (const int clients : {1, 16, 64, 96}) {
        const LoadResult r = load(relayPort, relayed, token, clients);
        std::printf("%-10d %10.0f %10d %10d %10d\n", clients, r.ok / r.seconds, r.ok, r.busy, r.other);
    }
    return 0;
}
