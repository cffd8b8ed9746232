// The agent's relay link over real loopback sockets: when it links, how it keeps the link, and how
// a relayed request travels to the local server and back.
#include "relay/RelayClient.h"
#include "support/TestSupport.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;
using hb::relay::RelayClient;
using hb::relay::RelayOptions;
using hb::test::HttpServer;
using hb::test::waitFor;
using namespace Qt::StringLiterals;

namespace {

// A WebSocket server standing in for the relay service: records every link and what it carries.
struct TestRelay {
    struct Link {
        QWebSocket* socket;
        QNetworkRequest request;
        QList<QJsonObject> replies;
        int closeCode = 0; ///< set once closed
    };
    std::vector<std::unique_ptr<Link>> links; // outlives the server and the sockets it owns
    QTcpServer listener; // hands its connections to `server`, so that a test can silence one
    std::vector<QPointer<QTcpSocket>> streams;
    QWebSocketServer server{QStringLiteral("relay"), QWebSocketServer::NonSecureMode};
    TestRelay() {
        listener.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&listener, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* stream = listener.nextPendingConnection())
                server.handleConnection(streams.emplace_back(stream));
        });
        QObject::connect(&server, &QWebSocketServer::newConnection, [this] {
            while (QWebSocket* socket = server.nextPendingConnection()) {
                socket->setParent(&server); // the server hands its sockets over unowned
                Link* link = links.emplace_back(new Link{socket, socket->request(), {}}).get();
                QObject::connect(socket, &QWebSocket::textMessageReceived, [link](const QString& text) {
                    link->replies.append(QJsonDocument::fromJson(text.toUtf8()).object());
                });
                QObject::connect(socket, &QWebSocket::disconnected,
                                 [link] { link->closeCode = link->socket->closeCode(); });
            }
        });
    }
    bool waitLinks(size_t count) {
        return waitFor([&] { return links.size() >= count; });
    }
    void send(const QString& reqId) {
        links.back()->socket->sendTextMessage(u"{\"reqId\":\"" + reqId +
                                              u"\",\"method\":\"GET\",\"path\":\"/api/icon?app=A%20B\"}");
    }
};

// Catches: linking before being switched on, a wrong path or identifier, the key left out, a switch
// from another thread lost or acted on twice, a disable that does not close with 1000, a stale close
// tearing down the newer link or scheduling a second one, a live link dropped or a silent one kept,
// reconnecting at once, never, or once switched off; a local answer altered on the way back, a
// redirect followed, an event stream holding the replay open, no answer (nothing listening, too
// slow) left without a reply, the replay not marked as relayed, slow replays queueing the others, a
// reply lost because its link was replaced, a crash when the client goes with a replay in flight; a
// link that never opens kept waiting.
TEST(RelayClient, LinkFollowsTheSwitchAndCarriesReplays) {
    TestRelay relay;
    HttpServer local;
    quint16 port = local.port();
    // Pings every 400 ms: the idle spells below show that live links are kept.
    const RelayOptions options{
        .key = "secret-key", .reconnectDelay = 300ms, .replayTimeout = 1000ms, .pingInterval = 400ms};
    auto client = std::make_unique<RelayClient>(
        u"id-1"_s, u"ws://127.0.0.1:"_s + QString::number(relay.listener.serverPort()), [&] { return port; },
        options);
    QTcpServer silent; // accepts and says nothing: a second client's links never open
    silent.listen(QHostAddress::LocalHost, 0);
    RelayClient unopened(
        u"id-2"_s, u"ws://127.0.0.1:"_s + QString::number(silent.serverPort()), [] { return quint16(0); },
        options);
    unopened.setEnabled(true);
    waitFor([] { return false; }, 100ms);
    EXPECT_TRUE(relay.links.empty()) << "the constructor must not connect";
    std::thread([&] { client->setEnabled(true); }).join();
    ASSERT_TRUE(relay.waitLinks(1));
    const QNetworkRequest& request = relay.links[0]->request;
    EXPECT_EQ(request.url().path() + u'?' + request.url().query(), u"/mac/ws?id=id-1");
    EXPECT_EQ(request.rawHeader("x-hb-relay-key"), "secret-key");
    std::thread([&] { client->setEnabled(true); }).join();

    client->setEnabled(false);
    EXPECT_FALSE(client->isConnected());
    client->setEnabled(true);
    ASSERT_TRUE(relay.waitLinks(2));
    EXPECT_TRUE(waitFor([&] { return relay.links[0]->closeCode == 1000; })) << relay.links[0]->closeCode;
    waitFor([] { return false; }, 1s);
    EXPECT_EQ(relay.links.size(), 2u) << "a stale failure scheduled a reconnect";
    EXPECT_EQ(relay.links[1]->closeCode, 0) << "a stale failure closed the newer link";

    relay.links[1]->socket->close();
    waitFor([] { return false; }, 100ms);
    EXPECT_EQ(relay.links.size(), 2u) << "reconnected before the delay";
    ASSERT_TRUE(relay.waitLinks(3));
    relay.links[2]->socket->close();
    ASSERT_TRUE(waitFor([&] { return relay.links[2]->closeCode != 0; }));
    client->setEnabled(false);
    waitFor([] { return false; }, 1s);
    EXPECT_EQ(relay.links.size(), 3u);

    client->setEnabled(true);
    ASSERT_TRUE(relay.waitLinks(4));
    relay.streams.back()->blockSignals(true); // the relay stops answering pings
    ASSERT_TRUE(relay.waitLinks(5)) << "a link that answers no ping kept";
    TestRelay::Link& link = *relay.links[4];
    HttpServer::Reply never;
    never.never = true;
    const struct {
        HttpServer::Reply answer;
        quint16 port;
        int status; ///< when the answer's own, its type and body come back as they were
    } rows[] = {
        {{401, R"({"ok":false})", "application/json", "Set-Cookie: a=b\r\n"}, local.port(), 401},
        {{301, "", "", "Location: /elsewhere\r\n"}, local.port(), 301},
        {{200, ": connected\n\n", "text/event-stream", "", false, true}, local.port(), 204},
        {never, local.port(), 500},
        {{}, 0, 500},
        {{}, hb::test::freePort(), 500},
    };
    for (const auto& row : rows) {
        local.setAnswer([&row](const HttpServer::Request&) { return row.answer; });
        port = row.port;
        relay.send(QString::number(&row - rows));
        ASSERT_TRUE(waitFor([&] { return link.replies.size() > &row - rows; }));
        const QJsonObject reply = link.replies.last();
        const bool own = row.status == row.answer.status;
        EXPECT_EQ(reply.value(u"status").toInt(), row.status) << row.status;
        EXPECT_EQ(reply.value(u"headers").toObject().value(u"Content-Type").toString().toUtf8(),
                  own ? row.answer.contentType : "");
        EXPECT_EQ(reply.value(u"body").toString().toUtf8(), own ? row.answer.body : "") << row.status;
    }
    ASSERT_EQ(local.requests().size(), 4) << "one request per row that has a server, no redirect followed";
    EXPECT_EQ(local.requests()[0].target, "/api/icon?app=A%20B");
    EXPECT_EQ(local.requests()[0].headers.value("x-hb-relay"), "1");

    port = local.port();
    local.setAnswer([&](const HttpServer::Request&) { return never; });
    for (int i = 0; i < 16; ++i)
        relay.send(QStringLiteral("s") + QString::number(i));
    EXPECT_TRUE(waitFor([&] { return local.requests().size() == 20; }, 3s)) << local.requests().size();
    link.socket->close();
    ASSERT_TRUE(relay.waitLinks(6));
    EXPECT_TRUE(waitFor([&] { return relay.links[5]->replies.size() == 16; }));
    relay.send(QStringLiteral("last"));
    ASSERT_TRUE(waitFor([&] { return local.requests().size() == 21; }));
    client.reset();
    EXPECT_TRUE(waitFor([&] { return relay.links[5]->closeCode != 0; }));
    EXPECT_TRUE(waitFor([&] { return silent.findChildren<QTcpSocket*>().size() >= 3; }, 10s))
        << "a link that never opens kept waiting";
}

} // namespace
