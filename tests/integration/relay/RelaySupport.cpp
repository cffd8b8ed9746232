#include "RelaySupport.h"

#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QNetworkRequest>

namespace hb::test {

ServiceThread::ServiceThread(relay::service::ServiceOptions options) {
    options.address = QHostAddress::LocalHost;
    options.port = 0;
    anchor_.moveToThread(&thread_);
    thread_.start();
    port_ = call([&] {
        service_ = new relay::service::RelayService(options);
        return service_->start() ? service_->port() : quint16(0);
    });
}

ServiceThread::~ServiceThread() {
    call([this] {
        delete service_;
        return true;
    });
    thread_.quit();
    thread_.wait();
}

bool ServiceThread::hasAgent(const QString& relayId) {
    return call([&] { return service_->hasAgent(relayId); });
}

int ServiceThread::inFlight(const QString& relayId) {
    return call([&] { return service_->inFlight(relayId); });
}

int ServiceThread::openConnections() {
    return call([&] { return service_->openConnections(); });
}

bool ServiceThread::waitAgent(const QString& relayId, bool present) {
    return waitFor([&] { return hasAgent(relayId) == present; });
}

QJsonObject PhoneResponse::json() const {
    return QJsonDocument::fromJson(body).object();
}

QNetworkReply* Phone::start(const QByteArray& method, const QString& url, const QByteArray& body,
                            const QHash<QByteArray, QByteArray>& headers) {
    QNetworkRequest request{QUrl(url)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    for (auto it = headers.begin(); it != headers.end(); ++it)
        request.setRawHeader(it.key(), it.value());
    return network_.sendCustomRequest(request, method, body);
}

PhoneResponse Phone::wait(QNetworkReply* reply, std::chrono::milliseconds timeout) {
    PhoneResponse response;
    waitFor([&] { return reply->isFinished(); }, timeout);
    response.finished = reply->isFinished();
    response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    response.contentType = reply->rawHeader("Content-Type");
    response.location = reply->rawHeader("Location");
    response.body = reply->readAll();
    reply->deleteLater();
    return response;
}

PhoneResponse Phone::request(const QByteArray& method, const QString& url, const QByteArray& body,
                             const QHash<QByteArray, QByteArray>& headers,
                             std::chrono::milliseconds timeout) {
    return wait(start(method, url, body, headers), timeout);
}

TestAgent::TestAgent(const QString& wsBase, const QString& relayId, const QByteArray& key) {
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
        requests.append(QJsonDocument::fromJson(text.toUtf8()).object());
    });
    connect(&socket, &QWebSocket::disconnected, this, [this] {
        closed = true;
        closeCode = socket.closeCode();
    });
    QNetworkRequest request(QUrl(wsBase + QStringLiteral("/mac/ws?id=") + relayId));
    if (!key.isEmpty())
        request.setRawHeader("x-hb-relay-key", key);
    socket.open(request);
}

bool TestAgent::waitOpen() {
    return waitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; });
}

void TestAgent::reply(const QJsonObject& message) {
    socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

} // namespace hb::test
