// Time from a runGesture call until its key events have been processed by the X server
// (XSync returned), over many gestures. Run it inside the private test desktop only:
//   tests/desktop.sh build/bench/gesture_latency
#include "BenchSupport.h"
#include "actions/platform/linux/LinuxInput.h"

#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRounds = 1000;
constexpr const char* kGestures[] = {"minimize", "mission_control", "launchpad"};

} // namespace

int main(int argc, char** argv) {
    // The application's own X connection keeps the server from resetting when each gesture's
    // connection closes (Xvfb resets whenever its last client leaves).
    QGuiApplication app(argc, argv);
    if (!hb::bench::onTestDesktop())
        return 2;
    hb::actions::LinuxInput input;
    std::printf("%-16s %6s %10s %10s %10s\n", "gesture", "n", "p50 (ms)", "p99 (ms)", "max (ms)");
    for (const char* name : kGestures) {
        const QString gesture = QString::fromLatin1(name);
        std::vector<double> times;
        times.reserve(kRounds);
        int failures = 0;
        for (int i = 0; i < kRounds; ++i) {
            const auto start = std::chrono::steady_clock::now();
            failures += input.runGesture(gesture) ? 0 : 1;
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(times.begin(), times.end());
        std::printf("%-16s %6d %10.3f %10.3f %10.3f%s\n", name, kRounds, hb::bench::percentile(times, 0.50),
                    hb::bench::percentile(times, 0.99), times.back(), failures ? "  (failures!)" : "");
    }
    return 0;
}
