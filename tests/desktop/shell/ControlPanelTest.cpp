// The Control Panel window over a real agent (built with the web engine only; without it the
// panel opens in the browser, which the tray-host test checks).
#include "DesktopFakes.h"
#include "app/Agent.h"
#include "app/AppDelegate.h"
#include "app/ControlPanelWindow.h"
#include "server/Server.h"
#include "store/Store.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#ifdef HB_HAVE_WEBENGINE
#include <QWebEnginePage>
#include <QWebEngineView>
#endif

using namespace hb::app;
using hb::test::waitFor;
using namespace std::chrono_literals;

#ifdef HB_HAVE_WEBENGINE
// Catches: a second window per request, the page not trusted as local (no PIN shown), and the
// window following links to other sites, other ports or other schemes.
TEST(ControlPanel, OneWindowShowingTheAdminPageThatKeepsOtherSitesOut) {
    Agent agent;
    agent.start();
    ASSERT_TRUE(agent.server().waitUntilListening(10s));
    const quint16 port = agent.server().listeningPort();
    QList<QUrl> opened;
    ShellDeps deps;
    deps.port = [port] { return port; };
    deps.pinValue = [] { return QString(); };
    deps.isFirstRun = [] { return false; };
    deps.openURL = [&opened](const QUrl& url) { return opened.append(url), true; };
    AppDelegate shell(deps);
    agent.setOpenAdmin([&shell] { shell.showPanel(); });
    shell.setupMenuBar();
    ASSERT_TRUE(hb::test::trayClick(QStringLiteral("Open Control Panel")));
    ASSERT_TRUE(waitFor([&] { return shell.window() && shell.window()->isVisible(); }, 20s));
    auto* panel = qobject_cast<ControlPanelWindow*>(shell.window());
    const auto runInPage = [panel](const QString& script) {
        bool done = false;
        QString result;
        panel->view()->page()->runJavaScript(script, [&](const QVariant& value) {
            result = value.toString();
            done = true;
        });
        waitFor([&] { return done; }, 10s);
        return result;
    };
    const QUrl admin(QStringLiteral("http://127.0.0.1:%1/admin").arg(port));
    EXPECT_EQ(panel->address(), admin);
    QString shown;
    EXPECT_TRUE(waitFor(
        [&] {
            shown = runInPage(QStringLiteral(
                "document.querySelector('#pin') && document.querySelector('#pin').textContent"));
            return shown == agent.store().pinValue();
        },
        30s))
        << shown.toStdString();
    // Closed, then asked for again by the page's own endpoint: the same window comes back.
    panel->close();
    EXPECT_EQ(hb::test::httpRequest(port, "POST", "/api/open-admin").status, 200);
    ASSERT_TRUE(waitFor([&] { return panel->isVisible(); }, 10s));
    EXPECT_EQ(shell.window(), panel);

    // Other sites go to the browser; same host on another port and other schemes go nowhere.
    runInPage(QStringLiteral("window.open('https://example.com/popup')"));
    ASSERT_TRUE(waitFor([&] { return !opened.isEmpty(); }, 10s));
    EXPECT_EQ(opened.takeFirst(), QUrl(QStringLiteral("https://example.com/popup")));
    runInPage(QStringLiteral("location.href = 'file:///etc/passwd'"));
    runInPage(QStringLiteral("location.href = 'http://127.0.0.1:9/admin'"));
    runInPage(QStringLiteral("location.href = '/admin?again'"));
    ASSERT_TRUE(waitFor([&] { return panel->view()->url().query() == u"again"; }, 10s));
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1:9/admin"))});
    EXPECT_EQ(panel->view()->url().adjusted(QUrl::RemoveQuery), admin);
}
#endif
