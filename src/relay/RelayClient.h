#pragma once
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QWebSocket;

namespace hb::relay {

struct RelayOptions {
    /// The secret that proves this agent owns its identifier, sent as "x-hb-relay-key" when linking
    /// (empty: none is sent).
    QByteArray key;
    std::chrono::milliseconds reconnectDelay{5000}; ///< pause after a receive failure before reconnecting
    std::chrono::milliseconds replayTimeout{10000}; ///< a local answer later than this counts as none (500)
    int maxInFlight = 128;                          ///< replays beyond this are answered 503 at once
    /// A ping goes out this often; a link that does not open, or leaves a ping unanswered, for one
    /// whole interval is dropped (and so reconnected): a silently dead link would otherwise stay
    /// "open" for good.
    std::chrono::milliseconds pingInterval{30000};
};

/// The agent's link to the relay service: one WebSocket to base + "/mac/ws?id=" + relay identifier,
/// kept open while enabled; the link carries the agent's key in "x-hb-relay-key". Every text message is a
/// relayed request, replayed against the agent's own HTTP server on loopback and answered on the current
/// socket. Lives on the thread it was created on.
class RelayClient : public QObject {
    Q_OBJECT
  public:
    /// `localPort` answers the port the agent's server actually listens on (0 while not listening).
    RelayClient(QString relayId, QString base, std::function<quint16()> localPort, QObject* parent = nullptr);
    RelayClient(QString relayId, QString base, std::function<quint16()> localPort, RelayOptions options,
                QObject* parent = nullptr);
    ~RelayClient() override;

    const QString& relayId() const { return relayId_; }
    /// Switches the link on or off; writing the current value does nothing. Callable from any thread.
    void setEnabled(bool on);
    bool enabled() const { return enabled_.load(); }
    /// True from the first message received on the current socket until it fails or `stop` runs.
    bool isConnected() const { return connected_.load(); }

  Q_SIGNALS:
    /// The current socket completed its opening handshake.
    void socketOpened();
    /// A relayed request was answered (the reply went out on the socket current at that time, if any).
    void messageHandled(const QString& reqId, int status);

  protected:
    void start();
    void stop();
    void listen(QWebSocket* socket);
    void scheduleReconnect();
    void handle(const QString& text);

  private:
    void applyEnabled(bool on);
    void onSocketFailed(QWebSocket* socket);
    void checkLiveness();
    void watchReplay(QNetworkReply* reply);
    void finishReplay(QNetworkReply* reply, const QString& reqId);
    void sendReply(const QString& reqId, int status, const QString& contentType, const QByteArray& body);
    static void retire(QWebSocket* socket);

    const QString relayId_;
    const QString base_;
    const std::function<quint16()> localPort_;
    const RelayOptions options_;
    QPointer<QWebSocket> task_; ///< the current socket
    QTimer reconnectWork_;
    QTimer heartbeat_;
    bool awaitingPong_ = false;   ///< the current socket has not opened or answered since the last beat
    bool refusedByRelay_ = false; ///< the last link was closed with 4403 (not this identifier's owner)
    QList<QNetworkAccessManager*> networks_; ///< several, each allowing only 6 connections at once
    qsizetype nextNetwork_ = 0;
    int inFlight_ = 0;
    std::atomic<bool> enabled_{false};
    std::atomic<bool> connected_{false};
};

} // namespace hb::relay
