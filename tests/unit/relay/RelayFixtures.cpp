#include "RelayFixtures.h"

#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QTcpSocket>

namespace hb::test {

TestRelay::TestRelay() : server_(QStringLiteral("test-relay"), QWebSocketServer::NonSecureMode) {
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket* socket = server_.nextPendingConnection()) {
            auto link = std::make_unique<Link>();
            Link* raw = link.get();
            raw->socket = socket;
            raw->url = socket->requestUrl();
            connect(socket, &QWebSocket::textMessageReceived, this,
                    [raw](const QString& text) { raw->messages.append(text); });
            connect(socket, &QWebSocket::disconnected, this, [raw, socket] {
                raw->closed = true;
                raw->closeCode = int(socket->closeCode());
            });
            links_.push_back(std::move(link));
        }
    });
}

TestRelay::~TestRelay() {
    // The sockets outlive the records otherwise (they are the server's children).
    for (const auto& link : links_) {
        if (link->socket) {
            link->socket->disconnect(this);
            delete link->socket;
        }
    }
}

QString TestRelay::base() const {
    return QStringLiteral("ws://127.0.0.1:") + QString::number(server_.serverPort());
}

bool TestRelay::waitLinks(int count, std::chrono::milliseconds timeout) {
    return waitFor([&] { return linkCount() >= count; }, timeout);
}

void TestRelay::send(const QString& text) {
    latest().socket->sendTextMessage(text);
}

QList<QJsonObject> TestRelay::replies() const {
    QList<QJsonObject> all;
    for (const auto& link : links_) {
        for (const QString& text : link->messages)
            all.append(QJsonDocument::fromJson(text.toUtf8()).object());
    }
    return all;
}

QJsonObject TestRelay::waitReply(const QString& reqId, std::chrono::milliseconds timeout) {
    QJsonObject found;
    waitFor(
        [&] {
            for (const QJsonObject& reply : replies()) {
                if (reply.value(u"reqId").toString() == reqId) {
                    found = reply;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

QList<QByteArray> ReceivedRequest::values(const QByteArray& lowerName) const {
    QList<QByteArray> found;
    for (const auto& [name, value] : headers) {
        if (name == lowerName)
            found.append(value);
    }
    return found;
}

LocalHttp::LocalHttp() {
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

void LocalHttp::answer(int status, QByteArray contentType, QByteArray body, QByteArray extraHead) {
    status_ = status;
    contentType_ = std::move(contentType);
    body_ = std::move(body);
    extraHead_ = std::move(extraHead);
}

void LocalHttp::onData(QTcpSocket* socket) {
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", buffer);
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    ReceivedRequest request;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    const QList<QByteArray> first = lines.first().trimmed().split(' ');
    request.method = first.value(0);
    request.target = first.value(1);
    qsizetype length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        request.headers.append({name, value});
        if (name == "content-length")
            length = value.toLongLong();
    }
    if (buffer.size() < end + 4 + length)
        return;
    request.body = buffer.mid(end + 4, length);
    requests.append(request);
    socket->setProperty("buffer", QByteArray());
    if (silent_)
        return;
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status_) + " Answer\r\n";
    if (!contentType_.isNull())
        response += "Content-Type: " + contentType_ + "\r\n";
    if (keepOpen_) {
        socket->write(response + extraHead_ + "Connection: close\r\n\r\n" + body_);
        return;
    }
    response += extraHead_ + "Content-Length: " + QByteArray::number(body_.size()) +
                "\r\nConnection: close\r\n\r\n" + body_;
    socket->write(response);
    socket->disconnectFromHost();
}

} // namespace hb::test
