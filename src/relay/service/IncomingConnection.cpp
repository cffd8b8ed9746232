#include "relay/service/IncomingConnection.h"

#include <QTcpSocket>

namespace hb::relay::service {
namespace {

constexpr QByteArrayView kHeadEnd = "\r\n\r\n";

} // namespace

IncomingConnection::IncomingConnection(QTcpSocket* socket, const ServiceOptions& options)
    : QObject(socket), socket_(socket), options_(options) {
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
    head_ = parseHead(QByteArrayView(data).first(end), options_.maxBodyBytes);
    if (head_.error != 0)
        return refuse(head_.error);
    if (head_.isWebSocketUpgrade()) {
        stage_ = Stage::Done;
        deadline_.stop();
        disconnect(socket_, nullptr, this, nullptr);
        Q_EMIT upgradeRequested(socket_, head_);
        deleteLater();
        return;
    }
    socket_->skip(end + kHeadEnd.size());
    stage_ = Stage::Body;
    deadline_.start(options_.bodyIdleTimeout);
    if (head_.contentLength > 0 && head_.field("expect").toLower() == "100-continue")
        socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
}

void IncomingConnection::readBody() {
    const qint64 missing = head_.contentLength - body_.size();
    if (missing > 0 && socket_->bytesAvailable() > 0) {
        body_ += socket_->read(missing);
        deadline_.start(options_.bodyIdleTimeout);
    }
    if (body_.size() < head_.contentLength)
        return;
    stage_ = Stage::Done;
    deadline_.stop();
    disconnect(socket_, nullptr, this, nullptr);
    Q_EMIT requestReady(socket_, head_, body_);
}

void IncomingConnection::refuse(int status) {
    stage_ = Stage::Done;
    deadline_.stop();
    disconnect(socket_, nullptr, this, nullptr);
    answer(socket_, httpResponse(status, "text/plain; charset=utf-8", reasonPhrase(status)),
           options_.writeTimeout);
}

} // namespace hb::relay::service
