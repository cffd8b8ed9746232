#pragma once
// Internal to the server: the owner of the connections of one I/O thread.
#include "server/Server.h"
#include "server/StaticFiles.h"

#include <QList>
#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <atomic>
#include <memory>
#include <mutex>

namespace hb::server {

class Connection;

/// Cleared when the server stops, so that late answers are dropped instead of posted.
struct Liveness {
    std::mutex mutex;
    bool alive = true;
};

/// State shared by the I/O threads and the workers of one server.
struct ServerShared {
    explicit ServerShared(ServerOptions o) : options(std::move(o)), staticFiles(options.publicDir) {}
    ServerOptions options;
    StaticFileCache staticFiles;
    QThreadPool pool;
    std::shared_ptr<Liveness> liveness = std::make_shared<Liveness>();
    std::atomic<int> connections{0};
    std::atomic<int> streams{0};
};

class IoWorker : public QObject {
    Q_OBJECT
  public:
    IoWorker(ServerShared& shared, int capacity);

    /// Takes over an accepted socket descriptor (on this worker's thread).
    void adopt(qintptr descriptor);
    /// Writes an already framed event to every stream of this thread.
    void broadcast(const QByteArray& chunk);
    /// Closes every connection (server shutdown).
    void closeAll();

    bool registerStream(Connection* connection);
    void forget(Connection* connection);

    ServerShared& shared() { return shared_; }

  private:
    void evictOldestReader();

    ServerShared& shared_;
    int capacity_;
    QList<Connection*> connections_;
    QList<Connection*> streams_;
    QTimer* keepAlive_;
};

} // namespace hb::server
