// The real agent started twice for one session and support folder: the second start hands over
// to the first and ends.
#include "ShellTestSupport.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

#ifdef HB_HAVE_WEBENGINE
namespace {

bool panelOnScreen(qint64 pid) {
    const hb::test::ToolResult found =
        hb::test::runTool(QStringLiteral("xdotool"),
                          {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                           QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"),
                           QStringLiteral("^Harbly$")});
    return found.exitCode == 0 && !found.out.trimmed().isEmpty();
}

} // namespace
#endif

// Catches: a second start (the menu entry while the login entry's agent runs) that stays
// running without a server, and with the relay on knocks the first one's link off.
TEST(SingleInstance, SecondStartHandsOverAndEnds) {
    struct Row {
        const char* name;
        bool headless;
        bool sessionBus;
        const char* said;
    };
    const Row rows[] = {
        {"desktop", false, true, "showing its Control Panel"},
        {"headless", true, true, "already running on port"},
        {"no session bus", false, false, "showing its Control Panel"},
    };
    for (const Row& row : rows) {
        QTemporaryDir support;
        QTemporaryDir config;
        QFile state(support.filePath(QStringLiteral("state.json"))); // not a first run: no panel at start
        ASSERT_TRUE(state.open(QIODevice::WriteOnly));
        state.write(R"({"pin":"123456","tokens":[],"relayId":"A"})");
        state.close();
        const quint16 port = hb::test::freePort();
        QProcessEnvironment environment = hb::test::agentEnvironment(support.path(), config.path());
        environment.insert(QStringLiteral("HB_PORT"), QString::number(port));
        if (row.headless)
            environment.remove(QStringLiteral("DISPLAY"));
        if (!row.sessionBus) {
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                               QStringLiteral("unix:path=/nonexistent"));
            environment.insert(QStringLiteral("DESKTOP_AUTOSTART_ID"),
                               QStringLiteral("login")); // no tray: no panel at start
        }
        QProcess first;
        first.setProcessEnvironment(environment);
        first.start(QStringLiteral(HB_BIN_DIR "/harbly"), {});
        ASSERT_TRUE(hb::test::waitFor(
            [&] { return hb::test::rawRequest(port, "OPTIONS / HTTP/1.1\r\n\r\n", 200ms).status == 204; },
            20s))
            << row.name;

        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(QStringLiteral(HB_BIN_DIR "/harbly"), {});
        ASSERT_TRUE(second.waitForFinished(10000)) << row.name << ": the second start keeps running";
        EXPECT_EQ(second.exitCode(), 0) << row.name;
        const QByteArray said = second.readAllStandardOutput();
        EXPECT_TRUE(said.contains(row.said)) << row.name << ": " << said.constData();
        if (row.headless) {
            EXPECT_TRUE(said.contains(QByteArray::number(port))) << said.constData();
        }
#ifdef HB_HAVE_WEBENGINE // without it the panel opens in the default browser
        if (!row.headless && row.sessionBus) {
            EXPECT_TRUE(hb::test::waitFor([&] { return panelOnScreen(first.processId()); }, 30s)) << row.name;
        }
#endif
        EXPECT_EQ(first.state(), QProcess::Running) << row.name;
        EXPECT_FALSE(QFileInfo::exists(config.filePath(QStringLiteral("autostart/harbly.desktop"))))
            << row.name << ": written again after the first run, overruling a user who removed it";
        first.kill();
        first.waitForFinished(5000);
    }
}
