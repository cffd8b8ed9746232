#pragma once
// Internal to the server: one accepted TCP connection on its I/O thread.
#include "server/RequestReader.h"
#include "server/Server.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>
#include <mutex>

namespace hb::server {

class IoWorker;
class Connection;

struct Liveness;

/// Lets other threads post work to the I/O thread of a connection for as long as the
/// server runs. `connection` is read and written only on that I/O thread.
struct ConnectionHandle : std::enable_shared_from_this<ConnectionHandle> {
    std::shared_ptr<Liveness> liveness;
    IoWorker* worker = nullptr;
    QThread* thread = nullptr; ///< the I/O thread; compared, never dereferenced
    Connection* connection = nullptr;

    /// Runs `work` on the connection's I/O thread; dropped once the server has stopped.
    void post(std::function<void(Connection*)> work);
};

class Connection : public QObject {
    Q_OBJECT
  public:
    enum class Phase { Reading, Routing, Writing, Stream, Closed };

    Connection(IoWorker& worker, QTcpSocket* socket);
    ~Connection() override;

    void start();
    /// Writes a complete answer and closes once it has been written.
    void writeAndClose(const QByteArray& bytes);
    /// Turns the connection into an event stream, or answers 503 beyond the cap.
    void becomeStream();
    /// Sends one framed event; a stream whose peer stopped reading is dropped.
    void sendChunk(const QByteArray& chunk);
    /// Closes at once, dropping anything unsent.
    void abort();

    Phase phase() const { return phase_; }
    qint64 lastActivity() const { return lastActivity_; }
    std::shared_ptr<ConnectionHandle> handle() const { return handle_; }

  private:
    void onReadyRead();
    void onTimeout();
    void handleReaderState(RequestReader::State state, bool progressed);
    void dispatch();
    void armWriteDeadline();
    void answerWritten();
    void finish();

    IoWorker& worker_;
    QTcpSocket* socket_;
    QTimer* timer_;
    RequestReader reader_;
    Phase phase_ = Phase::Reading;
    bool closeAtOnce_ = false;
    qint64 lastActivity_ = 0;
    QElapsedTimer writeClock_; ///< runs from the first byte of the answer
    std::shared_ptr<ConnectionHandle> handle_;
};

} // namespace hb::server
