// The tray over the real StatusNotifier/dbusmenu protocol (a fake watcher on a private session
// bus): its entries, the update notice, the PIN dialog, its icon, and the real agent quitting.
#include "ShellTestSupport.h"
#include "app/AppDelegate.h"
#include "app/TrayIcon.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
#include <gtest/gtest.h>

using hb::app::AppDelegate;
using hb::test::HttpServer;
using hb::test::waitFor;
using namespace std::chrono_literals;

namespace {

QString describe(const QJsonObject& dump) {
    QStringList lines;
    for (const hb::test::MenuEntry& e : hb::test::menuEntries(dump))
        lines.append(e.label + (e.visible ? QString() : QStringLiteral(" (hidden)")) +
                     (e.shortcut.isEmpty() ? QString() : QStringLiteral(" [") + e.shortcut + u']'));
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

TEST(TrayMenu, PinDialogShowsThePinReadWhenItOpens) {
    QString pin = QStringLiteral("048213");
    hb::app::ShellDeps deps;
    deps.pinValue = [&pin] { return pin; };
    AppDelegate shell(deps);
    QString informative;
    QTimer probe; // the dialog is modal: inspect and close it from a timer
    QObject::connect(&probe, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        pin = QStringLiteral("999999"); // changed while open: the dialog keeps what it showed
        QCoreApplication::processEvents();
        informative = box->informativeText();
        probe.stop();
        box->buttons().value(0)->click();
    });
    probe.start(20);
    shell.setupMenuBar();
    EXPECT_TRUE(hb::test::trayClick(QStringLiteral("Show Pairing PIN\u2026")));
    ASSERT_TRUE(waitFor([&] { return !informative.isEmpty(); }, 20s)) << "the dialog never showed";
    EXPECT_EQ(informative,
              QStringLiteral("Enter 048213 on your phone, or scan the QR code in the Control Panel."));
}

TEST(TrayIcon, OwnIconElseADrawnDiamond) {
    QTemporaryDir empty;
    EXPECT_EQ(hb::app::chooseTrayIcon(QStringLiteral(HB_RESOURCES_DIR)).source,
              hb::app::TrayIconSource::Resource);
    const QString themeName = QIcon::themeName();
    QIcon::setThemeName(QStringLiteral("none-such"));
    const hb::app::TrayIcon drawn = hb::app::chooseTrayIcon(empty.path());
    QIcon::setThemeName(themeName);
    EXPECT_EQ(drawn.source, hb::app::TrayIconSource::Text);
    const QImage image = drawn.icon.pixmap(64, 64).toImage();
    EXPECT_GT(qAlpha(image.pixel(32, 32)), 0) << "the diamond was drawn";
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
