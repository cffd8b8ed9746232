#pragma once
#include "server/Request.h"
#include "server/Responder.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace hb::server {

/// Called on a worker thread for every complete request (or on the I/O thread for those that
/// `ServerOptions::answersAtOnce` picks); it must answer through the Responder.
using Handler = std::function<void(const Request&, Responder)>;

struct Limits {
    qsizetype maxHeaderBytes = 16 * 1024;
    qsizetype maxBodyBytes = 4 * 1024 * 1024;
    std::chrono::milliseconds headerTimeout{10'000};
    std::chrono::milliseconds bodyIdleTimeout{10'000};
    std::chrono::milliseconds writeTimeout{10'000};  ///< without progress while an answer is written
    std::chrono::milliseconds writeCeiling{300'000}; ///< for writing one answer, however it progresses
    int maxConnections = 4096;
    int maxEventStreams = 64;
    qsizetype maxStreamBacklog = 4 * 1024; ///< unsent bytes after which a stream counts as stuck
};

struct ServerOptions {
    quint16 port = 8788;
    QString publicDir; ///< folder served for GET requests no route claims
    Handler handler;
    /// Picks the requests the handler answers without blocking (static files, refusals):
    /// those are answered on the I/O thread, sparing two thread hops. Empty: all go to the pool.
    std::function<bool(const Request&)> answersAtOnce;
    Limits limits;
    int bindAttempts = 21;
    std::chrono::milliseconds bindInterval{500};
    /// Threads for socket I/O, all accepting on the one listening socket. One keeps up with
    /// tens of thousands of requests a second; 0 means the default.
    int ioThreads = 1;
    int workerThreads = 64;
    std::chrono::milliseconds keepAliveInterval{25'000};
};

class ServerCore;

/// The agent's HTTP/1.1 endpoint: one request per connection, listening on every address.
/// Socket I/O runs on the server's own threads; handlers run on a worker pool.
class Server : public QObject {
    Q_OBJECT
  public:
    explicit Server(ServerOptions options, QObject* parent = nullptr);
    ~Server() override;

    /// Starts binding in the background (up to `bindAttempts`, `bindInterval` apart).
    void start();
    /// Stops listening and closes every connection; waits for the I/O threads.
    void stop();

    /// The port asked for (0 lets the kernel choose).
    quint16 port() const;
    /// The port actually listened on, 0 until bound.
    quint16 listeningPort() const;
    /// Blocks up to `timeout` for the listener; true once listening.
    bool waitUntilListening(std::chrono::milliseconds timeout);

    /// Sends one event-stream message to every open stream.
    void broadcast(const QByteArray& message);
    /// Sends the reload event to every open stream.
    void broadcastReload();

    /// Figures for tests and benchmarks.
    int openConnections() const;
    int openEventStreams() const;

  Q_SIGNALS:
    void listening(quint16 port);

  private:
    std::unique_ptr<ServerCore> core_;
};

/// The event-stream frame of one message (hex length, CRLF, bytes, CRLF).
QByteArray sseChunk(const QByteArray& message);

inline const QByteArray kReloadEvent = QByteArrayLiteral("event: reload\ndata: 1\n\n");
inline const QByteArray kKeepAliveEvent = QByteArrayLiteral(":\n\n");
inline const QByteArray kGreetingEvent = QByteArrayLiteral(": connected\n\n");

} // namespace hb::server
