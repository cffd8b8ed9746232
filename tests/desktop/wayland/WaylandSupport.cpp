#include "WaylandSupport.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <atomic>

namespace hb::test {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(15);
constexpr const char* kSessionVariables[] = {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP",
                                             "DISPLAY", "QT_QPA_PLATFORM"};

void applySessionVariables(const QProcessEnvironment& from) {
    for (const char* name : kSessionVariables) {
        if (from.contains(QString::fromLatin1(name)))
            qputenv(name, from.value(QString::fromLatin1(name)).toUtf8());
        else
            qunsetenv(name);
    }
}

QStringList x11Sockets() {
    return QDir(QStringLiteral("/tmp/.X11-unix")).entryList({QStringLiteral("X*")}, QDir::System);
}

} // namespace

HeadlessMutter::HeadlessMutter(bool xwayland) : xwayland_(xwayland) {
    static std::atomic<int> counter{0};
    const QString name =
        QStringLiteral("hb-wayland-%1-%2").arg(QCoreApplication::applicationPid()).arg(++counter);
    const QStringList socketsBefore = x11Sockets();
    QStringList arguments{QStringLiteral("--headless"), QStringLiteral("--wayland"),
                          QStringLiteral("--wayland-display=") + name, QStringLiteral("--virtual-monitor"),
                          QStringLiteral("1024x768")};
    if (!xwayland)
        arguments << QStringLiteral("--no-x11");
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start(QStringLiteral("/usr/bin/mutter"), arguments);
    const QString socket = qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + name;
    if (!waitFor([&] { return QFile::exists(socket); }, kStartTimeout))
        return;
    waylandDisplay_ = name;
    if (!xwayland)
        return;
    // Xwayland's socket is the one that appeared since.
    waitFor(
        [&] {
            for (const QString& socketName : x11Sockets()) {
                if (!socketsBefore.contains(socketName))
                    x11Display_ = QLatin1Char(':') + socketName.mid(1);
            }
            return !x11Display_.isEmpty();
        },
        kStartTimeout);
    // Xwayland admits only clients with mutter's cookie, as in a real session (XAUTHORITY).
    const QDir runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
    waitFor([&] {
        const QStringList files =
            runtime.entryList({QStringLiteral(".mutter-Xwaylandauth.*")}, QDir::Files | QDir::Hidden);
        if (!files.isEmpty())
            xauthority_ = runtime.filePath(files.first());
        return !xauthority_.isEmpty();
    });
}

HeadlessMutter::~HeadlessMutter() {
    if (!left_.isEmpty())
        applySessionVariables(left_);
    process_.terminate();
    if (!process_.waitForFinished(5000))
        process_.kill();
}

QProcessEnvironment HeadlessMutter::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), waylandDisplay_);
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
    if (x11Display_.isEmpty())
        environment.remove(QStringLiteral("DISPLAY"));
    else
        environment.insert(QStringLiteral("DISPLAY"), x11Display_);
    if (!xauthority_.isEmpty())
        environment.insert(QStringLiteral("XAUTHORITY"), xauthority_);
    return environment;
}

void HeadlessMutter::enter() {
    left_ = QProcessEnvironment::systemEnvironment();
    applySessionVariables(environment());
}

} // namespace hb::test
