#include "ShellTestSupport.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// The real agent in its own process: a first run opens the Control Panel and writes the login
// item; "Quit Harbly" chosen through the tray's menu protocol ends the process cleanly.
TEST(QuitFromTray, EndsTheRealAgent) {
    const QString binary = QStringLiteral(HB_BIN_DIR "/harbly");
    if (!QFileInfo(binary).isExecutable())
        GTEST_SKIP() << "build the harbly target first";
    QTemporaryDir support;
    QTemporaryDir config;
    QProcess agent;
    agent.setProcessEnvironment(hb::test::agentEnvironment(support.path(), config.path()));
    agent.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    agent.start(binary, {});
    ASSERT_TRUE(agent.waitForStarted(10'000));
    const qint64 pid = agent.processId();

    QJsonObject dump;
    ASSERT_TRUE(hb::test::waitFor([&] { return !(dump = hb::test::trayDump(pid)).isEmpty(); }, 30s))
        << "the agent's tray item never registered";
    EXPECT_EQ(hb::test::menuEntries(dump).value(2).label, QStringLiteral("Open Control Panel"));
    EXPECT_TRUE(QFileInfo::exists(config.path() + QStringLiteral("/autostart/harbly.desktop")));

    ASSERT_TRUE(hb::test::trayClick(QStringLiteral("Quit Harbly"), pid));
    const bool ended = hb::test::waitFor([&] { return agent.state() == QProcess::NotRunning; }, 20s);
    if (!ended) {
        agent.kill();
        agent.waitForFinished(5000);
    }
    ASSERT_TRUE(ended) << "still running after Quit Harbly";
    EXPECT_EQ(agent.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(agent.exitCode(), 0);
}

} // namespace
