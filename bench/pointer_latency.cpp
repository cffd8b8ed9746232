// Phone to pointer: token-gated "POST /api/pointer" motion requests, first byte to answer,
// against the real server, router and store driving XTest on the private test desktop. The
// endpoint answers after the X server has processed the motion (XSync), so each figure bounds
// the time from the phone's request to the pointer moving. The phone sends one request at a
// time and sums the motion made meanwhile into the next, so the updates per second it sustains
// are the sequential rate printed here.
//   tests/desktop.sh build/bench/pointer_latency           loopback figures
//   tests/desktop.sh build/bench/pointer_latency --serve   prints "<port> <token>", serves until
//                                                          stdin closes (bench/pointer_netem.sh)
#include "DesktopAgent.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

constexpr int kWarmup = 50;
constexpr int kRounds = 1000;

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (!hb::bench::onTestDesktop())
        return 2;
    hb::bench::DesktopAgent desktop;
    hb::test::ApiHarness& agent = desktop.agent;
    const QByteArray& token = desktop.token;
    if (argc > 1 && std::string(argv[1]) == "--serve") {
        std::printf("%u %s\n", unsigned(agent.port()), token.constData());
        std::fflush(stdout);
        for (std::string line; std::getline(std::cin, line);) {
        }
        return 0;
    }
    int failures = 0;
    const auto motion = [](int i) {
        return QByteArray(i % 2 ? R"({"dx":-3,"dy":2})" : R"({"dx":3,"dy":-2})");
    };
    hb::bench::timedPosts(agent.port(), "/api/pointer", token, kWarmup, &failures, motion);
    QElapsedTimer total;
    total.start();
    const auto millis =
        hb::bench::timedPosts(agent.port(), "/api/pointer", token, kRounds, &failures, motion);
    const double seconds = double(total.nsecsElapsed()) / 1e9;
    std::printf("POST /api/pointer motion with a token, %d sequential requests, new connection each, XTest\n",
                kRounds);
    std::printf("%-12s %10s %10s %10s %14s\n", "path", "p50 (ms)", "p99 (ms)", "max (ms)", "updates/s");
    std::printf("%-12s %10.3f %10.3f %10.3f %14.0f\n", "loopback", hb::bench::percentile(millis, 0.5),
                hb::bench::percentile(millis, 0.99), hb::bench::percentile(millis, 1.0), kRounds / seconds);
    std::printf("failed requests: %d\n", failures);
    return failures ? 1 : 0;
}
