#pragma once
// The relay service on a thread of its own, a phone (a real HTTP client) and a scripted agent.
#include "core/HandOff.h"
#include "relay-service/RelayService.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>
#include <QWebSocket>
#include <chrono>
#include <functional>

namespace hb::test {

/// A RelayService on 127.0.0.1 (kernel-chosen port) running its own event loop, so that blocking
/// clients in the test thread can talk to it. Without a state folder, bindings stay in memory.
class ServiceThread {
  public:
    explicit ServiceThread(relay::service::ServiceOptions options = {});
    ~ServiceThread();
    quint16 port() const { return port_; }
    QString wsBase() const { return QStringLiteral("ws://127.0.0.1:") + QString::number(port_); }
    QString httpBase() const { return QStringLiteral("http://127.0.0.1:") + QString::number(port_); }
    bool hasAgent(const QString& relayId);
    int inFlight(const QString& relayId);
    int openConnections();
    /// Waits until the agent with this identifier is registered (or not, with `present` false).
    bool waitAgent(const QString& relayId, bool present = true);

  private:
    template <typename F> auto call(F f) {
        decltype(f()) result{};
        hb::callOn(&anchor_, [&] { result = f(); });
        return result;
    }
    QThread thread_;
    QObject anchor_;
    relay::service::RelayService* service_ = nullptr;
    quint16 port_ = 0;
};

struct PhoneResponse {
    bool finished = false;
    int status = 0;
    QByteArray contentType;
    QByteArray location;
    QByteArray body;
    QJsonObject json() const;
};

/// A phone's HTTP client (redirects are not followed).
class Phone {
  public:
    QNetworkReply* start(const QByteArray& method, const QString& url, const QByteArray& body = {},
                         const QHash<QByteArray, QByteArray>& headers = {});
    static PhoneResponse wait(QNetworkReply* reply,
                              std::chrono::milliseconds timeout = std::chrono::seconds(10));
    PhoneResponse request(const QByteArray& method, const QString& url, const QByteArray& body = {},
                          const QHash<QByteArray, QByteArray>& headers = {},
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));

  private:
    QNetworkAccessManager network_;
};

/// An agent connection scripted by the test: records request messages, answers when told.
class TestAgent : public QObject {
    Q_OBJECT
  public:
    TestAgent(const QString& wsBase, const QString& relayId, const QByteArray& key = {});
    bool waitOpen();
    QWebSocket socket;
    QList<QJsonObject> requests;
    bool closed = false;
    int closeCode = 0;
    /// Sends a reply message for `reqId`.
    void reply(const QJsonObject& message);
};

} // namespace hb::test
