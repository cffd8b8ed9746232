// The tray over the real StatusNotifier/dbusmenu protocol (a fake watcher on the session bus):
// its entries, the update notice, the Control Panel window, and desktops without a tray host.
#include "DesktopFakes.h"
#include "app/Agent.h"
#include "app/AppDelegate.h"
#include "app/ControlPanelWindow.h"
#include "server/Server.h"
#include "store/Store.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>
#ifdef HB_HAVE_WEBENGINE
#include <QWebEnginePage>
#include <QWebEngineView>
#endif
#include <optional>

using hb::app::AppDelegate;
using namespace hb::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

/// For every shell test: the fake tray watcher, started before any tray icon exists (Qt decides
/// once per process whether a watcher is there), and the agent's folder, port and hosts.
class ShellEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ASSERT_TRUE(inTestDesktop()) << "run under tests/desktop.sh";
        qputenv("HB_SUPPORT", QFile::encodeName(support_.path()));
        qputenv("HB_RELAY_URL", "ws://127.0.0.1:9");
        qputenv("HB_UPDATE_URL", "http://127.0.0.1:9/latest.json");
        qputenv("HB_PORT", "0");
        // Not ASSERT: a failed environment would report every test as skipped, not failed.
        EXPECT_TRUE(watcher_.emplace(u"watcher"_s).ready());
    }
    void TearDown() override { watcher_.reset(); }

  private:
    QTemporaryDir support_;
    std::optional<FakeService> watcher_;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new ShellEnvironment);

HttpServer::Answer manifest(const QByteArray& body) {
    HttpServer::Reply reply;
    reply.body = body;
    return [reply](const HttpServer::Request&) { return reply; };
}

} // namespace

// Catches: entries missing or misnamed, an update notice shown when there is none, a version
// taken as a mnemonic, stale notes, no daily check, the notice not opening its address; a tray
// item made before a host exists that stays invisible once one appears; a second panel window
// per request, the page not trusted as local (no PIN shown), and the window following links to
// other sites, other ports or other schemes.
TEST(TrayMenu, EntriesTheUpdateNoticeAndTheControlPanelWindow) {
    hb::app::Agent agent;
    agent.start();
    ASSERT_TRUE(agent.server().waitUntilListening(10s));
    const quint16 port = agent.server().listeningPort();
    HttpServer server(manifest(R"({"version":"0.9","url":"https://e/old"})"));
    const QByteArray closed = qgetenv("HB_UPDATE_URL");
    qputenv("HB_UPDATE_URL", server.url(u"/latest.json"_s).toUtf8());
    QList<QUrl> opened;
    hb::app::ShellDeps deps;
    deps.port = [port] { return port; };
    deps.openURL = [&opened](const QUrl& url) { return opened.append(url), true; };
    bool host = false; // the item made before a host exists shows once one appears
    deps.trayHostPresent = [&host] { return host; };
    AppDelegate shell(deps);
    qputenv("HB_UPDATE_URL", closed);
    agent.setOpenAdmin([&shell] { shell.showPanel(); });
    shell.setupMenuBar();
    host = true;
    ASSERT_TRUE(waitFor([&] { return shell.statusItem() != nullptr; }, 10s));
    const auto menuWhen = [](const QString& expected) { // menus update asynchronously
        QString menu;
        waitFor([&] { return (menu = QString::fromUtf8(tray({u"menu"_s}).out)) == expected; }, 20s);
        return menu;
    };
    const QString menu =
        u" | Open Control Panel [Control+O] | Show Pairing PIN\u2026 | - | Quit Harbly [Control+Q]"_s;
    const QString hidden = u"Update available\u2026 (hidden) |  (hidden) | - (hidden)"_s + menu;
    EXPECT_EQ(menuWhen(hidden), hidden);
    shell.scheduleUpdateChecks(); // at once, then daily
    const auto timers = shell.findChildren<QTimer*>();
    EXPECT_TRUE(std::any_of(timers.begin(), timers.end(), [](const QTimer* t) {
        return t->isActive() && !t->isSingleShot() && t->intervalAsDuration() == 24h;
    }));
    ASSERT_TRUE(waitFor([&] { return server.requests().size() == 1; }));
    server.setAnswer(manifest(R"({"version":"3.0&1","url":"https://e/30","notes":"Faster pairing"})"));
    shell.runUpdateCheck();
    const QString announced = u"Update available \u2014 3.0&1 \u2192 | Faster pairing | -"_s + menu;
    EXPECT_EQ(menuWhen(announced), announced) << "the version shown as written, never as a mnemonic";
    server.setAnswer(manifest(R"({"version":"3.1","url":"https://e/3"})"));
    shell.runUpdateCheck();
    const QString newer = u"Update available \u2014 3.1 \u2192"_s;
    const QString notesGone = newer + u" |  (hidden) | -"_s + menu; // no stale notes
    EXPECT_EQ(menuWhen(notesGone), notesGone);
    ASSERT_EQ(tray({u"click"_s, newer}).exitCode, 0);
    ASSERT_TRUE(waitFor([&] { return !opened.isEmpty(); }));
    EXPECT_EQ(opened, QList<QUrl>{QUrl(u"https://e/3"_s)});
#ifdef HB_HAVE_WEBENGINE // without it the panel opens in the browser, as the tray-host test checks
    opened.clear();
    ASSERT_EQ(tray({u"click"_s, u"Open Control Panel"_s}).exitCode, 0);
    ASSERT_TRUE(waitFor([&] { return shell.window() && shell.window()->isVisible(); }, 20s));
    auto* panel = qobject_cast<hb::app::ControlPanelWindow*>(shell.window());
    const auto runInPage = [panel](const QString& script) {
        std::optional<QString> result;
        panel->view()->page()->runJavaScript(script,
                                             [&](const QVariant& value) { result = value.toString(); });
        waitFor([&] { return result.has_value(); }, 10s);
        return result.value_or(QString());
    };
    const QUrl admin(u"http://127.0.0.1:%1/admin"_s.arg(port));
    EXPECT_TRUE(waitFor(
        [&] {
            return runInPage(u"document.querySelector('#pin')?.textContent"_s) == agent.store().pinValue();
        },
        30s))
        << "the panel shows the PIN: the page is trusted as local";
    // Closed, then asked for again by the page's own endpoint: the same window comes back.
    panel->close();
    EXPECT_EQ(httpRequest(port, "POST", "/api/open-admin").status, 200);
    ASSERT_TRUE(waitFor([&] { return panel->isVisible(); }, 10s));
    EXPECT_EQ(shell.window(), panel);

    // Other sites go to the browser; same host on another port and other schemes go nowhere.
    runInPage(u"window.open('https://example.com/popup')"_s);
    ASSERT_TRUE(waitFor([&] { return !opened.isEmpty(); }, 10s));
    EXPECT_EQ(opened.takeFirst(), QUrl(u"https://example.com/popup"_s));
    runInPage(u"location.href = 'file:///etc/passwd'"_s);
    runInPage(u"location.href = 'http://127.0.0.1:9/admin'"_s);
    runInPage(u"location.href = '/admin?again'"_s);
    ASSERT_TRUE(waitFor([&] { return panel->view()->url().query() == u"again"; }, 10s));
    EXPECT_EQ(opened, QList<QUrl>{QUrl(u"http://127.0.0.1:9/admin"_s)});
    EXPECT_EQ(panel->view()->url().adjusted(QUrl::RemoveQuery), admin);
#endif
}

// Catches: on a desktop without a tray host the agent shows nothing at all (a start from the menu,
// or the first run even at login, must open the Control Panel; the first time it says how to get
// the icon).
TEST(TrayHost, WithoutOneAStartFromTheMenuOpensThePanel) {
    QTemporaryDir dir;
    FakeService notifications(u"notifications"_s);
    ASSERT_TRUE(notifications.ready());
    const struct {
        const char* name;
        bool firstRun, atLogin, panel;
    } rows[] = {
        {"first start, at login", true, true, true},
        {"at login", false, true, false},
        {"again from the menu", false, false, true},
    };
    for (const auto& row : rows) {
        row.atLogin ? qputenv("DESKTOP_AUTOSTART_ID", "login") : qunsetenv("DESKTOP_AUTOSTART_ID");
        QList<QUrl> opened;
        hb::app::ShellDeps deps;
        deps.port = [] { return quint16(9000); };
        deps.isFirstRun = [&row] { return row.firstRun; };
        deps.openURL = [&opened](const QUrl& url) { return opened.append(url), true; };
        deps.trayHostPresent = [] { return false; };
        deps.noTrayNoticeMarker = dir.filePath(u"noticed"_s);
        qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");               // the panel goes to openURL
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu"); // as root, no sandbox: no embedded panel
        AppDelegate shell(deps);
        shell.applicationDidFinishLaunching();
        EXPECT_EQ(shell.statusItem(), nullptr) << row.name;
        EXPECT_EQ(opened.contains(AppDelegate::panelUrl(9000)), row.panel) << row.name;
        EXPECT_EQ(notifications.calls().size(), 1) << row.name;
    }
}
