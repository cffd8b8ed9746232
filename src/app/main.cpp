// harbly: drive this desktop from a phone. A tray agent, or headless without a display.
#include "actions/Actions.h"
#include "app/Agent.h"
#include "app/AppDelegate.h"
#include "app/Headless.h"
#include "app/LoginItem.h"
#include "app/SingleInstance.h"
#include "core/Env.h"
#include "core/Paths.h"
#include "core/Version.h"
#include "server/Server.h"
#include "store/Store.h"

#include <QApplication>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

/// SIGINT and SIGTERM end the event loop, so that the agent shuts down in order.
void quitOnSignals(QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

/// Every connection is a descriptor: allow as many as the system lets us.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void printHelp() {
    std::printf("Usage: harbly [-h | --help | --version]\n"
                "\n"
                "Drive this desktop from a phone: launch applications, open addresses, run your\n"
                "shortcuts, fire gestures, control media and volume, type text.\n"
                "\n"
                "Harbly shows a tray icon whose menu opens the Control Panel (also at\n"
                "http://127.0.0.1:8788/admin) and the pairing PIN. Without a display it runs\n"
                "headless and prints the address, the PIN and a pairing QR code in the terminal.\n"
                "Phones open http://<this computer's address>:8788/ on the same network.\n"
                "\n"
                "Environment:\n"
                "  HB_PORT             port to listen on (default 8788)\n"
                "  HB_SUPPORT          folder for state.json and config.json\n"
                "                      (default $XDG_CONFIG_HOME/harbly)\n"
                "  HB_RESOURCES        folder holding the pages (default ../share/harbly beside\n"
                "                      the executable)\n"
                "  HB_RELAY_URL        relay service base address\n"
                "  HB_UPDATE_URL       update manifest address\n"
                "  ANTHROPIC_API_KEY   enables planning a sentence into steps\n"
                "  ANTHROPIC_BASE_URL  Messages API base (default https://api.anthropic.com)\n"
                "\n"
                "See harbly(1) for more.\n");
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("harbly %s\n", qPrintable(hb::currentVersion()));
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printHelp();
            return 0;
        }
        std::fprintf(stderr, "harbly: unknown option '%s'\nTry 'harbly --help'.\n", argv[i]);
        return 2;
    }
    raiseDescriptorLimit();
    ::signal(SIGPIPE, SIG_IGN);

    const bool headless = !hasDisplay();
    std::unique_ptr<QCoreApplication> app;
    if (headless) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        auto gui = std::make_unique<QApplication>(argc, argv);
        gui->setQuitOnLastWindowClosed(false); // a tray agent has no main window
        app = std::move(gui);
    }
    QCoreApplication::setApplicationName(QStringLiteral("harbly"));
    QCoreApplication::setApplicationVersion(hb::currentVersion());
    quitOnSignals(*app);

    // One agent per session: a second start hands over to the running one and ends.
    hb::app::SingleInstance instance(hb::paths::supportDir(), hb::env::portFromEnvironment());
    if (!instance.claim(headless))
        return 0;

    hb::app::Agent agent;
    instance.setListeningPort([&agent] { return agent.server().listeningPort(); });
    std::unique_ptr<hb::app::HeadlessPresenter> presenter;
    if (headless) {
        presenter = std::make_unique<hb::app::HeadlessPresenter>(
            agent.store(), agent.platform().host, [&agent] { return agent.server().listeningPort(); });
        // Connected before the server starts: a bind that succeeds at once must not be missed.
        QObject::connect(
            &agent.server(), &hb::server::Server::listening, presenter.get(),
            [&presenter] { presenter->start(); }, Qt::QueuedConnection);
    }
    agent.start();

    std::unique_ptr<hb::app::AppDelegate> delegate;
    if (!headless) {
        hb::app::ShellDeps deps;
        deps.port = [&agent] {
            const quint16 bound = agent.server().listeningPort();
            return bound ? bound : agent.server().port();
        };
        deps.pinValue = [&agent] { return agent.store().pinValue(); };
        deps.isFirstRun = [&agent] { return agent.store().isFirstRun(); };
        deps.executablePath = QCoreApplication::applicationFilePath();
        deps.openURL = [&agent](const QUrl& url) { return agent.platform().apps.openURL(url.toString()); };
        deps.noTrayNoticeMarker = hb::paths::supportDir() + QStringLiteral("/no-tray-noticed");
        delegate = std::make_unique<hb::app::AppDelegate>(deps);
        agent.setOpenAdmin([&delegate] { delegate->showPanel(); });
        instance.setActivate([&delegate] { delegate->showPanel(); });
        agent.setLoginItemHooks(hb::app::loginItemEnabled, [exe = deps.executablePath](bool enabled) {
            return hb::app::switchLoginItem(enabled, exe);
        });
        delegate->applicationDidFinishLaunching();
    }

    const int status = app->exec();
    agent.stop();
    return status;
}
