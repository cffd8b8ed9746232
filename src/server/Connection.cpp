#include "server/Connection.h"

#include "core/HandOff.h"
#include "server/IoWorker.h"
#include "server/ResponderState.h"
#include "server/Response.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QThread>
#include <algorithm>
#include <sys/socket.h>

namespace hb::server {
namespace {

constexpr qsizetype kReadChunk = 256 * 1024;
/// How long a written answer waits for the peer to close before the connection is dropped.
constexpr std::chrono::milliseconds kLinger{2000};
constexpr int kStreamSendBuffer = 4096;

QByteArray plainAnswer(int status, QByteArrayView text) {
    return responseBytes(status, "text/plain", text);
}

} // namespace

void ConnectionHandle::post(std::function<void(Connection*)> work) {
    if (QThread::currentThread() == thread) {
        // Answered on the connection's own thread: no hop. Shutdown closes the connections on
        // this same thread, so `connection` is current here.
        if (connection)
            work(connection);
        return;
    }
    std::lock_guard lock(liveness->mutex);
    if (!liveness->alive)
        return;
    postTo(worker, [self = shared_from_this(), work = std::move(work)] {
        if (self->connection)
            work(self->connection);
    });
}

Connection::Connection(IoWorker& worker, QTcpSocket* socket)
    : QObject(&worker), worker_(worker), socket_(socket), timer_(new QTimer(this)),
      reader_(worker.shared().options.limits.maxHeaderBytes, worker.shared().options.limits.maxBodyBytes),
      handle_(std::make_shared<ConnectionHandle>()) {
    socket_->setParent(this);
    handle_->liveness = worker.shared().liveness;
    handle_->worker = &worker;
    handle_->thread = worker.thread();
    handle_->connection = this;
    timer_->setSingleShot(true);
}

Connection::~Connection() {
    handle_->connection = nullptr;
}

void Connection::start() {
    lastActivity_ = QDateTime::currentMSecsSinceEpoch();
    socket_->setReadBufferSize(kReadChunk);
    connect(socket_, &QTcpSocket::readyRead, this, &Connection::onReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &Connection::finish);
    connect(socket_, &QTcpSocket::errorOccurred, this, [this] {
        if (phase_ != Phase::Writing)
            finish();
    });
    connect(timer_, &QTimer::timeout, this, &Connection::onTimeout);
    timer_->start(worker_.shared().options.limits.headerTimeout);
    if (socket_->bytesAvailable() > 0)
        onReadyRead();
}

void Connection::onReadyRead() {
    if (phase_ != Phase::Reading)
        return;
    while (phase_ == Phase::Reading && socket_->bytesAvailable() > 0) {
        const QByteArray chunk = socket_->read(kReadChunk);
        if (chunk.isEmpty())
            break;
        const bool hadHeader = reader_.headerComplete();
        const auto state = reader_.feed(chunk);
        lastActivity_ = QDateTime::currentMSecsSinceEpoch();
        handleReaderState(state, hadHeader);
    }
}

void Connection::handleReaderState(RequestReader::State state, bool hadHeader) {
    const Limits& limits = worker_.shared().options.limits;
    switch (state) {
    case RequestReader::State::Incomplete:
        // The header deadline runs from accept; once the header is in, the body may idle.
        if (reader_.headerComplete() || hadHeader)
            timer_->start(limits.bodyIdleTimeout);
        return;
    case RequestReader::State::HeaderTooLarge:
        writeAndClose(plainAnswer(431, "request header too large"));
        return;
    case RequestReader::State::BodyTooLarge:
        writeAndClose(plainAnswer(413, "request body too large"));
        return;
    case RequestReader::State::BadLength:
        writeAndClose(plainAnswer(400, "bad content length"));
        return;
    case RequestReader::State::Complete:
        dispatch();
        return;
    }
}

void Connection::dispatch() {
    phase_ = Phase::Routing;
    timer_->stop();
    // Nothing more is read: the kernel buffer fills and the peer is flow-controlled.
    socket_->setReadBufferSize(1);
    disconnect(socket_, &QTcpSocket::readyRead, this, &Connection::onReadyRead);

    Request request = reader_.request();
    request.peerAddress = socket_->peerAddress();
    request.peerPort = socket_->peerPort();
    request.localAddress = socket_->localAddress();
    request.localPort = socket_->localPort();
    request.isLocal = isLoopbackPeer(request.peerAddress);

    ServerShared& shared = worker_.shared();
    auto state = std::make_shared<detail::ResponderState>(handle_, &shared);
    Responder responder(std::move(state));
    if (shared.options.handler && shared.options.answersAtOnce && shared.options.answersAtOnce(request)) {
        shared.options.handler(request, std::move(responder));
        return;
    }
    runInPool(shared.pool, [&shared, request = std::move(request), responder]() mutable {
        if (shared.options.handler)
            shared.options.handler(request, std::move(responder));
        else
            responder.json(QJsonObject{{QStringLiteral("ok"), false}}, 404);
    });
}

void Connection::writeAndClose(const QByteArray& bytes) {
    if (phase_ == Phase::Closed || phase_ == Phase::Writing)
        return;
    // A request read to its exact end is closed as soon as the answer is out. Otherwise
    // unread request bytes would make the close a reset that can destroy the answer in
    // flight: keep reading and discarding them until the peer has the answer and closes.
    closeAtOnce_ = phase_ == Phase::Routing && reader_.endedCleanly();
    phase_ = Phase::Writing;
    disconnect(socket_, &QTcpSocket::readyRead, this, nullptr);
    socket_->setReadBufferSize(kReadChunk);
    connect(socket_, &QTcpSocket::readyRead, this, [this] { socket_->skip(socket_->bytesAvailable()); });
    socket_->write(bytes);
    // Most answers fit the send buffer: written now rather than on the loop's next turn.
    socket_->flush();
    if (phase_ != Phase::Writing)
        return; // the peer was gone
    socket_->skip(socket_->bytesAvailable());
    if (socket_->bytesToWrite() == 0) {
        answerWritten();
        return;
    }
    // A reader that keeps taking bytes keeps its time; one that stalls, or takes too long in
    // all, loses the connection.
    writeClock_.start();
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (socket_->bytesToWrite() == 0)
            answerWritten();
        else
            armWriteDeadline();
    });
    armWriteDeadline();
}

void Connection::armWriteDeadline() {
    const Limits& limits = worker_.shared().options.limits;
    const auto left = limits.writeCeiling - std::chrono::milliseconds(writeClock_.elapsed());
    timer_->start(std::clamp(left, std::chrono::milliseconds::zero(), limits.writeTimeout));
}

void Connection::answerWritten() {
    if (phase_ != Phase::Writing)
        return;
    if (closeAtOnce_ && socket_->bytesAvailable() == 0) {
        finish(); // the kernel still delivers what it holds, then the FIN
        return;
    }
    ::shutdown(int(socket_->socketDescriptor()), SHUT_WR);
    timer_->start(kLinger);
}

void Connection::becomeStream() {
    if (phase_ != Phase::Routing)
        return;
    if (!worker_.registerStream(this)) {
        writeAndClose(plainAnswer(503, "too many event streams"));
        return;
    }
    phase_ = Phase::Stream;
    timer_->stop();
    // A small send buffer lets a peer that stopped reading show up as a growing backlog.
    const int sendBuffer = kStreamSendBuffer;
    ::setsockopt(int(socket_->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    socket_->write(eventStreamHead() + sseChunk(kGreetingEvent));
}

void Connection::sendChunk(const QByteArray& chunk) {
    if (phase_ != Phase::Stream)
        return;
    if (socket_->bytesToWrite() > worker_.shared().options.limits.maxStreamBacklog) {
        abort(); // the peer stopped reading
        return;
    }
    socket_->write(chunk);
}

void Connection::abort() {
    if (phase_ == Phase::Closed)
        return;
    socket_->abort();
    finish();
}

void Connection::onTimeout() {
    abort();
}

void Connection::finish() {
    if (phase_ == Phase::Closed)
        return;
    phase_ = Phase::Closed;
    timer_->stop();
    handle_->connection = nullptr;
    worker_.forget(this);
    if (socket_->state() != QAbstractSocket::UnconnectedState)
        socket_->abort();
    deleteLater();
}

} // namespace hb::server
