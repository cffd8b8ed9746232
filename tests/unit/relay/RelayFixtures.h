#pragma once
// Real loopback servers standing in for the relay service and for the agent's local HTTP server.
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>
#include <chrono>
#include <memory>
#include <vector>

namespace hb::test {

/// A WebSocket server on 127.0.0.1 that records every agent connection and the messages it sends.
class TestRelay : public QObject {
    Q_OBJECT
  public:
    struct Link {
        QPointer<QWebSocket> socket;
        QUrl url;
        QStringList messages;
        bool closed = false;
        int closeCode = -1;
    };

    TestRelay();
    ~TestRelay() override;
    QString base() const;
    int linkCount() const { return int(links_.size()); }
    Link& link(int index) { return *links_.at(size_t(index)); }
    Link& latest() { return *links_.back(); }
    /// Waits until `count` connections have arrived.
    bool waitLinks(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    /// Sends a text message on the latest connection.
    void send(const QString& text);
    /// Waits for the reply carrying `reqId` on any connection; an empty object when none came.
    QJsonObject waitReply(const QString& reqId, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    /// Every reply received so far, in order.
    QList<QJsonObject> replies() const;

  private:
    QWebSocketServer server_;
    std::vector<std::unique_ptr<Link>> links_;
};

/// One request as the local HTTP server received it.
struct ReceivedRequest {
    QByteArray method;
    QByteArray target;
    QList<QPair<QByteArray, QByteArray>> headers; ///< lower-cased names, in order
    QByteArray body;
    QList<QByteArray> values(const QByteArray& lowerName) const;
};

/// A minimal HTTP/1.1 server on 127.0.0.1 that records requests and gives one canned answer
/// (or, when `silent`, never answers).
class LocalHttp : public QObject {
    Q_OBJECT
  public:
    LocalHttp();
    quint16 port() const { return server_.serverPort(); }
    void answer(int status, QByteArray contentType, QByteArray body, QByteArray extraHead = {});
    void setSilent(bool silent) { silent_ = silent; }
    /// Sends the answer without Content-Length and keeps the connection open (a stream).
    void setKeepOpen(bool keepOpen) { keepOpen_ = keepOpen; }
    QList<ReceivedRequest> requests;

  private:
    void onData(QTcpSocket* socket);
    QTcpServer server_;
    int status_ = 200;
    QByteArray contentType_ = "application/json";
    QByteArray body_ = R"({"ok":true})";
    QByteArray extraHead_;
    bool silent_ = false;
    bool keepOpen_ = false;
};

} // namespace hb::test
