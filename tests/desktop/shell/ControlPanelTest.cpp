#include "ShellTestSupport.h"
#include "app/Agent.h"
#include "app/AppDelegate.h"
#include "app/ControlPanelWindow.h"
#include "server/Server.h"
#include "store/Store.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <gtest/gtest.h>
#ifdef HB_HAVE_WEBENGINE
#include <QWebEnginePage>
#include <QWebEngineView>
#endif

using namespace hb::app;
using namespace std::chrono_literals;

namespace {

#ifdef HB_HAVE_WEBENGINE

class ControlPanel : public ::testing::Test {
  protected:
    void SetUp() override {
        agent_.start();
        ASSERT_TRUE(agent_.server().waitUntilListening(10s));
        ShellDeps deps;
        deps.port = [this] { return agent_.server().listeningPort(); };
        deps.pinValue = [] { return QString(); };
        deps.isFirstRun = [] { return false; };
        deps.openURL = [this](const QUrl& url) {
            opened_.append(url);
            return true;
        };
        shell_ = std::make_unique<AppDelegate>(deps);
        agent_.setOpenAdmin([this] { shell_->showPanel(); });
    }
    void TearDown() override {
        shell_.reset();
        agent_.stop();
    }

    /// The window the shell opened, from the panel module.
    ControlPanelWindow* panelWindow() const { return qobject_cast<ControlPanelWindow*>(shell_->window()); }

    /// Runs `script` in the page and waits until the page has handled it.
    void runInPage(const QString& script, QString* result = nullptr) {
        bool done = false;
        panelWindow()->view()->page()->runJavaScript(script, [&done, result](const QVariant& value) {
            if (result)
                *result = value.toString();
            done = true;
        });
        hb::test::waitFor([&] { return done; }, 10s);
    }

    Agent agent_;
    std::unique_ptr<AppDelegate> shell_;
    QList<QUrl> opened_;
};

TEST_F(ControlPanel, OneWindowShowingTheAdminPageThatKeepsOtherSitesOut) {
    const quint16 port = agent_.server().listeningPort();
    shell_->setupMenuBar();
    ASSERT_TRUE(hb::test::trayClick(QStringLiteral("Open Control Panel")));
    ASSERT_TRUE(hb::test::waitFor([&] { return shell_->window() && shell_->window()->isVisible(); }, 20s));
    ControlPanelWindow* panel = panelWindow();
    const QUrl admin(QStringLiteral("http://127.0.0.1:%1/admin").arg(port));
    EXPECT_EQ(panel->address(), admin);
    // The page reached our API as a trusted local caller: it shows the PIN.
    QString shown;
    EXPECT_TRUE(hb::test::waitFor(
        [&] {
            runInPage(QStringLiteral(
                          "document.querySelector('#pin') && document.querySelector('#pin').textContent"),
                      &shown);
            return shown == agent_.store().pinValue();
        },
        30s))
        << shown.toStdString();
    // Closed, then asked for again by the page's own endpoint: the same window comes back.
    panel->close();
    EXPECT_EQ(hb::test::httpRequest(port, "POST", "/api/open-admin").status, 200);
    ASSERT_TRUE(hb::test::waitFor([&] { return panel->isVisible(); }, 10s));
    EXPECT_EQ(shell_->window(), panel);

    // Other sites go to the browser; same host on another port and other schemes go nowhere.
    runInPage(QStringLiteral("window.open('https://example.com/popup')"));
    ASSERT_TRUE(hb::test::waitFor([&] { return !opened_.isEmpty(); }, 10s));
    EXPECT_EQ(opened_.takeFirst(), QUrl(QStringLiteral("https://example.com/popup")));
    runInPage(QStringLiteral("location.href = 'file:///etc/passwd'"));
    runInPage(QStringLiteral("location.href = 'http://127.0.0.1:9/admin'"));
    runInPage(QStringLiteral("location.href = '/admin?again'"));
    ASSERT_TRUE(hb::test::waitFor([&] { return panel->view()->url().query() == u"again"; }, 10s));
    EXPECT_EQ(opened_, QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1:9/admin"))});
    EXPECT_EQ(panel->view()->url().adjusted(QUrl::RemoveQuery), admin);
}

#endif // HB_HAVE_WEBENGINE

} // namespace
