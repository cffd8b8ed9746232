#include "relay-service/RelayService.h"

#include "core/Json.h"
#include "relay-service/IncomingConnection.h"
#include "relay-service/Listener.h"
#include "relay-service/PhoneExchange.h"

#include <QHostAddress>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

namespace hb::relay::service {
namespace {

constexpr int kListenBacklog = 1024;
constexpr QStringView kAgentPath = u"/mac/ws";
constexpr char kKeyHeader[] = "x-hb-relay-key";
constexpr qsizetype kMaxKeyBytes = 256;

// Lives as long as its connection and reports the end of it.
class ConnectionTicket : public QObject {
  public:
    ConnectionTicket(QObject* connection, std::function<void()> onEnd)
        : QObject(connection), onEnd_(std::move(onEnd)) {}
    ~ConnectionTicket() override { onEnd_(); }

  private:
    std::function<void()> onEnd_;
};

bool isUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

// The last "id" wins, as in the server's target parsing.
QString relayIdOf(const QUrl& url) {
    const QStringList ids = QUrlQuery(url).allQueryItemValues(QStringLiteral("id"), QUrl::FullyDecoded);
    return ids.isEmpty() ? QString() : ids.last();
}

// The agent's key (empty when it sent none); nothing when it is too long or not printable ASCII.
std::optional<QByteArray> keyOf(const QWebSocket* socket) {
    const QByteArray key = socket->request().rawHeader(kKeyHeader).trimmed();
    if (key.size() > kMaxKeyBytes)
        return std::nullopt;
    for (const char c : key) {
        if (c <= ' ' || c > '~')
            return std::nullopt;
    }
    return key;
}

} // namespace

RelayService::RelayService(ServiceOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)),
      webSockets_(QStringLiteral("harbly-relay"), QWebSocketServer::NonSecureMode),
      owners_(options_.stateDir), linkRate_(options_.linksPerSecond),
      requestRate_(options_.requestsPerSecond) {
    clock_.start();
    connect(&webSockets_, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket* socket = webSockets_.nextPendingConnection())
            onAgentSocket(socket);
    });
    heartbeat_.setInterval(options_.pingInterval);
    connect(&heartbeat_, &QTimer::timeout, this, &RelayService::checkAgents);
}

RelayService::~RelayService() {
    // Phone and agent sockets (and their timers) die after this object's members; keep their last
    // signals from reaching it.
    QList<QObject*> children = findChildren<QObject*>();
    children += webSockets_.findChildren<QObject*>();
    for (QObject* child : std::as_const(children))
        disconnect(child, nullptr, this, nullptr);
}

bool RelayService::start(QString* error) {
    QString ignored;
    QString& message = error ? *error : ignored;
    if (!owners_.open(&message))
        return false;
    auto* listener = new Listener(this);
    if (!options_.certPath.isEmpty()) {
        if (!listener->loadTls(options_.certPath, options_.keyPath, &message))
            return false;
        tls_ = true;
    }
    listener->setListenBacklogSize(kListenBacklog);
    if (!listener->listen(options_.address, options_.port)) {
        message = listener->errorString();
        delete listener;
        return false;
    }
    listener_ = listener;
    heartbeat_.start();
    connect(listener_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = listener_->nextPendingConnection())
            accept(socket);
    });
    return true;
}

quint16 RelayService::port() const {
    return listener_ ? listener_->serverPort() : 0;
}

int RelayService::inFlight(const QString& relayId) const {
    const auto it = agents_.constFind(relayId);
    return it == agents_.cend() ? 0 : int(it->pending.size());
}

void RelayService::accept(QTcpSocket* socket) {
    if (openConnections_ >= options_.maxConnections) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++openConnections_;
    // Small request and reply messages: never hold them back waiting for more bytes.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A child, not a signal: the WebSocket server drops every connection of a socket it adopts.
    new ConnectionTicket(socket, [service = QPointer<RelayService>(this)] {
        if (service)
            --service->openConnections_;
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto* incoming = new IncomingConnection(socket, options_);
    connect(incoming, &IncomingConnection::upgradeRequested, this, &RelayService::onUpgrade);
    connect(incoming, &IncomingConnection::requestReady, this, &RelayService::onPhoneRequest);
}

void RelayService::answer(QTcpSocket* socket, const QByteArray& response) {
    IncomingConnection::answer(socket, response, options_.writeTimeout);
}

void RelayService::answerStatus(QTcpSocket* socket, int status) {
    answer(socket, statusResponse(status));
}

QHostAddress RelayService::clientOf(QTcpSocket* socket, const server::Request& request) const {
    const QHostAddress peer = socket->peerAddress();
    if (options_.trustedProxy.isNull() || !peer.isEqual(options_.trustedProxy))
        return peer;
    const QHostAddress named(request.header(QStringLiteral("x-real-ip")));
    return named.isNull() ? peer : named;
}

// Agents

void RelayService::onUpgrade(QTcpSocket* socket, const server::Request& request) {
    if (request.path != kAgentPath)
        return answerStatus(socket, 404);
    if (!isValidRelayId(request.query.value(QStringLiteral("id"))))
        return answerStatus(socket, 400);
    if (!linkRate_.take(clientOf(socket, request), clock_.elapsed()))
        return answerStatus(socket, 429);
    const QString relayId = request.query.value(QStringLiteral("id"));
    if (!agents_.contains(relayId) && agentCount() >= options_.maxAgents)
        return answerStatus(socket, 503);
    // The WebSocket built on it uses it until its own end (and then frees it), so it must not go at
    // disconnection.
    disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    webSockets_.handleConnection(socket);
}

void RelayService::onAgentSocket(QWebSocket* socket) {
    const QString relayId = relayIdOf(socket->requestUrl());
    if (!isValidRelayId(relayId) || (!agents_.contains(relayId) && agentCount() >= options_.maxAgents)) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    // Ours from now on: a link still open when the service ends goes with it.
    socket->setParent(this);
    const std::optional<QByteArray> key = keyOf(socket);
    const OwnerKeys::Verdict verdict = key ? owners_.check(relayId, *key) : OwnerKeys::Verdict::Stranger;
    if (verdict == OwnerKeys::Verdict::Stranger || verdict == OwnerKeys::Verdict::Failed) {
        // The link that holds the identifier, if any, stays untouched.
        connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
        if (verdict == OwnerKeys::Verdict::Stranger)
            socket->close(QWebSocketProtocol::CloseCode(kCloseNotOwner),
                          QStringLiteral("relay identifier belongs to another agent"));
        else
            socket->close(QWebSocketProtocol::CloseCodeBadOperation, QStringLiteral("cannot check the key"));
        return;
    }
    socket->setMaxAllowedIncomingMessageSize(quint64(options_.maxMessageBytes));
    socket->setMaxAllowedIncomingFrameSize(quint64(options_.maxMessageBytes));
    Agent& agent = agents_[relayId];
    if (QWebSocket* old = agent.socket) {
        // One agent per identifier: the newcomer replaces the old link; requests in flight stay.
        old->disconnect(this);
        old->close(QWebSocketProtocol::CloseCodeNormal, QStringLiteral("replaced"));
        old->deleteLater();
    }
    agent.socket = socket;
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, socket, relayId](const QString& text) { onAgentMessage(socket, relayId, text); });
    connect(socket, &QWebSocket::disconnected, this,
            [this, socket, relayId] { onAgentGone(socket, relayId); });
    connect(socket, &QWebSocket::pong, this, [this, socket, relayId] { markAlive(socket, relayId); });
    Q_EMIT agentConnected(relayId);
}

void RelayService::markAlive(QWebSocket* socket, const QString& relayId) {
    const auto it = agents_.find(relayId);
    if (it != agents_.end() && it->socket == socket)
        it->awaitingPong = false;
}

// A link whose peer vanished without closing would otherwise hold the identifier for good.
void RelayService::checkAgents() {
    linkRate_.prune(clock_.elapsed());
    requestRate_.prune(clock_.elapsed());
    QList<QWebSocket*> silent;
    for (Agent& agent : agents_) {
        if (!agent.socket)
            continue;
        if (agent.awaitingPong) {
            silent.append(agent.socket);
        } else {
            agent.awaitingPong = true;
            agent.socket->ping();
        }
    }
    for (QWebSocket* socket : std::as_const(silent))
        socket->abort(); // ends in onAgentGone
}

void RelayService::onAgentMessage(QWebSocket* socket, const QString& relayId, const QString& text) {
    const auto it = agents_.constFind(relayId);
    if (it == agents_.cend() || it->socket != socket)
        return;
    markAlive(socket, relayId);
    const AgentAnswer reply = parseAgentReply(text);
    if (!reply.valid)
        return;
    const Pending waiting = takePending(relayId, reply.reqId);
    if (!waiting.phone)
        return;
    if (!reply.usable)
        return answerStatus(waiting.phone, 502);
    answer(waiting.phone, relayResponse(reply.status, reply.contentType, reply.body, {}, waiting.withBody));
}

void RelayService::onAgentGone(QWebSocket* socket, const QString& relayId) {
    socket->deleteLater();
    const auto it = agents_.find(relayId);
    if (it == agents_.end() || it->socket != socket)
        return;
    const QHash<QString, Pending> pending = std::exchange(it->pending, {});
    agents_.erase(it);
    for (const Pending& waiting : pending) {
        if (waiting.phone)
            answerStatus(waiting.phone, 502);
    }
    Q_EMIT agentDisconnected(relayId);
}

// Phones

void RelayService::onPhoneRequest(QTcpSocket* socket, const server::Request& request) {
    if (!requestRate_.take(clientOf(socket, request), clock_.elapsed()))
        return answerStatus(socket, 429);
    const PhoneTarget target = phoneTarget(request.path, request.query);
    switch (target.kind) {
    case PhoneTarget::Kind::Other:
        if (request.path == u"/healthz" || request.path == u"/")
            return answer(socket, relayResponse(200, "text/plain; charset=utf-8", "harbly-relay\n"));
        return answerStatus(socket, 404);
    case PhoneTarget::Kind::Redirect:
        return answer(socket, relayResponse(301, "text/plain; charset=utf-8", "moved\n",
                                            QByteArray("Location: " + target.location + "\r\n")));
    case PhoneTarget::Kind::Forward:
        if (!isUtf8(request.body))
            return answerStatus(socket, 400); // request bodies travel as text
        return forward(socket, target.relayId, request, target.rest);
    }
}

void RelayService::forward(QTcpSocket* socket, const QString& relayId, const server::Request& request,
                           const QByteArray& rest) {
    const auto it = agents_.find(relayId);
    if (it == agents_.end() || !it->socket)
        return answerStatus(socket, 502);
    if (it->pending.size() >= options_.maxInFlightPerAgent)
        return answerStatus(socket, 503);
    const QString reqId = QString::number(++nextReqId_);
    const QByteArray message = requestMessage(reqId, request, rest);
    if (message.size() > options_.maxMessageBytes)
        return answerStatus(socket, 413);
    it->pending.insert(reqId, Pending{socket, request.method != u"HEAD"});
    it->socket->sendTextMessage(QString::fromUtf8(message));

    // Owned by the phone's socket: gone with it, and a phone that hangs up frees its slot.
    auto* timeout = new QTimer(socket);
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, this, [this, relayId, reqId] {
        if (const Pending waiting = takePending(relayId, reqId); waiting.phone)
            answerStatus(waiting.phone, 504);
    });
    timeout->start(options_.replyTimeout);
    connect(socket, &QTcpSocket::disconnected, this, [this, relayId, reqId] {
        if (const auto agent = agents_.find(relayId); agent != agents_.end())
            agent->pending.remove(reqId);
    });
}

RelayService::Pending RelayService::takePending(const QString& relayId, const QString& reqId) {
    const auto agent = agents_.find(relayId);
    return agent == agents_.end() ? Pending{} : agent->pending.take(reqId);
}

} // namespace hb::relay::service
