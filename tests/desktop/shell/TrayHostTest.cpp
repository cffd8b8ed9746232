// A desktop without a tray host (stock GNOME): the shell must still be reachable.
#include "ShellTestSupport.h"
#include "app/AppDelegate.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

using hb::app::AppDelegate;
using namespace std::chrono_literals;

// Catches: on a desktop without a tray host the agent shows nothing at all (a start from the
// menu must open the Control Panel and, the first time, say how to get the icon), and an item
// made before a host exists that stays invisible once one appears.
TEST(TrayHost, WithoutOneStartsOpenThePanelAndTheIconComesWithTheHost) {
    QTemporaryDir dir;
    const QString calls = dir.filePath(QStringLiteral("calls.jsonl"));
    QProcess notifications; // the fake notification service on this test's session bus
    notifications.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral(HB_TEST_FAKES_DIR "/fake_notifications.py"), calls});
    ASSERT_TRUE(hb::test::waitFor([&] { return notifications.canReadLine(); }, 10s));
    const auto shown = [&calls] {
        QFile file(calls);
        return file.open(QIODevice::ReadOnly) ? int(file.readAll().count("\"Notify\"")) : 0;
    };
    struct Row {
        const char* name;
        bool atLogin;
        bool panel;
        int notices; ///< shown so far
    };
    const Row rows[] = {
        {"first start from the menu", false, true, 1},
        {"at login", true, false, 1},
        {"again from the menu", false, true, 1},
    };
    bool host = false;
    for (const Row& row : rows) {
        if (row.atLogin)
            qputenv("DESKTOP_AUTOSTART_ID", "login");
        else
            qunsetenv("DESKTOP_AUTOSTART_ID");
        QList<QUrl> opened;
        hb::app::ShellDeps deps;
        deps.port = [] { return quint16(9000); };
        deps.isFirstRun = [] { return false; };
        deps.openURL = [&opened](const QUrl& url) { return opened.append(url), true; };
        deps.trayHostPresent = [&host] { return host; };
        deps.noTrayNoticeMarker = dir.filePath(QStringLiteral("noticed"));
        qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");               // the panel goes to openURL
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu"); // as root, no sandbox: no embedded panel
        AppDelegate shell(deps);
        shell.applicationDidFinishLaunching();
        EXPECT_EQ(shell.statusItem(), nullptr) << row.name;
        EXPECT_EQ(opened.contains(AppDelegate::panelUrl(9000)), row.panel) << row.name;
        EXPECT_TRUE(hb::test::waitFor([&] { return shown() == row.notices; }, 5s))
            << row.name << ": " << shown();
    }
    qunsetenv("DESKTOP_AUTOSTART_ID");

    AppDelegate shell(hb::app::ShellDeps{
        {}, {}, [] { return false; }, {}, [](const QUrl&) { return true; }, [&host] { return host; }, {}});
    shell.setupMenuBar();
    host = true;
    ASSERT_TRUE(hb::test::waitFor([&] { return shell.statusItem() != nullptr; }, 10s));
    EXPECT_TRUE(hb::test::waitFor(
        [] { return !hb::test::trayDump(QCoreApplication::applicationPid()).isEmpty(); }, 10s))
        << "the item is not on the tray";
    notifications.kill();
    notifications.waitForFinished();
}
