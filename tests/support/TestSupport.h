#pragma once
// The tests' HTTP toolkit (blocking loopback clients, a loopback server on its own thread) and
// small shared helpers.
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>

inline void PrintTo(const QJsonObject& object, std::ostream* out) {
    *out << QJsonDocument(object).toJson(QJsonDocument::Compact).constData();
}
inline void PrintTo(const QJsonArray& array, std::ostream* out) {
    *out << QJsonDocument(array).toJson(QJsonDocument::Compact).constData();
}

namespace hb::test {

/// Runs the event loop until `done` holds or `timeout` passes; returns `done()`.
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(5));

struct RawResponse {
    int status = 0;
    QHash<QString, QString> headers; ///< lower-cased names
    QByteArray body;
    QByteArray raw;      ///< everything received until close or timeout
    bool closed = false; ///< the server closed the connection
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

/// Sends `bytes` to host:port from a blocking socket (optionally bound to `from`) and reads
/// until the peer closes or `timeout` passes.
RawResponse rawRequest(quint16 port, const QByteArray& bytes,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5),
                       const QHostAddress& to = QHostAddress::LocalHost,
                       const QHostAddress& from = QHostAddress());

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
    bool closed_ = false;
    friend RawResponse rawRequest(quint16, const QByteArray&, std::chrono::milliseconds, const QHostAddress&,
                                  const QHostAddress&);
};

/// A small HTTP/1.1 server on 127.0.0.1 with a thread of its own (tests may block in socket
/// calls meanwhile). Records every request and answers each through `answer`. Replies are held
/// until `holdUntil` requests arrived, which proves that many were in flight at once.
class HttpServer {
  public:
    struct Request {
        QByteArray method;
        QByteArray target;
        QHash<QByteArray, QByteArray> headers; ///< lower-cased names
        QByteArray body;
        QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    };
    struct Reply {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
        QByteArray extraHead; ///< "Name: value\r\n" lines added to the head
        bool never = false;   ///< read the request, never answer
        bool stream = false;  ///< no Content-Length, the connection stays open
    };
    using Answer = std::function<Reply(const Request&)>;

    explicit HttpServer(Answer answer = {}, int holdUntil = 0);
    ~HttpServer();
    quint16 port() const;
    QString url(const QString& path = {}) const;
    void setAnswer(Answer answer);
    QList<Request> requests() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// A Messages API reply whose one text block is `text`.
HttpServer::Reply modelText(const QString& text, int status = 200);

/// A program (full path first) in a forked child, its output on a pipe, ended when destroyed. Not
/// QProcess, whose vfork-style clone hides the child from ThreadSanitizer and confuses it.
class Program {
  public:
    explicit Program(const QStringList& command);
    ~Program();
    /// Reads the output until the child closes it (`timeout` at most); the exit code, or -1.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    QByteArray output;

  private:
    qint64 pid_ = -1;
    int out_ = -1;
};

/// Compact JSON text of an object; `{key: value}` as a body; an object from JSON text.
QByteArray jsonBody(const QJsonObject& object);
QByteArray field(const char* key, const QJsonValue& value);
QByteArray field(const char* key, const char* text);
QJsonObject parsed(const char* json);

/// Permission bits of a file (-1 when missing).
int fileMode(const QString& path);

int openDescriptors(); ///< open file descriptors of this process
quint16 freePort();    ///< a loopback TCP port that was free a moment ago

} // namespace hb::test
