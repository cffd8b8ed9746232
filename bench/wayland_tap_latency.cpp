// Tap to key event on a Wayland session: a token-gated request, from its first byte to the
// answer, against the real server, router and store driving the real desktop actions inside a
// headless GNOME compositor (mutter) that this program starts. The endpoint answers once Mutter
// has replied to every key event of the session (it has taken them into its seat), so each
// figure bounds the time from the first byte to the key events. Run it inside the private test
// desktop only:
//   tests/desktop.sh build/bench/wayland_tap_latency
#include "DesktopAgent.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <cstdio>

namespace {

constexpr int kWarmup = 50;
constexpr int kRounds = 1000;

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (!hb::bench::onTestDesktop())
        return 2;
    const QString display = QStringLiteral("hb-bench-%1").arg(QCoreApplication::applicationPid());
    QProcess mutter;
    mutter.setStandardOutputFile(QProcess::nullDevice());
    mutter.setStandardErrorFile(QProcess::nullDevice());
    mutter.start(QStringLiteral("/usr/bin/mutter"),
                 {QStringLiteral("--headless"), QStringLiteral("--wayland"), QStringLiteral("--no-x11"),
                  QStringLiteral("--wayland-display=") + display, QStringLiteral("--virtual-monitor"),
                  QStringLiteral("1024x768")});
    const QString socket = qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + display;
    if (!hb::test::waitFor([&] { return QFile::exists(socket); }, std::chrono::seconds(15))) {
        std::fprintf(stderr, "mutter did not start\n");
        return 1;
    }
    qputenv("WAYLAND_DISPLAY", display.toUtf8());
    qputenv("XDG_SESSION_TYPE", "wayland");
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    qunsetenv("DISPLAY");

    hb::bench::DesktopAgent desktop;
    struct Row {
        const char* name;
        QByteArray path;
        QByteArray body;
    };
    const Row rows[] = {
        {"gesture minimize (Super+H)", "/api/gesture", R"({"value":"minimize"})"},
        {"type \"a\"", "/api/type", R"({"text":"a"})"},
    };
    int failures = 0;
    std::printf("Mutter's remote-desktop session, %d sequential taps each, new connection per tap\n",
                kRounds);
    std::printf("%-28s %10s %10s %10s\n", "request", "p50 (ms)", "p99 (ms)", "max (ms)");
    for (const Row& row : rows) {
        const auto body = [&row](int) { return row.body; };
        hb::bench::timedPosts(desktop.agent.port(), row.path, desktop.token, kWarmup, &failures, body);
        const auto times =
            hb::bench::timedPosts(desktop.agent.port(), row.path, desktop.token, kRounds, &failures, body);
        std::printf("%-28s %10.3f %10.3f %10.3f\n", row.name, hb::bench::percentile(times, 0.5),
                    hb::bench::percentile(times, 0.99), hb::bench::percentile(times, 1.0));
    }
    std::printf("failed taps: %d\n", failures);
    mutter.terminate();
    mutter.waitForFinished(5000);
    return failures ? 1 : 0;
}
