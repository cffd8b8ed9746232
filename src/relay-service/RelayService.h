#pragma once
#include "relay-service/AddressRate.h"
#include "relay-service/OwnerKeys.h"
#include "relay-service/ServiceOptions.h"
#include "server/Request.h"

#include <QElapsedTimer>

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTimer>
#include <QWebSocketServer>

class QTcpSocket;
class QWebSocket;

namespace hb::relay::service {

/// The relay service: agents hold a WebSocket at "/mac/ws?id=<id>"; phones send HTTP requests to
/// "/phone/<id>/…", which travel to that agent as request messages and come back as its replies.
/// One port serves both; everything runs on the thread the service lives on. An agent proves it owns
/// its identifier with the key it sends in "x-hb-relay-key": the first key seen for an identifier
/// binds it, and links with another key are closed with code 4403.
class RelayService : public QObject {
    Q_OBJECT
  public:
    explicit RelayService(ServiceOptions options, QObject* parent = nullptr);
    ~RelayService() override;

    /// Close code for a link whose identifier belongs to another key.
    static constexpr int kCloseNotOwner = 4403;

    /// Starts listening; false with `error` set when the address, port, certificate or state folder
    /// is unusable.
    bool start(QString* error = nullptr);
    quint16 port() const;
    bool isTls() const { return tls_; }

    int agentCount() const { return int(agents_.size()); }
    bool hasAgent(const QString& relayId) const { return agents_.contains(relayId); }
    int inFlight(const QString& relayId) const;
    /// Open TCP connections, agents' included.
    int openConnections() const { return openConnections_; }

  Q_SIGNALS:
    void agentConnected(const QString& relayId);
    void agentDisconnected(const QString& relayId);

  private:
    struct Pending {
        QPointer<QTcpSocket> phone;
        bool withBody = true; ///< false for HEAD
    };
    struct Agent {
        QPointer<QWebSocket> socket;
        QHash<QString, Pending> pending; ///< by reqId; survives the agent reconnecting
        bool awaitingPong = false;       ///< pinged and silent since
    };

    void accept(QTcpSocket* socket);
    QHostAddress clientOf(QTcpSocket* socket, const server::Request& request) const;
    void onUpgrade(QTcpSocket* socket, const server::Request& request);
    void onAgentSocket(QWebSocket* socket);
    void onAgentMessage(QWebSocket* socket, const QString& relayId, const QString& text);
    void onAgentGone(QWebSocket* socket, const QString& relayId);
    void markAlive(QWebSocket* socket, const QString& relayId);
    void checkAgents();
    void onPhoneRequest(QTcpSocket* socket, const server::Request& request);
    void forward(QTcpSocket* socket, const QString& relayId, const server::Request& request,
                 const QByteArray& rest);
    /// Removes the phone waiting for `reqId`, if it is still there.
    Pending takePending(const QString& relayId, const QString& reqId);
    void answer(QTcpSocket* socket, const QByteArray& response);
    void answerStatus(QTcpSocket* socket, int status);

    const ServiceOptions options_;
    bool tls_ = false;
    QTcpServer* listener_ = nullptr;
    QWebSocketServer webSockets_;
    QTimer heartbeat_;
    QHash<QString, Agent> agents_;
    OwnerKeys owners_;
    AddressRate linkRate_;
    AddressRate requestRate_;
    QElapsedTimer clock_;
    quint64 nextReqId_ = 0;
    int openConnections_ = 0;
};

} // namespace hb::relay::service
