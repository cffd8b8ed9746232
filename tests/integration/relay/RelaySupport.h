#pragma once
// The relay service on a thread of its own, a phone (an asynchronous HTTP client) and a scripted agent.
#include "core/HandOff.h"
#include "relay-service/RelayService.h"
#include "support/TestSupport.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>
#include <QWebSocket>

namespace hb::test {

/// A RelayService on 127.0.0.1 (kernel-chosen port) with its own event loop, so that clients in the
/// test thread can talk to it. Without a state folder, bindings stay in memory.
class ServiceThread {
  public:
    explicit ServiceThread(relay::service::ServiceOptions options = {}) {
        options.address = QHostAddress::LocalHost;
        options.port = 0;
        anchor_.moveToThread(&thread_);
        thread_.start();
        callOn(&anchor_, [&] {
            service_ = new relay::service::RelayService(options);
            port_ = service_->start() ? service_->port() : 0;
        });
    }
    ~ServiceThread() {
        callOn(&anchor_, [this] { delete service_; });
        thread_.quit();
        thread_.wait();
    }
    quint16 port() const { return port_; }
    QString base(const char* scheme = "ws") const {
        return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port_);
    }
    QString phoneUrl(const QString& id, const QString& rest) const {
        return base("http") + u"/phone/" + id + rest;
    }
    /// `f(service)`, run on the service's thread.
    template <typename F> auto on(F f) {
        decltype(f(*service_)) result{};
        callOn(&anchor_, [&] { result = f(*service_); });
        return result;
    }
    bool waitAgent(const QString& id, bool present = true) {
        return waitFor([&] { return on([&](auto& service) { return service.hasAgent(id); }) == present; });
    }

  private:
    QThread thread_;
    QObject anchor_;
    relay::service::RelayService* service_ = nullptr;
    quint16 port_ = 0;
};

struct PhoneResponse {
    int status = 0;
    QByteArray contentType;
    QByteArray location;
    QByteArray body;
};

/// A phone's HTTP client (redirects are not followed).
class Phone {
  public:
    QNetworkReply* start(const QByteArray& method, const QString& url, const QByteArray& body = {},
                         const QByteArray& token = {}) {
        QNetworkRequest request{QUrl(url)};
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        if (!token.isEmpty())
            request.setRawHeader("x-hb-token", token);
        QNetworkReply* reply = network_.sendCustomRequest(request, method, body);
        return reply;
    }
    static PhoneResponse wait(QNetworkReply* reply,
                              std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        waitFor([&] { return reply->isFinished(); }, timeout);
        reply->deleteLater();
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->rawHeader("Content-Type"), reply->rawHeader("Location"), reply->readAll()};
    }
    PhoneResponse request(const QByteArray& method, const QString& url, const QByteArray& body = {},
                          const QByteArray& token = {},
                          std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return wait(start(method, url, body, token), timeout);
    }

  private:
    QNetworkAccessManager network_;
};

/// An agent link scripted by the test: records request messages, replies when told.
struct TestAgent {
    QWebSocket socket;
    QList<QJsonObject> requests;
    int closeCode = 0; ///< set once closed
    TestAgent(const QString& base, const QString& id, const QByteArray& key = {}) {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket, [this](const QString& text) {
            requests.append(QJsonDocument::fromJson(text.toUtf8()).object());
        });
        QObject::connect(&socket, &QWebSocket::disconnected, &socket,
                         [this] { closeCode = socket.closeCode(); });
        QNetworkRequest request(QUrl(base + QStringLiteral("/mac/ws?id=") + id));
        if (!key.isEmpty())
            request.setRawHeader("x-hb-relay-key", key);
        socket.open(request);
    }
    bool waitRequests(qsizetype count) {
        return waitFor([&] { return requests.size() >= count; });
    }
    /// Replies to request `index` with a status, a text body and (if given) a Content-Type.
    void reply(qsizetype index, int status, const QString& body = {}, const QString& type = {}) {
        QJsonObject headers;
        if (!type.isEmpty())
            headers.insert(QStringLiteral("Content-Type"), type);
        socket.sendTextMessage(
            QString::fromUtf8(jsonBody({{QStringLiteral("reqId"), requests.at(index)[u"reqId"]},
                                        {QStringLiteral("status"), status},
                                        {QStringLiteral("headers"), headers},
                                        {QStringLiteral("body"), body}})));
    }
};

} // namespace hb::test
