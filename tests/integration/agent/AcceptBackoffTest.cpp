// The real agent with a small descriptor limit, flooded with idle connections until accepting fails.
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

/// User plus system CPU time of a process, in clock ticks.
long cpuTicks(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command's closing parenthesis: state is the first, utime the 12th.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLong() + fields[12].toLong() : -1;
}

} // namespace

// Catches: the listener paused for good after an accept error, or retrying in a busy loop.
TEST(AcceptBackoff, OutOfDescriptorsPausesQuietlyAndServesAgain) {
    const QByteArray acceptWarning = "cannot accept connections";
    const quint16 port = hb::test::freePort();
    QTemporaryDir support;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("HB_SUPPORT"), support.path());
    environment.insert(QStringLiteral("HB_PORT"), QString::number(port));
    environment.insert(QStringLiteral("HB_RELAY_URL"), QStringLiteral("ws://127.0.0.1:9"));
    QProcess agent;
    agent.setProcessEnvironment(environment);
    agent.setChildProcessModifier([] {
        const rlimit limit{64, 64};
        ::setrlimit(RLIMIT_NOFILE, &limit);
    });
    agent.start(QStringLiteral(HB_BIN_DIR "/harbly"), {});
    const auto serves = [&] {
        return hb::test::rawRequest(port, "OPTIONS / HTTP/1.1\r\n\r\n", 5s).status == 204;
    };
    ASSERT_TRUE(hb::test::waitFor(serves, 30s)) << agent.readAllStandardError().constData();

    std::vector<std::unique_ptr<hb::test::RawClient>> flood;
    for (int i = 0; i < 120; ++i)
        flood.push_back(std::make_unique<hb::test::RawClient>(port));
    QByteArray errors;
    ASSERT_TRUE(hb::test::waitFor(
        [&] { return (errors += agent.readAllStandardError()).contains(acceptWarning); }, 8s))
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
