// The real agent started twice for one session and support folder: the second start hands over
// to the first and ends; the first one quits through its tray menu.
#include "DesktopFakes.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using hb::test::waitFor;

// Catches: a second start (the menu entry while the login entry's agent runs) that stays
// running without a server, and with the relay on knocks the first one's link off; the real
// agent not writing its login item at the first run (only); a tray that it does not show, and
// "Quit Harbly" not ending it cleanly.
TEST(SingleInstance, SecondStartHandsOverAndEnds) {
    const struct {
        const char* name;
        bool headless, sessionBus;
        const char* said;
    } rows[] = {
        {"desktop", false, true, "showing its Control Panel"},
        {"headless", true, true, "already running on port"},
        {"no session bus", false, false, "showing its Control Panel"},
    };
    for (const auto& row : rows) {
        QTemporaryDir support;                                       // also the configuration folder
        QFile state(support.filePath(QStringLiteral("state.json"))); // not a first run: no panel at start
        if (row.sessionBus) {
            ASSERT_TRUE(state.open(QIODevice::WriteOnly));
            state.write(R"({"pin":"123456","tokens":[],"relayId":"A"})");
            state.close();
        }
        const quint16 port = hb::test::freePort();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HB_SUPPORT"), support.path());
        environment.insert(QStringLiteral("HB_PORT"), QString::number(port));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), support.path());
        if (row.headless)
            environment.remove(QStringLiteral("DISPLAY"));
        if (!row.sessionBus) {
            environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                               QStringLiteral("unix:path=/nonexistent"));
            environment.insert(QStringLiteral("DESKTOP_AUTOSTART_ID"), QStringLiteral("login")); // no panel
        }
        QProcess first;
        first.setProcessEnvironment(environment);
        first.start(QStringLiteral(HB_BIN_DIR "/harbly"), {});
        ASSERT_TRUE(waitFor(
            [&] { return hb::test::rawRequest(port, "OPTIONS / HTTP/1.1\r\n\r\n", 200ms).status == 204; },
            20s))
            << row.name;

        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(QStringLiteral(HB_BIN_DIR "/harbly"), {});
        ASSERT_TRUE(second.waitForFinished(10000)) << row.name << ": the second start keeps running";
        EXPECT_EQ(second.exitCode(), 0) << row.name;
        const QByteArray said = second.readAllStandardOutput();
        EXPECT_TRUE(said.contains(row.said) && (!row.headless || said.contains(QByteArray::number(port))))
            << row.name << ": " << said.constData();
        EXPECT_EQ(first.state(), QProcess::Running) << row.name;
        EXPECT_EQ(QFile::exists(support.filePath(QStringLiteral("autostart/harbly.desktop"))),
                  !row.sessionBus)
            << row.name
            << ": the login item is written at the first run only, a user who removed it not overruled";
        if (row.headless || !row.sessionBus) {
            first.kill();
            first.waitForFinished();
            continue;
        }
#ifdef HB_HAVE_WEBENGINE // without it the panel opens in the default browser
        const auto panelShown = [&] {
            const hb::test::ToolResult found = hb::test::runTool(
                QStringLiteral("xdotool"),
                {QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                 QStringLiteral("--pid"), QString::number(first.processId()), QStringLiteral("--name"),
                 QStringLiteral("^Harbly$")});
            return found.exitCode == 0 && !found.out.trimmed().isEmpty();
        };
        EXPECT_TRUE(waitFor(panelShown, 30s)) << "the panel is not on screen";
#endif
        ASSERT_TRUE(waitFor([&] { return hb::test::trayClick(QStringLiteral("Quit Harbly")); }, 30s));
        ASSERT_TRUE(waitFor([&] { return first.state() == QProcess::NotRunning; }, 20s))
            << "still running after Quit";
        EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(first.exitCode(), 0);
    }
}
