// The agent's relay link over real loopback sockets: when it links, how it keeps the link, and how
// a relayed request travels to the local server and back.
#include "relay/RelayClient.h"
#include "server/RequestReader.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;
using hb::relay::RelayClient;
using hb::relay::RelayOptions;
using hb::test::waitFor;

namespace {

// Lets the event loop run for `span` (only to show that something does NOT happen).
void idle(std::chrono::milliseconds span) {
    QElapsedTimer timer;
    timer.start();
    waitFor([&] { return timer.elapsed() >= span.count(); }, span + 1s);
}

// A WebSocket server standing in for the relay service: records every link and what it carries.
struct TestRelay {
    struct Link {
        QWebSocket* socket;
        QNetworkRequest request;
        QList<QJsonObject> replies;
        int closeCode = 0; ///< set once closed
    };
    std::vector<std::unique_ptr<Link>> links; // outlives the server and the sockets it owns
    QWebSocketServer server{QStringLiteral("relay"), QWebSocketServer::NonSecureMode};
    TestRelay() {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QWebSocketServer::newConnection, [this] {
            while (QWebSocket* socket = server.nextPendingConnection()) {
                socket->setParent(&server); // the server hands its sockets over unowned
                links.push_back(std::make_unique<Link>(Link{socket, socket->request(), {}}));
                Link* link = links.back().get();
                QObject::connect(socket, &QWebSocket::textMessageReceived, [link](const QString& text) {
                    link->replies.append(QJsonDocument::fromJson(text.toUtf8()).object());
                });
                QObject::connect(socket, &QWebSocket::disconnected,
                                 [link] { link->closeCode = link->socket->closeCode(); });
            }
        });
    }
    QString base() const { return QStringLiteral("ws://127.0.0.1:") + QString::number(server.serverPort()); }
    bool waitLinks(size_t count) {
        return waitFor([&] { return links.size() >= count; });
    }
    QJsonObject roundTrip(const QString& path) {
        const QString reqId = QString::number(++sent);
        links.back()->socket->sendTextMessage(u"{\"reqId\":\"" + reqId +
                                              u"\",\"method\":\"GET\",\"path\":\"" + path + u"\"}");
        QJsonObject reply;
        waitFor([&] {
            for (const auto& link : links)
                for (const QJsonObject& r : link->replies)
                    if (r.value(u"reqId").toString() == reqId)
                        return (reply = r), true;
            return false;
        });
        return reply;
    }
    int sent = 0;
};

// The agent's local server: reads each request with the server's reader, records it, and answers
// with canned bytes (none: it never answers).
struct LocalServer {
    QTcpServer server;
    QList<hb::server::Request> requests;
    QByteArray answer = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}";
    LocalServer() {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                auto reader = std::make_shared<hb::server::RequestReader>(16 * 1024, 1024 * 1024);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, reader] {
                    if (reader->feed(socket->readAll()) != hb::server::RequestReader::State::Complete)
                        return;
                    requests.append(reader->request());
                    socket->write(answer);
                });
            }
        });
    }
};

std::unique_ptr<RelayClient> makeClient(
    const QString& base, std::function<quint16()> port = [] { return quint16(0); },
    RelayOptions options = {}) {
    options.key = "secret-key";
    if (options.reconnectDelay == 5000ms)
        options.reconnectDelay = 300ms;
    return std::make_unique<RelayClient>(QStringLiteral("id-1"), base, std::move(port), options);
}

// Catches: linking before being switched on, a wrong path or identifier, the key left out, a change
// from another thread lost or acted on twice, a disable that does not close with 1000, and a stale
// close tearing down the newer link or scheduling a second one.
TEST(RelayClient, LinkFollowsTheSwitchWithItsIdentifierAndKey) {
    TestRelay relay;
    auto client = makeClient(relay.base());
    idle(100ms);
    EXPECT_TRUE(relay.links.empty()) << "the constructor must not connect";
    std::thread([&] { client->setEnabled(true); }).join();
    ASSERT_TRUE(relay.waitLinks(1));
    const QNetworkRequest& request = relay.links[0]->request;
    EXPECT_EQ(request.url().path(), u"/mac/ws");
    EXPECT_EQ(request.url().query(), u"id=id-1");
    EXPECT_EQ(request.rawHeader("x-hb-relay-key"), "secret-key");
    std::thread([&] { client->setEnabled(true); }).join();

    client->setEnabled(false);
    EXPECT_FALSE(client->isConnected());
    client->setEnabled(true);
    ASSERT_TRUE(relay.waitLinks(2));
    ASSERT_TRUE(waitFor([&] { return relay.links[0]->closeCode != 0; }));
    EXPECT_EQ(relay.links[0]->closeCode, 1000);
    idle(1s);
    EXPECT_EQ(relay.links.size(), 2u) << "a stale failure scheduled a reconnect";
    EXPECT_EQ(relay.links[1]->closeCode, 0) << "a stale failure closed the newer link";
}

// Catches: reconnecting at once (a hammering loop) or never, and reconnecting once switched off.
TEST(RelayClient, ReconnectsAfterTheDelayUntilSwitchedOff) {
    TestRelay relay;
    auto client = makeClient(relay.base());
    client->setEnabled(true);
    ASSERT_TRUE(relay.waitLinks(1));
    relay.links[0]->socket->close();
    idle(100ms);
    EXPECT_EQ(relay.links.size(), 1u) << "reconnected before the delay";
    ASSERT_TRUE(relay.waitLinks(2));
    relay.links[1]->socket->close();
    ASSERT_TRUE(waitFor([&] { return relay.links[1]->closeCode != 0; }));
    client->setEnabled(false);
    idle(1s);
    EXPECT_EQ(relay.links.size(), 2u);
}

// A relay that accepts TCP and goes quiet, optionally after the opening handshake (pings unanswered).
struct SilentRelay {
    QTcpServer server;
    int attempts = 0;
    explicit SilentRelay(bool handshake) {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this, handshake] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                ++attempts;
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, handshake] {
                    const QByteArray head = socket->readAll();
                    const qsizetype at = head.toLower().indexOf("sec-websocket-key:");
                    if (!handshake || at < 0)
                        return;
                    const QByteArray key = head.mid(at + 18, head.indexOf("\r\n", at) - at - 18).trimmed();
                    socket->write(
                        "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                        "Sec-WebSocket-Accept: " +
                        QCryptographicHash::hash(QByteArray(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"),
                                                 QCryptographicHash::Sha1)
                            .toBase64() +
                        "\r\n\r\n");
                });
            }
        });
    }
};

// Catches: a link that never opens, or opens and then answers nothing, kept as if alive; and a
// live link that answers pings dropped all the same.
TEST(RelayClient, SilentLinksAreReplacedAndLiveOnesKept) {
    RelayOptions options;
    options.reconnectDelay = 100ms;
    options.pingInterval = 150ms;
    for (const bool handshake : {false, true}) {
        SilentRelay silent(handshake);
        auto client = makeClient(
            QStringLiteral("ws://127.0.0.1:") + QString::number(silent.server.serverPort()),
            [] { return quint16(0); }, options);
        client->setEnabled(true);
        EXPECT_TRUE(waitFor([&] { return silent.attempts >= 3; }, 10s)) << "handshake " << handshake;
    }
    TestRelay live;
    options.pingInterval = 400ms;
    auto client = makeClient(
        live.base(), [] { return quint16(0); }, options);
    client->setEnabled(true);
    ASSERT_TRUE(live.waitLinks(1));
    idle(1500ms);
    EXPECT_EQ(live.links.size(), 1u);
}

// Catches: the local answer's status, type or bytes altered on the way back; a redirect followed;
// an event stream holding the replay open; no answer (nothing listening, not yet listening, too
// slow) left without a reply; the replay not marked as relayed or sent to the default port.
TEST(RelayClient, ReplaysReachTheLocalServerAndTheirAnswersComeBack) {
    TestRelay relay;
    LocalServer local;
    quint16 port = local.server.serverPort();
    RelayOptions options;
    options.replayTimeout = 400ms;
    auto client = makeClient(
        relay.base(), [&] { return port; }, options);
    client->setEnabled(true);
    ASSERT_TRUE(relay.waitLinks(1));
    const struct {
        QByteArray answer;
        quint16 port;
        int status;
        const char* contentType;
        QByteArray body;
    } rows[] = {
        {"HTTP/1.1 401 ERR\r\nContent-Type: application/json\r\nSet-Cookie: a=b\r\nContent-Length: 12\r\n\r\n"
         "{\"ok\":false}",
         local.server.serverPort(), 401, "application/json", "{\"ok\":false}"},
        {"HTTP/1.1 301 Moved\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n", local.server.serverPort(),
         301, "", ""},
        {"HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n\r\n: connected\n\n",
         local.server.serverPort(), 204, "", ""},
        {"", local.server.serverPort(), 500, "", ""},
        {"", 0, 500, "", ""},
        {"", hb::test::freePort(), 500, "", ""},
    };
    for (const auto& row : rows) {
        local.answer = row.answer;
        port = row.port;
        const QJsonObject reply = relay.roundTrip(QStringLiteral("/api/icon?app=Text%20Editor"));
        EXPECT_EQ(reply.value(u"status").toInt(), row.status) << row.answer.constData();
        EXPECT_EQ(reply.value(u"headers").toObject().value(u"Content-Type").toString(),
                  QString::fromUtf8(row.contentType));
        const QByteArray body = reply.contains(u"bodyBase64")
                                    ? QByteArray::fromBase64(reply.value(u"bodyBase64").toString().toLatin1())
                                    : reply.value(u"body").toString().toUtf8();
        EXPECT_EQ(body, row.body) << row.answer.constData();
    }
    ASSERT_EQ(local.requests.size(), 4) << "one request per row that has a server, no redirect followed";
    EXPECT_EQ(local.requests[0].path, u"/api/icon");
    EXPECT_EQ(local.requests[0].query.value(QStringLiteral("app")), u"Text Editor");
    EXPECT_EQ(local.requests[0].header(QStringLiteral("x-hb-relay")), u"1");
}

// Catches: slow replays queueing the others (an HTTP client caps connections per host), a reply
// lost because the link it came on was replaced, and a crash when the client goes with a replay
// in flight.
TEST(RelayClient, SlowReplaysRunTogetherAndAnswerOnTheCurrentLink) {
    TestRelay relay;
    LocalServer local;
    local.answer.clear();
    RelayOptions options;
    options.replayTimeout = 1500ms;
    auto client = makeClient(
        relay.base(), [&] { return local.server.serverPort(); }, options);
    client->setEnabled(true);
    ASSERT_TRUE(relay.waitLinks(1));
    for (int i = 0; i < 16; ++i)
        relay.links[0]->socket->sendTextMessage(u"{\"reqId\":\"s" + QString::number(i) +
                                                u"\",\"method\":\"GET\",\"path\":\"/slow\"}");
    EXPECT_TRUE(waitFor([&] { return local.requests.size() == 16; }, 3s)) << local.requests.size();
    relay.links[0]->socket->close();
    ASSERT_TRUE(relay.waitLinks(2));
    EXPECT_TRUE(waitFor([&] { return relay.links[1]->replies.size() == 16; }));
    relay.links[1]->socket->sendTextMessage(QStringLiteral(R"({"reqId":"last","method":"GET","path":"/a"})"));
    ASSERT_TRUE(waitFor([&] { return local.requests.size() == 17; }));
    client.reset();
    EXPECT_TRUE(waitFor([&] { return relay.links[1]->closeCode != 0; }));
}

} // namespace
