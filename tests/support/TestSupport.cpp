#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QThread>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hb::test {

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout.count())
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

QJsonObject RawResponse::json() const {
    return QJsonDocument::fromJson(body).object();
}

namespace {

int connectTo(quint16 port, const QHostAddress& to, const QHostAddress& from) {
    const bool v6 = to.protocol() == QAbstractSocket::IPv6Protocol;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (!from.isNull()) {
        if (v6) {
            sockaddr_in6 local{};
            local.sin6_family = AF_INET6;
            const Q_IPV6ADDR a = from.toIPv6Address();
            memcpy(&local.sin6_addr, &a, 16);
            ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        } else {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_addr.s_addr = htonl(from.toIPv4Address());
            ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        }
    }
    int rc = -1;
    if (v6) {
        sockaddr_in6 remote{};
        remote.sin6_family = AF_INET6;
        remote.sin6_port = htons(port);
        const Q_IPV6ADDR a = to.toIPv6Address();
        memcpy(&remote.sin6_addr, &a, 16);
        rc = ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    } else {
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(port);
        remote.sin_addr.s_addr = htonl(to.toIPv4Address());
        rc = ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    }
    if (rc != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void parseResponse(RawResponse& response) {
    const qsizetype end = response.raw.indexOf("\r\n\r\n");
    if (!response.raw.startsWith("HTTP/1.1 ") || end < 0)
        return;
    response.ok = true;
    response.head = response.raw.left(end);
    response.status = response.raw.mid(9, 3).toInt();
    const QList<QByteArray> lines = response.head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            response.headers.insert(QString::fromLatin1(line.left(colon)).toLower(),
                                    QString::fromUtf8(line.mid(colon + 1).trimmed()));
    }
    response.body = response.raw.mid(end + 4);
}

} // namespace

RawClient::RawClient(quint16 port, const QHostAddress& to, const QHostAddress& from)
    : fd_(connectTo(port, to, from)) {}

RawClient::~RawClient() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool RawClient::send(const QByteArray& bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        sent += n;
    }
    return true;
}

QByteArray RawClient::read(std::chrono::milliseconds timeout, qsizetype until) {
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    char buffer[65536];
    while (timer.elapsed() < timeout.count()) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(timeout.count() - timer.elapsed()));
        if (ready <= 0)
            break;
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        out.append(buffer, n);
        if (until > 0 && out.size() >= until)
            break;
    }
    return out;
}

bool RawClient::waitClosed(std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    char buffer[65536];
    while (timer.elapsed() < timeout.count()) {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(timeout.count() - timer.elapsed()));
        if (ready <= 0)
            return false;
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            return true;
        if (n < 0)
            return false;
    }
    return false;
}

RawResponse rawRequest(quint16 port, const QByteArray& bytes, std::chrono::milliseconds timeout,
                       const QHostAddress& to, const QHostAddress& from) {
    RawResponse response;
    RawClient client(port, to, from);
    if (!client.connected())
        return response;
    client.send(bytes);
    QElapsedTimer timer;
    timer.start();
    char buffer[65536];
    while (timer.elapsed() < timeout.count()) {
        pollfd p{client.fd(), POLLIN, 0};
        const int ready = ::poll(&p, 1, int(timeout.count() - timer.elapsed()));
        if (ready <= 0)
            break;
        const ssize_t n = ::recv(client.fd(), buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) {
            response.closed = true;
            break;
        }
        if (n < 0)
            break;
        response.raw.append(buffer, n);
    }
    parseResponse(response);
    return response;
}

RawResponse httpRequest(quint16 port, const QByteArray& method, const QByteArray& target,
                        const QByteArray& body, const QHash<QByteArray, QByteArray>& headers,
                        const QHostAddress& from) {
    QByteArray bytes = method + ' ' + target + " HTTP/1.1\r\n";
    if (!headers.contains("Host"))
        bytes += "Host: 127.0.0.1:" + QByteArray::number(port) + "\r\n";
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        bytes += it.key() + ": " + it.value() + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    const QHostAddress to = from.protocol() == QAbstractSocket::IPv6Protocol
                                ? QHostAddress::LocalHostIPv6
                                : QHostAddress(QHostAddress::LocalHost);
    return rawRequest(port, bytes, std::chrono::seconds(10), to, from);
}

long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

int openDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

quint16 freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

QString dataPath(const QString& relative) {
    return QStringLiteral(HB_TEST_DATA_DIR "/") + relative;
}

} // namespace hb::test
