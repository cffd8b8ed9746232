#include "support/TestSupport.h"

#include "core/HandOff.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

namespace {

/// A socket address for `address`:`port` (IPv4 or IPv6) in `storage`; returns its length.
socklen_t socketAddress(const QHostAddress& address, quint16 port, sockaddr_storage& storage) {
    storage = {};
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        memcpy(&a->sin6_addr, &bytes, 16);
        return sizeof *a;
    }
    auto* a = reinterpret_cast<sockaddr_in*>(&storage);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    a->sin_addr.s_addr = htonl(address.toIPv4Address());
    return sizeof *a;
}

int connectTo(quint16 port, const QHostAddress& to, const QHostAddress& from) {
    sockaddr_storage remote;
    const socklen_t length = socketAddress(to, port, remote);
    const int fd = ::socket(remote.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (!from.isNull()) {
        sockaddr_storage local;
        ::bind(fd, reinterpret_cast<sockaddr*>(&local), socketAddress(from, 0, local));
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&remote), length) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

/// Inserts the "Name: value" lines of `head` after the first into `headers`, names lower-cased.
template <typename Headers, typename Text>
void parseHeaders(const QByteArray& head, Headers& headers, Text text) {
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            headers.insert(text(lines[i].left(colon).trimmed().toLower()),
                           text(lines[i].mid(colon + 1).trimmed()));
    }
}

void parseResponse(RawResponse& response) {
    const qsizetype end = response.raw.indexOf("\r\n\r\n");
    if (!response.raw.startsWith("HTTP/1.1 ") || end < 0)
        return;
    response.status = response.raw.mid(9, 3).toInt();
    parseHeaders(response.raw.left(end), response.headers,
                 [](const QByteArray& b) { return QString::fromUtf8(b); });
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
    for (qsizetype sent = 0; sent < bytes.size();) {
        const ssize_t n = ::send(fd_, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR)
            return false;
        sent += n > 0 ? n : 0;
    }
    return true;
}

QByteArray RawClient::read(std::chrono::milliseconds timeout, qsizetype until) {
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    char buffer[65536];
    while (!closed_ && timer.elapsed() < timeout.count()) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(timeout.count() - timer.elapsed())) <= 0)
            break; // nothing within the time left
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            closed_ = true;
        if (n <= 0)
            break;
        out.append(buffer, n);
        if (until > 0 && out.size() >= until)
            break;
    }
    return out;
}

bool RawClient::waitClosed(std::chrono::milliseconds timeout) {
    read(timeout);
    return closed_;
}

RawResponse rawRequest(quint16 port, const QByteArray& bytes, std::chrono::milliseconds timeout,
                       const QHostAddress& to, const QHostAddress& from) {
    RawResponse response;
    RawClient client(port, to, from);
    if (client.connected() && client.send(bytes))
        response.raw = client.read(timeout, -1);
    response.closed = client.closed_;
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

Program::Program(const QStringList& command) {
    std::vector<QByteArray> arguments;
    for (const QString& argument : command)
        arguments.push_back(QFile::encodeName(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(pipe[1], STDOUT_FILENO);
        ::dup2(pipe[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipe[1]);
    out_ = pipe[0];
}

Program::~Program() {
    if (pid_ > 0) {
        ::kill(pid_t(pid_), SIGTERM);
        ::waitpid(pid_t(pid_), nullptr, 0);
    }
    if (out_ >= 0)
        ::close(out_);
}

int Program::wait(std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    char buffer[4096];
    while (out_ >= 0 && timer.elapsed() < timeout.count()) {
        pollfd p{out_, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            ::close(std::exchange(out_, -1));
            break;
        }
        output.append(buffer, n);
    }
    int status = 0;
    if (out_ >= 0 || pid_ <= 0 || ::waitpid(pid_t(std::exchange(pid_, -1)), &status, 0) <= 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct HttpServer::Impl {
    QThread thread;
    QObject* home = nullptr;
    QTcpServer* server = nullptr; // its sockets are its children
    quint16 port = 0;
    int holdUntil = 0;
    mutable QMutex mutex;
    Answer answer;
    QList<Request> requests;
    QList<QPair<QTcpSocket*, Reply>> held; // the server thread's only

    void accept() {
        while (QTcpSocket* socket = server->nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                *buffer += socket->readAll();
                if (readRequest(socket, *buffer))
                    QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
            });
        }
    }

    /// True once a whole request has been read and handled.
    bool readRequest(QTcpSocket* socket, const QByteArray& buffer) {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        Request request;
        const QList<QByteArray> start = buffer.left(buffer.indexOf('\n')).trimmed().split(' ');
        request.method = start.value(0);
        request.target = start.value(1);
        parseHeaders(buffer.left(end), request.headers, [](const QByteArray& b) { return b; });
        const qsizetype length = request.headers.value("content-length").toLongLong();
        if (buffer.size() < end + 4 + length)
            return false;
        request.body = buffer.mid(end + 4, length);
        Answer current;
        {
            QMutexLocker lock(&mutex);
            current = answer;
        }
        const Reply reply = current ? current(request) : Reply{};
        QMutexLocker lock(&mutex);
        held.append({socket, reply});
        requests.append(request);
        if (requests.size() >= holdUntil) {
            for (const auto& [waiting, reply] : std::exchange(held, {}))
                send(waiting, reply);
        }
        return true;
    }

    static void send(QTcpSocket* socket, const Reply& reply) {
        if (reply.never)
            return;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) +
                          " X\r\nContent-Type: " + reply.contentType + "\r\n" + reply.extraHead;
        if (!reply.stream)
            head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n";
        socket->write(head + "\r\n" + reply.body);
        if (!reply.stream)
            socket->disconnectFromHost();
    }
};

HttpServer::HttpServer(Answer answer, int holdUntil) : impl_(std::make_unique<Impl>()) {
    impl_->answer = std::move(answer);
    impl_->holdUntil = holdUntil;
    impl_->thread.start();
    impl_->home = new QObject;
    impl_->home->moveToThread(&impl_->thread);
    callOn(impl_->home, [this] {
        impl_->server = new QTcpServer(impl_->home);
        impl_->server->listen(QHostAddress::LocalHost, 0);
        impl_->port = impl_->server->serverPort();
        QObject::connect(impl_->server, &QTcpServer::newConnection, impl_->server,
                         [this] { impl_->accept(); });
    });
}

HttpServer::~HttpServer() {
    callOn(impl_->home, [this] { delete impl_->server; });
    impl_->thread.quit();
    impl_->thread.wait();
    delete impl_->home; // its thread has ended
}

quint16 HttpServer::port() const {
    return impl_->port;
}

QString HttpServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:") + QString::number(impl_->port) + path;
}

void HttpServer::setAnswer(Answer answer) {
    QMutexLocker lock(&impl_->mutex);
    impl_->answer = std::move(answer);
}

QList<HttpServer::Request> HttpServer::requests() const {
    QMutexLocker lock(&impl_->mutex);
    return impl_->requests;
}

HttpServer::Reply modelText(const QString& text, int status) {
    const QJsonObject block{{QStringLiteral("type"), QStringLiteral("text")}, {QStringLiteral("text"), text}};
    HttpServer::Reply reply;
    reply.status = status;
    reply.body = jsonBody({{QStringLiteral("type"), QStringLiteral("message")},
                           {QStringLiteral("content"), QJsonArray{block}}});
    return reply;
}

QByteArray jsonBody(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray field(const char* key, const QJsonValue& value) {
    return jsonBody(QJsonObject{{QString::fromLatin1(key), value}});
}

QByteArray field(const char* key, const char* text) {
    return field(key, QString::fromUtf8(text));
}

QJsonObject parsed(const char* json) {
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

int fileMode(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    struct ::stat info {};
    return ::stat(native.constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

int openDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace hb::test
