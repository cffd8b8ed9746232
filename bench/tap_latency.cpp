// Tap to action: a token-gated gesture request, from its first byte to the answer, against the
// real server, router and store driving the real desktop actions (XTest on the private test
// desktop), directly and through harbly-relay. The gesture endpoint answers only after the key
// events were posted and the X server has processed them (XSync), so each figure bounds the
// time from the first byte to the key events. Run it inside the private test desktop only:
//   tests/desktop.sh build/bench/tap_latency
#include "DesktopAgent.h"
#include "RelayLink.h"

#include <QGuiApplication>
#include <cstdio>

namespace {

constexpr int kWarmup = 50;
constexpr int kRounds = 1000;
const QString kRelayId = QStringLiteral("tap-bench");

std::vector<double> taps(quint16 port, const QByteArray& prefix, const QByteArray& token, int rounds,
                         int* failures) {
    return hb::bench::timedPosts(port, prefix + "/api/gesture", token, rounds, failures,
                                 [](int) { return QByteArray(R"({"value":"minimize"})"); });
}

} // namespace

int main(int argc, char** argv) {
    // The application's own X connection keeps Xvfb from resetting between gestures.
    QGuiApplication app(argc, argv);
    if (!hb::bench::onTestDesktop())
        return 2;
    hb::bench::DesktopAgent desktop;
    hb::test::ApiHarness& agent = desktop.agent;
    const QByteArray& token = desktop.token;
    hb::bench::RelayLink relay(kRelayId, agent.port());
    const QByteArray viaRelay = "/phone/" + kRelayId.toUtf8();

    int failures = 0;
    taps(agent.port(), {}, token, kWarmup, &failures);
    taps(relay.port(), viaRelay, token, kWarmup, &failures);
    const auto direct = taps(agent.port(), {}, token, kRounds, &failures);
    const auto relayed = taps(relay.port(), viaRelay, token, kRounds, &failures);

    std::printf("POST /api/gesture {\"value\":\"minimize\"} with a token, %d sequential taps each, new "
                "connection per tap\n",
                kRounds);
    std::printf("%-22s %10s %10s %10s\n", "path", "p50 (ms)", "p99 (ms)", "max (ms)");
    for (const auto& [name, times] :
         {std::pair{"direct", &direct}, std::pair{"through harbly-relay", &relayed}})
        std::printf("%-22s %10.3f %10.3f %10.3f\n", name, hb::bench::percentile(*times, 0.5),
                    hb::bench::percentile(*times, 0.99), hb::bench::percentile(*times, 1.0));
    std::printf("failed taps: %d\n", failures);
    return failures ? 1 : 0;
}
