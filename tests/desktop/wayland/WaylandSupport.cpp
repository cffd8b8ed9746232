#include "WaylandSupport.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <atomic>

namespace hb::test {

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(15);

QStringList x11Sockets() {
    return QDir(QStringLiteral("/tmp/.X11-unix")).entryList({QStringLiteral("X*")}, QDir::System);
}

/// A free loopback port below the kernel's ephemeral range: busy clients elsewhere on the
/// machine take ports from that range for their own connections, between our check and bind.
quint16 portOutsideEphemeralRange() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto port = quint16(20000 + QRandomGenerator::global()->bounded(12000));
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, port))
            return port;
    }
    return freePort();
}

} // namespace

bool inPrivateDesktop() {
    return !qEnvironmentVariableIsEmpty("HB_TEST_DESKTOP");
}

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

AgentInSession::AgentInSession(const QProcessEnvironment& session) {
    // Paired while headless: a first run in a session would open the Control Panel window.
    QProcessEnvironment headless = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
        headless.remove(QString::fromLatin1(name));
    if (!start(headless))
        return;
    QFile state(support_.filePath(QStringLiteral("state.json")));
    state.open(QIODevice::ReadOnly);
    const QString pin =
        QJsonDocument::fromJson(state.readAll()).object().value(QStringLiteral("pin")).toString();
    const QString token =
        post("/api/pair", {{QStringLiteral("pin"), pin}}).value(QStringLiteral("token")).toString();
    process_.kill();
    process_.waitForFinished();
    if (start(session))
        token_ = token;
}

AgentInSession::~AgentInSession() {
    process_.kill();
    process_.waitForFinished();
}

bool AgentInSession::start(const QProcessEnvironment& environment) {
    port_ = portOutsideEphemeralRange();
    QProcessEnvironment agent = environment;
    agent.insert(QStringLiteral("HB_SUPPORT"), support_.path());
    agent.insert(QStringLiteral("HB_PORT"), QString::number(port_));
    agent.insert(QStringLiteral("HB_RESOURCES"), QStringLiteral(HB_RESOURCES_DIR));
    process_.setProcessEnvironment(agent);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
    process_.start(QStringLiteral(HB_BIN_DIR "/harbly"), QStringList());
    return waitFor(
        [&] {
            return rawRequest(port_, "OPTIONS / HTTP/1.1\r\n\r\n", std::chrono::milliseconds(200)).status ==
                   204;
        },
        kStartTimeout);
}

QJsonObject AgentInSession::post(const QByteArray& path, const QJsonObject& body) {
    QHash<QByteArray, QByteArray> headers;
    if (!token_.isEmpty())
        headers.insert("x-hb-token", token_.toUtf8());
    return httpRequest(port_, "POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact), headers)
        .json();
}

Fake::Fake(const QString& script, const QStringList& arguments) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(
        QStringLiteral("/usr/bin/python3"),
        QStringList{QStringLiteral(HB_TEST_FAKES_DIR "/") + script, dir_.filePath(QStringLiteral("calls"))} +
            arguments);
    ready_ = waitFor([this] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; },
                     kStartTimeout) &&
             process_.readLine().trimmed() == "READY";
}

Fake::~Fake() {
    process_.kill();
    process_.waitForFinished();
}

QList<QJsonObject> Fake::calls(const QString& member) const {
    QFile file(dir_.filePath(QStringLiteral("calls")));
    QList<QJsonObject> result;
    file.open(QIODevice::ReadOnly);
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QJsonObject call = QJsonDocument::fromJson(line).object();
        if (call.value(QStringLiteral("member")).toString() == member)
            result.append(call);
    }
    return result;
}

} // namespace hb::test
