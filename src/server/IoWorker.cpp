#include "server/IoWorker.h"

#include "server/Connection.h"

#include <QTcpSocket>
#include <unistd.h>

namespace hb::server {

IoWorker::IoWorker(ServerShared& shared, int capacity)
    : shared_(shared), capacity_(capacity), keepAlive_(new QTimer(this)) {
    connect(keepAlive_, &QTimer::timeout, this, [this] { broadcast(sseChunk(kKeepAliveEvent)); });
    keepAlive_->start(shared_.options.keepAliveInterval);
}

void IoWorker::adopt(qintptr descriptor) {
    if (connections_.size() >= capacity_)
        evictOldestReader();
    if (connections_.size() >= capacity_) {
        ::close(int(descriptor)); // every slot holds a request in progress or a stream
        return;
    }
    auto* socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        ::close(int(descriptor));
        return;
    }
    auto* connection = new Connection(*this, socket);
    connections_.append(connection);
    shared_.connections.fetch_add(1);
    connection->start();
}

void IoWorker::evictOldestReader() {
    Connection* oldest = nullptr;
    for (Connection* connection : std::as_const(connections_)) {
        if (connection->phase() == Connection::Phase::Reading &&
            (!oldest || connection->lastActivity() < oldest->lastActivity()))
            oldest = connection;
    }
    if (oldest)
        oldest->abort();
}

void IoWorker::broadcast(const QByteArray& chunk) {
    // Sending may drop a stream, which edits the list: iterate over a copy.
    const QList<Connection*> streams = streams_;
    for (Connection* stream : streams)
        stream->sendChunk(chunk);
}

void IoWorker::closeAll() {
    const QList<Connection*> connections = connections_;
    for (Connection* connection : connections)
        connection->abort();
    keepAlive_->stop();
}

bool IoWorker::registerStream(Connection* connection) {
    int open = shared_.streams.load();
    do {
        if (open >= shared_.options.limits.maxEventStreams)
            return false;
    } while (!shared_.streams.compare_exchange_weak(open, open + 1));
    streams_.append(connection);
    return true;
}

void IoWorker::forget(Connection* connection) {
    if (connections_.removeOne(connection))
        shared_.connections.fetch_sub(1);
    if (streams_.removeOne(connection))
        shared_.streams.fetch_sub(1);
}

} // namespace hb::server
