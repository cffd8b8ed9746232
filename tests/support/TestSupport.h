#pragma once
// Small helpers shared by the tests: temporary folders, raw HTTP over real sockets,
// waiting on the event loop.
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <functional>

namespace hb::test {

/// Runs the event loop until `done` holds or `timeout` passes; returns `done()`.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(5));

/// A response read off a raw socket.
struct RawResponse {
    bool ok = false; ///< a status line arrived
    int status = 0;
    QByteArray head;                 ///< status line and headers
    QHash<QString, QString> headers; ///< lower-cased names
    QByteArray body;
    QByteArray raw;      ///< everything received until close or timeout
    bool closed = false; ///< the server closed the connection
    QJsonObject json() const;
};

/// Sends `bytes` to host:port from a blocking socket (optionally bound to `from`) and reads
/// until the peer closes or `timeout` passes.
RawResponse rawRequest(quint16 port, const QByteArray& bytes,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5),
                       const QHostAddress& to = QHostAddress::LocalHost,
                       const QHostAddress& from = QHostAddress());

/// Builds and sends one HTTP/1.1 request with a body and extra headers.
RawResponse httpRequest(quint16 port, const QByteArray& method, const QByteArray& target,
                        const QByteArray& body = {}, const QHash<QByteArray, QByteArray>& headers = {},
                        const QHostAddress& from = QHostAddress());

/// A blocking TCP client that can send in pieces and read with a deadline.
class RawClient {
  public:
    RawClient(quint16 port, const QHostAddress& to = QHostAddress::LocalHost,
              const QHostAddress& from = QHostAddress());
    ~RawClient();
    bool connected() const { return fd_ >= 0; }
    bool send(const QByteArray& bytes);
    /// Reads what arrives within `timeout` (stops early once `until` bytes arrived, if > 0).
    QByteArray read(std::chrono::milliseconds timeout, qsizetype until = -1);
    /// True when the peer has closed (read returns 0) within `timeout`.
    bool waitClosed(std::chrono::milliseconds timeout);
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

/// The path of a file in tests/data.
QString dataPath(const QString& relative);

/// This process's resident memory in KiB (-1 when unknown).
long residentKiB();

/// False under AddressSanitizer/ThreadSanitizer, whose shadow memory and quarantine make
/// resident-memory figures meaningless.
constexpr bool memoryFiguresMeaningful() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#else
    return true;
#endif
}

/// Number of open file descriptors of this process.
int openDescriptors();

/// A loopback TCP port that was free a moment ago.
quint16 freePort();

} // namespace hb::test
