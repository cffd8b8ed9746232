#pragma once
// The agent's real server, router and store driving the real Linux desktop actions, with a paired
// phone's token, for the latency benchmarks; and timed requests against it.
#include "BenchSupport.h"
#include "actions/platform/linux/LinuxPlatform.h"
#include "support/TestSupport.h"
#include "support/api/ApiHarness.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <functional>
#include <vector>

namespace hb::bench {

struct DesktopAgent {
    QTemporaryDir support;
    actions::LinuxPlatform desktop{support.path()};
    test::ApiHarness agent{[this] {
        test::ApiHarness::Options options;
        options.platform = &desktop.platform();
        return options;
    }()};
    QByteArray token = agent.pairToken().toUtf8();
};

/// Milliseconds of `rounds` sequential token-gated POSTs of `body(i)` to `path`, a new connection
/// each, first byte to answer; answers other than 200 {"ok":true} are counted in `failures`.
inline std::vector<double> timedPosts(quint16 port, const QByteArray& path, const QByteArray& token,
                                      int rounds, int* failures, const std::function<QByteArray(int)>& body) {
    std::vector<double> millis;
    millis.reserve(size_t(rounds));
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        timer.start();
        const auto response = test::httpRequest(port, "POST", path, body(i), {{"x-hb-token", token}});
        millis.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (response.status != 200 || !response.body.contains("\"ok\":true"))
            ++*failures;
    }
    return millis;
}

} // namespace hb::bench
