// The real agent with a small descriptor limit, flooded with idle connections until accepting fails.
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace hb::test;

namespace {

constexpr rlimit kFewDescriptors{64, 64};

/// User plus system CPU time of a process, in clock ticks (fields 14 and 15 of its stat line).
long cpuTicks(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const auto fields = stat.open(QIODevice::ReadOnly) ? stat.readAll().split(' ') : QList<QByteArray>();
    return fields.size() > 14 ? fields[13].toLong() + fields[14].toLong() : -1; // "(harbly)" has no space
}

} // namespace

// Catches: the listener paused for good after an accept error, or retrying in a busy loop.
TEST(AcceptBackoff, OutOfDescriptorsPausesQuietlyAndServesAgain) {
    const QByteArray acceptWarning = "cannot accept connections";
    const quint16 port = freePort();
    QTemporaryDir support;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("HB_SUPPORT"), support.path());
    environment.insert(QStringLiteral("HB_PORT"), QString::number(port));
    environment.insert(QStringLiteral("HB_RELAY_URL"), QStringLiteral("ws://127.0.0.1:9"));
    QProcess agent;
    agent.setProcessEnvironment(environment);
    agent.setChildProcessModifier([] { ::setrlimit(RLIMIT_NOFILE, &kFewDescriptors); });
    agent.start(QStringLiteral(HB_BIN_DIR "/harbly"), {});
    const auto serves = [&] { return rawRequest(port, "OPTIONS / HTTP/1.1\r\n\r\n", 5s).status == 204; };
    ASSERT_TRUE(waitFor(serves, 30s)) << agent.readAllStandardError().constData();

    std::vector<std::unique_ptr<RawClient>> flood;
    for (int i = 0; i < 120; ++i)
        flood.push_back(std::make_unique<RawClient>(port));
    QByteArray errors;
    ASSERT_TRUE(waitFor([&] { return (errors += agent.readAllStandardError()).contains(acceptWarning); }, 8s))
        << errors.constData();
    const long before = cpuTicks(agent.processId());
    ::usleep(2'000'000);
    EXPECT_LT(cpuTicks(agent.processId()) - before, 2 * ::sysconf(_SC_CLK_TCK) / 5)
        << "ticks spent while out of descriptors";

    flood.clear();
    EXPECT_TRUE(serves());
    errors += agent.readAllStandardError();
    EXPECT_EQ(errors.count(acceptWarning), 1) << errors.constData();
    agent.terminate();
    agent.waitForFinished(5000);
}
