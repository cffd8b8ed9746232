#include "ShellTestSupport.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

/// True when process `pid` shows a window titled "Harbly" (other tests may share the screen).
bool panelOnScreen(qint64 pid) {
    const hb::test::ToolResult found =
        hb::test::runTool(QStringLiteral("xdotool"),
                          {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                           QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"),
                           QStringLiteral("^Harbly$")});
    return found.exitCode == 0 && !found.out.trimmed().isEmpty();
}

/// True when process `pid` has a file whose path contains `part` mapped.
bool mapsFile(qint64 pid, const char* part) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(part);
}

/// The real agent in its own process, with its own support and configuration folders.
class RealAgent {
  public:
    RealAgent(const QString& support, const QString& config) {
        process_.setProcessEnvironment(hb::test::agentEnvironment(support, config));
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(HB_BIN_DIR "/harbly"), {});
    }
    ~RealAgent() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    /// Waits for the tray item; the start-up steps before it have run once it is there.
    QJsonObject trayWhenReady() {
        QJsonObject dump;
        hb::test::waitFor([&] { return !(dump = hb::test::trayDump(process_.processId())).isEmpty(); }, 30s);
        return dump;
    }
    bool quitFromTray() {
        return hb::test::trayClick(QStringLiteral("Quit Harbly"), process_.processId()) &&
               hb::test::waitFor([&] { return process_.state() == QProcess::NotRunning; }, 20s);
    }
    QProcess& process() { return process_; }

  private:
    QProcess process_;
};

// First launch: tray, login item and the Control Panel; "Quit Harbly" chosen through the tray's
// menu protocol ends the process cleanly. A second launch opens no Control Panel.
TEST(RealAgent, FirstRunShowsPanelAndQuitFromTrayEndsIt) {
    if (!QFileInfo(QStringLiteral(HB_BIN_DIR "/harbly")).isExecutable())
        GTEST_SKIP() << "build the harbly target first";
    QTemporaryDir support;
    QTemporaryDir config;
    {
        RealAgent agent(support.path(), config.path());
        const QJsonObject dump = agent.trayWhenReady();
        ASSERT_FALSE(dump.isEmpty()) << "the agent's tray item never registered";
        EXPECT_EQ(hb::test::menuEntries(dump).value(3).label, QStringLiteral("Open Control Panel"));
        EXPECT_TRUE(QFileInfo::exists(config.path() + QStringLiteral("/autostart/harbly.desktop")));
        const qint64 pid = agent.process().processId();
#ifdef HB_HAVE_WEBENGINE
        EXPECT_TRUE(hb::test::waitFor([pid] { return panelOnScreen(pid); }, 20s))
            << "no Control Panel on the first run";
#else
        (void)pid; // without Qt WebEngine the panel opens in the default browser
#endif
        ASSERT_TRUE(agent.quitFromTray()) << "still running after Quit Harbly";
        EXPECT_EQ(agent.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(agent.process().exitCode(), 0);
    }
    {
        RealAgent agent(support.path(), config.path());
        ASSERT_FALSE(agent.trayWhenReady().isEmpty());
        const qint64 pid = agent.process().processId();
        EXPECT_FALSE(panelOnScreen(pid)) << "the Control Panel opened on a later run";
        // The web engine comes with the panel's module, loaded when the panel first opens.
        EXPECT_FALSE(mapsFile(pid, "libQt6WebEngineCore")) << "the web engine is loaded with no panel open";
        EXPECT_FALSE(mapsFile(pid, "_dri.so")) << "an OpenGL driver is loaded with no panel open";
#ifdef HB_HAVE_WEBENGINE
        ASSERT_TRUE(hb::test::trayClick(QStringLiteral("Open Control Panel"), pid));
        EXPECT_TRUE(hb::test::waitFor([pid] { return panelOnScreen(pid); }, 20s)) << "no Control Panel";
        EXPECT_TRUE(mapsFile(pid, "/lib/harbly/libharbly-panel.so"));
#endif
        EXPECT_TRUE(agent.quitFromTray());
    }
}

} // namespace
