#include "app/SingleInstance.h"

#include "core/Log.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QThread>
#include <cstdio>

namespace hb::app {
namespace {

const QString kObjectPath = QStringLiteral("/io/github/harbly/Agent");
const QString kInterface = QStringLiteral("io.github.harbly.Agent1");
/// A second start ends within a second, whatever the running agent does.
constexpr int kHandOverMs = 800;
constexpr int kClaimAttempts = 3;
constexpr std::chrono::milliseconds kClaimPause{100};

void say(const QString& text) {
    std::printf("harbly: %s\n", qPrintable(text));
    std::fflush(stdout);
}

void sayHandedOver(bool headless, quint16 port) {
    if (headless)
        say(QStringLiteral("already running on port %1 (Control Panel: http://127.0.0.1:%1/admin)")
                .arg(port));
    else
        say(QStringLiteral("already running; showing its Control Panel"));
}

/// The JSON body of one answer from the local API, or an empty object.
QJsonObject askLocalApi(quint16 port, const QByteArray& request) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    const QDeadlineTimer deadline(kHandOverMs);
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return {};
    socket.write(request);
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState &&
           socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    answer += socket.readAll();
    return QJsonDocument::fromJson(answer.mid(answer.indexOf("\r\n\r\n") + 4)).object();
}

} // namespace

SingleInstance::SingleInstance(const QString& supportDir, quint16 port, QObject* parent)
    : QObject(parent), supportDir_(supportDir), port_(port) {}

QString SingleInstance::busName(const QString& supportDir) {
    const QByteArray folder = QFile::encodeName(QDir(supportDir).absolutePath());
    return QStringLiteral("io.github.harbly.Agent.f") +
           QString::fromLatin1(QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(16));
}

bool SingleInstance::claim(bool headless) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return !handOverThroughApi(headless);
    // The object first: a call that arrives as soon as the name is ours must find it.
    bus.registerObject(kObjectPath, this, QDBusConnection::ExportScriptableSlots);
    const QString name = busName(supportDir_);
    // An owner that does not answer is one that just ended (the bus has yet to drop its name).
    for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
        if (bus.registerService(name) || !bus.interface()->isServiceRegistered(name))
            return true; // ours, or a bus that refuses names: run all the same
        if (handOverOnBus(headless)) {
            bus.unregisterObject(kObjectPath);
            return false;
        }
        QThread::msleep(kClaimPause.count());
    }
    return true;
}

bool SingleInstance::handOverOnBus(bool headless) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusMessage reply = bus.call(
        QDBusMessage::createMethodCall(busName(supportDir_), kObjectPath, kInterface,
                                       headless ? QStringLiteral("Port") : QStringLiteral("Activate")),
        QDBus::Block, kHandOverMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return false;
    sayHandedOver(headless, headless && !reply.arguments().isEmpty()
                                ? quint16(reply.arguments().constFirst().toUInt())
                                : port_);
    return true;
}

bool SingleInstance::handOverThroughApi(bool headless) {
    if (port_ == 0)
        return false;
    const QByteArray request = headless
                                   ? QByteArrayLiteral("GET /api/admin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                                   : QByteArrayLiteral("POST /api/open-admin HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                                       "Content-Length: 0\r\n\r\n");
    // Only an agent of ours answers {"ok": true} there; anything else on the port is left to
    // the listener's own retries.
    if (askLocalApi(port_, request).value(QStringLiteral("ok")) != QJsonValue(true))
        return false;
    sayHandedOver(headless, port_);
    return true;
}

void SingleInstance::Activate() {
    qCInfo(lcHarbly, "another start asked for the Control Panel");
    if (activate_)
        activate_();
}

uint SingleInstance::Port() {
    const quint16 bound = listeningPort_ ? listeningPort_() : 0;
    return bound ? bound : port_; // still binding: the port it was asked for
}

} // namespace hb::app
