#include "relay/RelayClient.h"

#include "core/HandOff.h"
#include "core/Log.h"
#include "relay/RelayMessages.h"
#include "relay/RelayUrls.h"

#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QWebSocket>

namespace hb::relay {
namespace {

constexpr int kCloseNotOwner = 4403;
constexpr quint64 kMaxIncomingMessageBytes = 8 * 1024 * 1024;
constexpr qint64 kMaxLocalBodyBytes = 4 * 1024 * 1024;
constexpr int kStatusNoAnswer = 500;
constexpr int kStatusRefused = 400;
constexpr int kStatusBusy = 503;
constexpr int kStatusNoContent = 204;
constexpr char kEventStreamMark[] = "hbEventStream";
constexpr std::chrono::milliseconds kCloseGrace{3000};
// Qt runs at most six HTTP/1.1 connections per host and manager; slow replays (a plan, a listing)
// must not queue the quick ones behind them, so replays are spread over several managers.
constexpr int kReplayManagers = 4;

// Network and proxy failures (codes below 200) mean no complete HTTP answer arrived.
bool hasHttpAnswer(const QNetworkReply* reply) {
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const auto error = reply->error();
    return status.isValid() &&
           (error == QNetworkReply::NoError || error >= QNetworkReply::ContentAccessDenied);
}

QNetworkRequest replayRequest(quint16 port, const RelayedRequest& relayed,
                              std::chrono::milliseconds timeout) {
    QNetworkRequest request(
        QUrl(QStringLiteral("http://127.0.0.1:") + QString::number(port) + relayed.path, QUrl::StrictMode));
    request.setTransferTimeout(int(timeout.count()));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    for (const auto& [name, value] : relayed.headers)
        request.setRawHeader(name, value);
    // Set last so that nothing the phone sent can stand in for it.
    request.setRawHeader(kRelayMarkerHeader, "1");
    return request;
}

} // namespace

RelayClient::RelayClient(QString relayId, QString base, std::function<quint16()> localPort, QObject* parent)
    : RelayClient(std::move(relayId), std::move(base), std::move(localPort), RelayOptions{}, parent) {}

RelayClient::RelayClient(QString relayId, QString base, std::function<quint16()> localPort,
                         RelayOptions options, QObject* parent)
    : QObject(parent), relayId_(std::move(relayId)), base_(std::move(base)), localPort_(std::move(localPort)),
      options_(options) {
    for (int i = 0; i < kReplayManagers; ++i) {
        auto* network = new QNetworkAccessManager(this);
        network->setProxy(QNetworkProxy::NoProxy);
        networks_.append(network);
    }
    reconnectWork_.setSingleShot(true);
    reconnectWork_.setInterval(options_.reconnectDelay);
    connect(&reconnectWork_, &QTimer::timeout, this, &RelayClient::start);
    heartbeat_.setInterval(options_.pingInterval);
    connect(&heartbeat_, &QTimer::timeout, this, &RelayClient::checkLiveness);
}

RelayClient::~RelayClient() {
    reconnectWork_.stop();
    // Sockets and replies are children and die after this object's members: keep their last
    // signals (disconnected, finished) away from it.
    const QList<QObject*> children = findChildren<QObject*>();
    for (QObject* child : children)
        disconnect(child, nullptr, this, nullptr);
    if (task_)
        task_->abort();
}

void RelayClient::setEnabled(bool on) {
    if (enabled_.exchange(on) == on)
        return;
    if (QThread::currentThread() == thread()) {
        applyEnabled(on);
        return;
    }
    postTo(this, [this, on] { applyEnabled(on); });
}

void RelayClient::applyEnabled(bool on) {
    // A later write from another thread may already have reversed this one; the latest value wins.
    if (enabled_.load() != on)
        return;
    if (on)
        start();
    else
        stop();
}

void RelayClient::start() {
    stop();
    if (!enabled_.load())
        return;
    const QUrl url = agentEndpoint(base_, relayId_);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != u"ws" && scheme != u"wss"))
        return;
    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    socket->setMaxAllowedIncomingMessageSize(kMaxIncomingMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(kMaxIncomingMessageBytes);
    task_ = socket;
    listen(socket);
    awaitingPong_ = false;
    heartbeat_.start();
    QNetworkRequest request(url);
    if (!options_.key.isEmpty())
        request.setRawHeader("x-hb-relay-key", options_.key);
    socket->open(request);
}

void RelayClient::stop() {
    reconnectWork_.stop();
    heartbeat_.stop();
    if (QWebSocket* socket = task_) {
        task_ = nullptr;
        retire(socket);
    }
    connected_ = false;
}

// Closes with 1000 and frees the socket once the close is done (or after a grace period).
void RelayClient::retire(QWebSocket* socket) {
    auto* grace = new QTimer(socket);
    grace->setSingleShot(true);
    connect(grace, &QTimer::timeout, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    grace->start(kCloseGrace);
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
    else
        socket->close(QWebSocketProtocol::CloseCodeNormal);
}

void RelayClient::checkLiveness() {
    if (!task_)
        return heartbeat_.stop();
    if (awaitingPong_)
        return task_->abort(); // ends in onSocketFailed, which schedules the reconnect
    awaitingPong_ = true;
    if (task_->state() == QAbstractSocket::ConnectedState)
        task_->ping();
}

void RelayClient::listen(QWebSocket* socket) {
    connect(socket, &QWebSocket::connected, this, [this, socket] {
        if (socket != task_)
            return;
        awaitingPong_ = false;
        Q_EMIT socketOpened();
    });
    connect(socket, &QWebSocket::pong, this, [this, socket] {
        if (socket == task_)
            awaitingPong_ = false;
    });
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& text) {
        if (socket != task_)
            return;
        connected_ = true;
        awaitingPong_ = false;
        handle(text);
    });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [this, socket] {
        if (socket != task_)
            return;
        connected_ = true;
        awaitingPong_ = false;
    });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        // Said once per refusal streak, not at every retry.
        const bool refused = int(socket->closeCode()) == kCloseNotOwner;
        if (refused && !refusedByRelay_)
            qCWarning(lcHarbly) << "the relay refuses this agent: its identifier belongs to another key";
        refusedByRelay_ = refused;
        onSocketFailed(socket);
    });
    // A failed opening handshake or TCP connect ends in UnconnectedState without `disconnected`.
    connect(socket, &QWebSocket::stateChanged, this, [this, socket](QAbstractSocket::SocketState state) {
        if (state == QAbstractSocket::UnconnectedState)
            onSocketFailed(socket);
    });
}

void RelayClient::onSocketFailed(QWebSocket* socket) {
    // A socket that `start` or `stop` already replaced must not touch the newer one.
    if (socket != task_)
        return;
    task_ = nullptr;
    connected_ = false;
    heartbeat_.stop();
    socket->deleteLater();
    scheduleReconnect();
}

void RelayClient::scheduleReconnect() {
    if (!enabled_.load())
        return;
    reconnectWork_.start();
}

void RelayClient::handle(const QString& text) {
    const ParsedMessage parsed = parseRequestMessage(text);
    const RelayedRequest& relayed = parsed.request;
    if (parsed.verdict == MessageVerdict::Drop)
        return;
    if (parsed.verdict == MessageVerdict::Refuse)
        return sendReply(relayed.reqId, kStatusRefused, QString(), {});
    const quint16 port = localPort_ ? localPort_() : 0;
    if (port == 0)
        return sendReply(relayed.reqId, kStatusNoAnswer, QString(), {});
    if (inFlight_ >= options_.maxInFlight)
        return sendReply(relayed.reqId, kStatusBusy, QString(), {});

    QNetworkAccessManager* network = networks_.at(nextNetwork_++ % networks_.size());
    QNetworkReply* reply = network->sendCustomRequest(replayRequest(port, relayed, options_.replayTimeout),
                                                      relayed.method, relayed.body);
    ++inFlight_;
    watchReplay(reply);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, reqId = relayed.reqId] { finishReplay(reply, reqId); });
}

// Bounds a replay: its whole duration, its body size, and event streams that would never end.
void RelayClient::watchReplay(QNetworkReply* reply) {
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline->start(options_.replayTimeout);
    connect(reply, &QNetworkReply::readyRead, reply, [reply] {
        if (reply->bytesAvailable() > kMaxLocalBodyBytes)
            reply->abort();
    });
    // An event stream never completes and one reply message cannot carry it: end it at once with
    // 204, which tells an EventSource not to retry at its own pace.
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply] {
        if (reply->rawHeader("Content-Type").startsWith("text/event-stream")) {
            reply->setProperty(kEventStreamMark, true);
            reply->abort();
        }
    });
}

void RelayClient::finishReplay(QNetworkReply* reply, const QString& reqId) {
    --inFlight_;
    reply->deleteLater();
    if (reply->property(kEventStreamMark).toBool())
        return sendReply(reqId, kStatusNoContent, QString(), {});
    if (!hasHttpAnswer(reply))
        return sendReply(reqId, kStatusNoAnswer, QString(), {});
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QString contentType = reply->hasRawHeader("Content-Type")
                                    ? QString::fromLatin1(reply->rawHeader("Content-Type"))
                                    : QString();
    sendReply(reqId, status, contentType, reply->readAll());
}

void RelayClient::sendReply(const QString& reqId, int status, const QString& contentType,
                            const QByteArray& body) {
    // The socket current now, which may be newer than the one that brought the request.
    if (task_ && task_->state() == QAbstractSocket::ConnectedState)
        task_->sendTextMessage(QString::fromUtf8(replyMessage(reqId, status, contentType, body)));
    Q_EMIT messageHandled(reqId, status);
}

} // namespace hb::relay
