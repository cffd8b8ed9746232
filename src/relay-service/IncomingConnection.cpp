#include "relay-service/IncomingConnection.h"

#include "server/Response.h"

#include <QTcpSocket>

namespace hb::relay::service {
namespace {

constexpr QByteArrayView kHeadEnd = "\r\n\r\n";
constexpr QByteArrayView kRelayHead =
    "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\n";

bool isWebSocketUpgrade(const server::Request& request) {
    return request.method == u"GET" && request.header(QStringLiteral("upgrade")).toLower() == u"websocket";
}

} // namespace

QByteArray relayResponse(int status, QByteArrayView contentType, QByteArrayView body,
                         QByteArrayView extraHead, bool withBody) {
    const QByteArray head = kRelayHead.toByteArray() + extraHead.toByteArray();
    QByteArray out = server::responseBytes(status, contentType, body, head);
    if (!withBody)
        out.chop(body.size());
    return out;
}

QByteArray statusResponse(int status) {
    return relayResponse(status, "text/plain; charset=utf-8", QByteArray(QByteArray::number(status) + '\n'));
}

IncomingConnection::IncomingConnection(QTcpSocket* socket, const ServiceOptions& options)
    : QObject(socket), socket_(socket), options_(options),
      reader_(options.maxHeaderBytes, options.maxBodyBytes) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, socket_, &QTcpSocket::abort);
    connect(socket_, &QTcpSocket::readyRead, this, &IncomingConnection::onReadyRead);
    deadline_.start(options_.headerTimeout);
    if (socket_->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &IncomingConnection::onReadyRead, Qt::QueuedConnection);
}

void IncomingConnection::answer(QTcpSocket* socket, const QByteArray& response,
                                std::chrono::milliseconds writeTimeout) {
    // A timer owned by the socket, so it dies with it.
    auto* drop = new QTimer(socket);
    drop->setSingleShot(true);
    QObject::connect(drop, &QTimer::timeout, socket, &QTcpSocket::abort);
    drop->start(writeTimeout);
    socket->write(response);
    socket->disconnectFromHost();
}

void IncomingConnection::onReadyRead() {
    if (stage_ == Stage::Head)
        readHead();
    if (stage_ == Stage::Body)
        readBody();
}

void IncomingConnection::readHead() {
    // Peek, do not read: an upgrade hands the untouched bytes to the WebSocket server.
    const QByteArray data = socket_->peek(options_.maxHeaderBytes + kHeadEnd.size());
    const qsizetype end = data.indexOf(kHeadEnd);
    if (end < 0) {
        if (data.size() > options_.maxHeaderBytes)
            refuse(431);
        return;
    }
    reader_.feed(QByteArrayView(data).first(end + kHeadEnd.size()));
    if (reader_.headerComplete() && reader_.state() != server::RequestReader::State::HeaderTooLarge &&
        isWebSocketUpgrade(reader_.request())) {
        finish();
        Q_EMIT upgradeRequested(socket_, reader_.request());
        // Gone at once: a link lives for days, and this object and its parsed head with it. (A
        // deferred delete of a child of the adopted socket was never carried out.) Until then it
        // hangs on whatever holds the socket now, so that it cannot outlive the service.
        setParent(socket_->parent());
        QTimer::singleShot(0, this, [this] { delete this; });
        return;
    }
    socket_->skip(end + kHeadEnd.size());
    stage_ = Stage::Body;
    deadline_.start(options_.bodyIdleTimeout);
    if (reader_.state() == server::RequestReader::State::Incomplete &&
        reader_.request().header(QStringLiteral("expect")).toLower() == u"100-continue")
        socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
}

void IncomingConnection::readBody() {
    using State = server::RequestReader::State;
    if (reader_.state() == State::Incomplete && socket_->bytesAvailable() > 0) {
        reader_.feed(socket_->readAll());
        deadline_.start(options_.bodyIdleTimeout);
    }
    switch (reader_.state()) {
    case State::Incomplete:
        return;
    case State::HeaderTooLarge:
        return refuse(431);
    case State::BodyTooLarge:
        return refuse(413);
    case State::BadLength:
        return refuse(400);
    case State::Complete:
        break;
    }
    // Bodies come with Content-Length only; a chunked one would be forwarded empty.
    if (reader_.request().hasHeader(QStringLiteral("transfer-encoding")))
        return refuse(501);
    finish();
    Q_EMIT requestReady(socket_, reader_.request());
}

void IncomingConnection::finish() {
    stage_ = Stage::Done;
    deadline_.stop();
    disconnect(socket_, nullptr, this, nullptr);
}

void IncomingConnection::refuse(int status) {
    finish();
    answer(socket_, statusResponse(status), options_.writeTimeout);
}

} // namespace hb::relay::service
