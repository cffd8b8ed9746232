// The relay link: where it connects, switching it on and off, and reconnecting.
#include "RelayFixtures.h"
#include "relay/RelayClient.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;
using hb::relay::RelayClient;
using hb::relay::RelayOptions;
using hb::test::TestRelay;
using hb::test::waitFor;

namespace {

const QString kRelayId = QStringLiteral("0f8e2d4c-1b3a-4c5d-9e6f-7a8b9c0d1e2f");
constexpr auto kDelay = 300ms;

std::unique_ptr<RelayClient> makeClient(const QString& base) {
    RelayOptions options;
    options.reconnectDelay = kDelay;
    return std::make_unique<RelayClient>(
        kRelayId, base, [] { return quint16(0); }, options);
}

// Lets the event loop run for `span` (used only to show that something does NOT happen).
void idle(std::chrono::milliseconds span) {
    QElapsedTimer timer;
    timer.start();
    waitFor([&] { return timer.elapsed() >= span.count(); }, span + 1s);
}

TEST(RelayLink, ConnectsToAgentPathWithIdentifierOnlyWhenEnabled) {
    TestRelay relay;
    auto client = makeClient(relay.base());
    idle(100ms);
    EXPECT_EQ(relay.linkCount(), 0) << "the constructor must not connect";

    client->setEnabled(true);
    ASSERT_TRUE(relay.waitLinks(1));
    EXPECT_EQ(relay.latest().url.path(), u"/mac/ws");
    EXPECT_EQ(relay.latest().url.query(), u"id=" + kRelayId);
    EXPECT_TRUE(client->enabled());
}

TEST(RelayLink, IsConnectedOnlyAfterFirstMessageAndDataMessagesKeepTheLoop) {
    TestRelay relay;
    auto client = makeClient(relay.base());
    client->setEnabled(true);
    ASSERT_TRUE(relay.waitLinks(1));
    idle(100ms);
    EXPECT_FALSE(client->isConnected()) << "an open socket without messages is not connected";

    relay.latest().socket->sendBinaryMessage("\x01\x02");
    ASSERT_TRUE(waitFor([&] { return client->isConnected(); }));
    // The loop goes on after a data message: a following text request is answered (500: no local server).
    relay.send(QStringLiteral(R"({"reqId":"after-data","method":"GET","path":"/api/x"})"));
    EXPECT_EQ(relay.waitReply(QStringLiteral("after-data")).value(u"status").toInt(), 500);
    EXPECT_EQ(relay.replies().size(), 1) << "the data message must not be answered";
}

// setEnabled may come from a worker thread (the configuration endpoint); only a change acts.
TEST(RelayLink, OnlyAChangeActsAlsoFromAnotherThread) {
    TestRelay relay;
    auto client = makeClient(relay.base());
    std::thread([&] { client->setEnabled(true); }).join();
    EXPECT_TRUE(client->enabled());
    ASSERT_TRUE(relay.waitLinks(1));
    client->setEnabled(true);
    std::thread([&] { client->setEnabled(true); }).join();
    idle(3 * kDelay);
    EXPECT_EQ(relay.linkCount(), 1);
    EXPECT_FALSE(relay.latest().closed);

    std::thread([&] { client->setEnabled(false); }).join();
    ASSERT_TRUE(waitFor([&] { return relay.latest().closed; }));
    EXPECT_EQ(relay.latest().closeCode, 1000);
}

// The old socket's close completes after the new one is up; it must not tear the new one down.
TEST(RelayLink, EnableDisableEnableClosesWith1000AndOpensOneNewLinkThatStays) {
    TestRelay relay;
    auto client = makeClient(relay.base());
    client->setEnabled(true);
    ASSERT_TRUE(relay.waitLinks(1));
    relay.latest().socket->sendBinaryMessage("x");
    ASSERT_TRUE(waitFor([&] { return client->isConnected(); }));

    client->setEnabled(false);
    EXPECT_FALSE(client->isConnected());
    client->setEnabled(true);
    ASSERT_TRUE(relay.waitLinks(2));
    ASSERT_TRUE(waitFor([&] { return relay.link(0).closed; }));
    EXPECT_EQ(relay.link(0).closeCode, 1000);

    idle(3 * kDelay);
    EXPECT_EQ(relay.linkCount(), 2) << "a stale failure scheduled a reconnect";
    EXPECT_FALSE(relay.link(1).closed) << "a stale failure closed the newer link";
}

TEST(RelayLink, ReconnectsAfterADropButNotWhileDisabled) {
    TestRelay relay;
    auto client = makeClient(relay.base());
    client->setEnabled(true);
    ASSERT_TRUE(relay.waitLinks(1));

    relay.latest().socket->close();
    idle(kDelay / 3);
    EXPECT_EQ(relay.linkCount(), 1) << "reconnected before the delay";
    ASSERT_TRUE(relay.waitLinks(2));

    // Dropped again, then switched off while the reconnect is pending: no further attempt.
    relay.latest().socket->close();
    ASSERT_TRUE(waitFor([&] { return !client->isConnected() && relay.latest().closed; }));
    client->setEnabled(false);
    idle(3 * kDelay);
    EXPECT_EQ(relay.linkCount(), 2);
}

TEST(RelayLink, UnreachableServiceIsRetriedWithoutLimitUntilDisabled) {
    // Accepts TCP and hangs up at once: every attempt is one connection here.
    QTcpServer refuser;
    ASSERT_TRUE(refuser.listen(QHostAddress::LocalHost, 0));
    int attempts = 0;
    QObject::connect(&refuser, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = refuser.nextPendingConnection()) {
            ++attempts;
            socket->abort();
            socket->deleteLater();
        }
    });
    auto client = makeClient(QStringLiteral("ws://127.0.0.1:") + QString::number(refuser.serverPort()));
    client->setEnabled(true);
    ASSERT_TRUE(waitFor([&] { return attempts >= 4; }, 10s));
    client->setEnabled(false);
    idle(100ms);
    const int settled = attempts;
    idle(3 * kDelay);
    EXPECT_EQ(attempts, settled);
}

// A relay that accepts TCP and then goes quiet: optionally after completing the opening handshake,
// never answering pings or anything else. Each attempt is one connection.
class SilentRelay {
  public:
    explicit SilentRelay(bool completeHandshake) {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this, completeHandshake] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                ++attempts;
                if (completeHandshake)
                    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { upgrade(socket); });
            }
        });
    }
    QString base() const { return QStringLiteral("ws://127.0.0.1:") + QString::number(server_.serverPort()); }
    int attempts = 0;

  private:
    static void upgrade(QTcpSocket* socket) {
        if (socket->property("upgraded").toBool())
            return void(socket->readAll()); // frames, pings included, are swallowed
        const QByteArray head = socket->readAll();
        const qsizetype at = head.toLower().indexOf("sec-websocket-key:");
        const QByteArray key = head.mid(at + 18, head.indexOf("\r\n", at) - at - 18).trimmed();
        const QByteArray accept =
            QCryptographicHash::hash(QByteArray(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"),
                                     QCryptographicHash::Sha1)
                .toBase64();
        socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      "Sec-WebSocket-Accept: " +
                      accept + "\r\n\r\n");
        socket->setProperty("upgraded", true);
    }
    QTcpServer server_;
};

// A link that never opens, or opens and then answers nothing (not even pings), is given up and
// reconnected rather than kept as if it were alive.
TEST(RelayLink, SilentLinksAreDroppedAndReconnected) {
    for (const bool completeHandshake : {false, true}) {
        SilentRelay relay(completeHandshake);
        RelayOptions options;
        options.reconnectDelay = 100ms;
        options.pingInterval = 150ms;
        RelayClient client(
            kRelayId, relay.base(), [] { return quint16(0); }, options);
        bool opened = false;
        QObject::connect(&client, &RelayClient::socketOpened, [&] { opened = true; });
        client.setEnabled(true);
        EXPECT_TRUE(waitFor([&] { return relay.attempts >= 3; }, 10s)) << "handshake " << completeHandshake;
        EXPECT_EQ(opened, completeHandshake);
    }
}

TEST(RelayLink, AnsweredPingsKeepTheLinkOpen) {
    TestRelay relay;
    RelayOptions options;
    options.pingInterval = 400ms; // ample for a loopback pong, even on a loaded machine
    RelayClient client(
        kRelayId, relay.base(), [] { return quint16(0); }, options);
    client.setEnabled(true);
    ASSERT_TRUE(relay.waitLinks(1));
    idle(1500ms); // three pings
    EXPECT_EQ(relay.linkCount(), 1);
    EXPECT_FALSE(relay.latest().closed);
}

} // namespace
