// The tray over the real StatusNotifier/dbusmenu protocol (a fake watcher on the session bus):
// its entries, the update notice, the real agent quitting, and desktops without a tray host.
#include "ShellTestSupport.h"
#include "app/AppDelegate.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QTimer>
#include <gtest/gtest.h>

using hb::app::AppDelegate;
using hb::test::HttpServer;
using hb::test::waitFor;
using namespace std::chrono_literals;

namespace {

/// The menu as a desktop shows it: "_" marks the next character as the mnemonic ("__" is "_"),
/// separators as "-", hidden entries and shortcuts marked.
QString describe(const QJsonObject& dump) {
    QStringList lines;
    for (const QJsonValue& value : dump.value(u"menu").toArray()) {
        const QJsonObject item = value.toObject();
        const QString label = item.value(u"label").toString();
        QString line;
        for (qsizetype i = 0; i < label.size(); ++i)
            line += label[label[i] == u'_' && i + 1 < label.size() ? ++i : i];
        if (item.value(u"type").toString() == u"separator")
            line = QStringLiteral("-");
        if (!item.value(u"visible").toBool(true))
            line += QStringLiteral(" (hidden)");
        QStringList keys;
        for (const QJsonValue& chord : item.value(u"shortcut").toArray()) {
            for (const QJsonValue& key : chord.toArray())
                keys.append(key.toString());
        }
        if (!keys.isEmpty())
            line += QStringLiteral(" [") + keys.join(u'+') + u']';
        lines.append(line);
    }
    return lines.join(QStringLiteral(" | "));
}

/// Polls the tray over D-Bus until its menu reads `expected` (menus update asynchronously).
QString menuWhen(const QString& expected, qint64 pid = 0) {
    QString menu;
    waitFor([&] { return (menu = describe(hb::test::trayDump(pid))) == expected; }, 20s);
    return menu;
}

HttpServer::Reply manifest(const QByteArray& body) {
    HttpServer::Reply reply;
    reply.body = body;
    return reply;
}

} // namespace

TEST(TrayMenu, EntriesAndTheUpdateNoticeOpeningItsAddress) {
    HttpServer server(
        [](const HttpServer::Request&) { return manifest(R"({"version":"0.9","url":"https://e/old"})"); });
    qputenv("HB_UPDATE_URL", server.url(QStringLiteral("/latest.json")).toUtf8());
    QList<QUrl> opened;
    hb::app::ShellDeps deps;
    deps.port = [] { return quint16(9000); };
    deps.openURL = [&opened](const QUrl& url) { return opened.append(url), true; };
    AppDelegate shell(deps);
    qunsetenv("HB_UPDATE_URL");
    shell.setupMenuBar();
    const QString menu = QStringLiteral(
        " | Open Control Panel [Control+O] | Show Pairing PIN\u2026 | - | Quit Harbly [Control+Q]");
    const QString hidden = QStringLiteral("Update available\u2026 (hidden) |  (hidden) | - (hidden)") + menu;
    EXPECT_EQ(menuWhen(hidden), hidden);
    shell.scheduleUpdateChecks(); // at once, then daily
    const auto timers = shell.findChildren<QTimer*>();
    EXPECT_TRUE(std::any_of(timers.begin(), timers.end(), [](const QTimer* t) {
        return t->isActive() && !t->isSingleShot() && t->intervalAsDuration() == 24h;
    }));
    ASSERT_TRUE(waitFor([&] { return server.requests().size() == 1; }));
    server.setAnswer([](const HttpServer::Request&) {
        return manifest(R"({"version":"3.0&1","url":"https://e/30","notes":"Faster pairing"})");
    });
    shell.runUpdateCheck();
    const QString announced =
        QStringLiteral("Update available \u2014 3.0&1 \u2192 | Faster pairing | -") + menu;
    EXPECT_EQ(menuWhen(announced), announced) << "the version shown as written, never as a mnemonic";
    server.setAnswer(
        [](const HttpServer::Request&) { return manifest(R"({"version":"3.1","url":"https://e/3"})"); });
    shell.runUpdateCheck();
    const QString newer = QStringLiteral("Update available \u2014 3.1 \u2192");
    const QString notesGone = newer + QStringLiteral(" |  (hidden) | -") + menu; // no stale notes
    EXPECT_EQ(menuWhen(notesGone), notesGone);
    ASSERT_TRUE(hb::test::trayClick(newer));
    ASSERT_TRUE(waitFor([&] { return !opened.isEmpty(); }));
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://e/3"))});
}

// The real agent: first run shows its tray and writes its login item; "Quit Harbly", chosen
// through the tray's menu protocol, ends it cleanly.
TEST(RealAgent, FirstRunRegistersAndQuitFromTrayEndsIt) {
    ASSERT_TRUE(QFileInfo(QStringLiteral(HB_BIN_DIR "/harbly")).isExecutable())
        << "build the harbly target first";
    QTemporaryDir support;
    QTemporaryDir config;
    QProcess agent;
    agent.setProcessEnvironment(hb::test::agentEnvironment(support.path(), config.path()));
    agent.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    agent.start(QStringLiteral(HB_BIN_DIR "/harbly"), {});
    ASSERT_TRUE(waitFor([&] { return !hb::test::trayDump(agent.processId()).isEmpty(); }, 30s));
    EXPECT_TRUE(QFileInfo::exists(config.path() + QStringLiteral("/autostart/harbly.desktop")));
    ASSERT_TRUE(hb::test::trayClick(QStringLiteral("Quit Harbly"), agent.processId()));
    ASSERT_TRUE(waitFor([&] { return agent.state() == QProcess::NotRunning; }, 20s))
        << "still running after Quit";
    EXPECT_EQ(agent.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(agent.exitCode(), 0);
}

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
