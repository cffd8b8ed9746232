// The real agent started twice for one session and support folder, with and without a display.
#include "DesktopFakes.h"
#include "actions/platform/linux/HostIdentityLinux.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using namespace hb::test;

// Catches: a second start (the menu entry while the login entry's agent runs) that stays
// running without a server, and with the relay on knocks the first one's link off; the real
// agent not writing its login item at the first run (only); a tray that it does not show, and
// "Quit Harbly" not ending it cleanly. Headless: the PIN, link or QR code missing from a
// terminal or leaked into a pipe, a link that does not pair, and Enter not giving a fresh link.
TEST(SingleInstance, SecondStartHandsOverAndEnds) {
    const struct {
        const char* name;
        bool headless, sessionBus, terminal;
        const char* said;
    } rows[] = {
        {"desktop", false, true, false, "showing its Control Panel"},
        {"headless in a pipe", true, true, false, "already running on port"},
        {"headless on a terminal", true, true, true, "already running on port"},
        {"no session bus", false, false, false, "showing its Control Panel"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir support;                          // also the configuration folder
        QFile state(support.filePath(u"state.json"_s)); // not a first run: no panel at start
        if (row.sessionBus) {
            ASSERT_TRUE(state.open(QIODevice::WriteOnly));
            state.write(R"({"pin":"123456","tokens":[],"relayId":"A"})");
            state.close();
        }
        const quint16 port = freePort();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HB_SUPPORT"_s, support.path());
        environment.insert(u"HB_PORT"_s, QString::number(port));
        environment.insert(u"XDG_CONFIG_HOME"_s, support.path());
        if (row.headless)
            environment.remove(u"DISPLAY"_s);
        if (!row.sessionBus) {
            environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path=/nonexistent"_s);
            environment.insert(u"DESKTOP_AUTOSTART_ID"_s, u"login"_s); // no panel
        }
        const QString harbly = QStringLiteral(HB_BIN_DIR "/harbly");
        QProcess first;
        first.setProcessEnvironment(environment);
        if (row.terminal) // a pseudo-terminal of its own: util-linux's script
            first.start(u"script"_s, {u"-qfec"_s, harbly, u"/dev/null"_s});
        else
            first.start(harbly, {});
        ASSERT_TRUE(waitFor(
            [&] { return rawRequest(port, "OPTIONS / HTTP/1.1\r\n\r\n", 200ms).status == 204; }, 20s));

        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(harbly, {});
        ASSERT_TRUE(second.waitForFinished(10000)) << "the second start keeps running";
        EXPECT_EQ(second.exitCode(), 0);
        const QByteArray said = second.readAllStandardOutput();
        EXPECT_TRUE(said.contains(row.said) && (!row.headless || said.contains(QByteArray::number(port))))
            << said.constData();
        EXPECT_EQ(first.state(), QProcess::Running);
        EXPECT_EQ(QFile::exists(support.filePath(u"autostart/harbly.desktop"_s)), !row.sessionBus)
            << "the login item is written at the first run only, a user who removed it not overruled";
        QString shown;
        const QString address = u"http://%1:%2/"_s.arg(hb::actions::LinuxHostIdentity().lanIP()).arg(port);
        const auto links = [&] {
            shown += QString::fromUtf8(first.readAllStandardOutput()).remove(u'\r');
            QStringList codes;
            for (const auto& match :
                 QRegularExpression(address + u"\\?pair=([0-9a-f]{16})\\n"_s).globalMatch(shown))
                codes.append(match.captured(1));
            return codes;
        };
        if (row.headless && !row.terminal) {
            const QString expected = u"Harbly is listening at "_s + address +
                                     u"\nRun Harbly in a terminal to see the pairing PIN and QR code.\n"_s;
            EXPECT_TRUE(waitFor([&] { return links().isEmpty() && shown == expected; }))
                << shown.toStdString();
        } else if (row.terminal) {
            ASSERT_TRUE(waitFor([&] { return links().size() == 1; })) << shown.toStdString();
            EXPECT_TRUE(shown.contains(address + u'\n') && shown.contains(u"Pairing PIN: 123456\n"_s));
            EXPECT_TRUE(shown.contains(QChar(0x2588))) << "the QR code is drawn";
            first.write("\n");
            QStringList both;
            ASSERT_TRUE(waitFor([&] { return (both = links()).size() == 2; })) << shown.toStdString();
            EXPECT_NE(both.at(0), both.at(1));
            for (const QString& code : both)
                EXPECT_EQ(httpRequest(port, "POST", "/api/pair-code", R"({"code":")" + code.toUtf8() + "\"}")
                              .status,
                          200)
                    << "every printed link pairs";
        }
        if (row.headless || !row.sessionBus) {
            first.kill(); // with the terminal, its agent gets the hang-up
            first.waitForFinished();
            continue;
        }
#ifdef HB_HAVE_WEBENGINE // without it the panel opens in the default browser
        const auto panelShown = [&] {
            const ToolResult found =
                runTool(u"xdotool"_s, {u"search"_s, u"--all"_s, u"--onlyvisible"_s, u"--pid"_s,
                                       QString::number(first.processId()), u"--name"_s, u"^Harbly$"_s});
            return found.exitCode == 0 && !found.out.trimmed().isEmpty();
        };
        EXPECT_TRUE(waitFor(panelShown, 30s)) << "the panel is not on screen";
#endif
        ASSERT_TRUE(waitFor([&] { return tray({u"click"_s, u"Quit Harbly"_s}).exitCode == 0; }, 30s));
        ASSERT_TRUE(waitFor([&] { return first.state() == QProcess::NotRunning; }, 20s))
            << "still running after Quit";
        EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(first.exitCode(), 0);
    }
}
