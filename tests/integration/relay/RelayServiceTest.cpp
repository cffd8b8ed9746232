// harbly-relay against scripted agents and phones: correlation, hand-over, limits and timeouts.
#include "RelaySupport.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using hb::relay::service::ServiceOptions;
using hb::test::Phone;
using hb::test::ServiceThread;
using hb::test::TestAgent;
using hb::test::waitFor;

namespace {

const QString kId = QStringLiteral("agent-1");

ServiceOptions tightOptions() {
    ServiceOptions options;
    options.pingInterval = 1s; // long enough for a live test agent's pong, short enough to drop a silent one
    options.replyTimeout = 600ms;
    options.maxInFlightPerAgent = 2;
    options.maxAgents = 2;
    options.maxBodyBytes = 1024;
    options.headerTimeout = 300ms;
    return options;
}

// Catches: phone headers beyond token/type/accept forwarded (cookies, a forged relay marker),
// replies matched to the wrong phone, noise from the agent settling a request, requests in flight
// lost when the agent's newer link replaces the old one, and phones left waiting when it leaves.
TEST(RelayService, RequestsTravelAsMessagesAndRepliesFindTheirPhone) {
    ServiceThread service;
    Phone phone;
    auto first = std::make_unique<TestAgent>(service.base(), kId, "key");
    ASSERT_TRUE(service.waitAgent(kId));
    QNetworkRequest request(QUrl(service.phoneUrl(kId, QStringLiteral("/api/type?x=1"))));
    for (const auto& [name, value] : {std::pair{"X-HB-Token", "tok"},
                                      {"Content-Type", "application/json"},
                                      {"Accept", "*/*"},
                                      {"Cookie", "a=b"},
                                      {"x-hb-relay", "0"}})
        request.setRawHeader(name, value);
    QNetworkAccessManager network;
    QNetworkReply* typed = network.post(request, "h\xc3\xa9llo");
    QNetworkReply* other = phone.start("GET", service.phoneUrl(kId, QStringLiteral("/two")));
    ASSERT_TRUE(first->waitRequests(2));
    const int typedAt = first->requests[0].value(u"path").toString() == u"/two" ? 1 : 0;
    const QJsonObject message = first->requests[typedAt];
    EXPECT_EQ(message.value(u"method").toString(), u"POST");
    EXPECT_EQ(message.value(u"path").toString(), u"/api/type?x=1");
    EXPECT_EQ(message.value(u"body").toString(), u"h\u00e9llo");
    EXPECT_EQ(message.value(u"headers").toObject().keys(),
              (QStringList{QStringLiteral("accept"), QStringLiteral("content-type"),
                           QStringLiteral("x-hb-token")}));

    for (const char* noise : {"not json", "[1]", R"({"status":200})", R"({"reqId":"unknown","status":200})"})
        first->socket.sendTextMessage(QString::fromLatin1(noise));
    auto second = std::make_unique<TestAgent>(service.base(), kId, "key"); // the agent restarting
    ASSERT_TRUE(waitFor([&] { return first->closeCode == 1000; })) << "the older link stays open";
    second->requests = first->requests;
    second->reply(1 - typedAt, 200, QStringLiteral("/two"));
    second->reply(typedAt, 201, QStringLiteral("done"), QStringLiteral("text/plain"));
    const auto typedAnswer = Phone::wait(typed);
    EXPECT_EQ(typedAnswer.status, 201);
    EXPECT_EQ(typedAnswer.contentType, "text/plain");
    EXPECT_EQ(typedAnswer.body, "done");
    EXPECT_EQ(Phone::wait(other).body, "/two");

    QNetworkReply* pending = phone.start("GET", service.phoneUrl(kId, QStringLiteral("/x")));
    ASSERT_TRUE(second->waitRequests(3));
    second->socket.close();
    EXPECT_EQ(Phone::wait(pending).status, 502);
    EXPECT_TRUE(service.waitAgent(kId, false));
}

// Catches: a silent agent holding phones for ever, more requests in flight than allowed, a late
// reply settling a newer request, a phone hanging up without freeing its slot, and agents beyond
// the cap (the identifier already linked may still come back).
TEST(RelayService, LimitsHoldPerAgentAndPerService) {
    ServiceThread service(tightOptions());
    Phone phone;
    TestAgent agent(service.base(), kId);
    ASSERT_TRUE(service.waitAgent(kId));
    QNetworkReply* first = phone.start("GET", service.phoneUrl(kId, QStringLiteral("/a")));
    QNetworkReply* second = phone.start("GET", service.phoneUrl(kId, QStringLiteral("/b")));
    ASSERT_TRUE(agent.waitRequests(2));
    EXPECT_EQ(phone.request("GET", service.phoneUrl(kId, QStringLiteral("/c"))).status, 503);
    EXPECT_EQ(Phone::wait(first).status, 504);
    EXPECT_EQ(Phone::wait(second).status, 504);
    agent.reply(0, 200, QStringLiteral("late"));
    QNetworkReply* third = phone.start("GET", service.phoneUrl(kId, QStringLiteral("/d")));
    ASSERT_TRUE(agent.waitRequests(3));
    agent.reply(2, 200, QStringLiteral("fresh"));
    EXPECT_EQ(Phone::wait(third).body, "fresh");

    QNetworkReply* gone = phone.start("GET", service.phoneUrl(kId, QStringLiteral("/e")));
    ASSERT_TRUE(waitFor([&] { return service.inFlight(kId) == 1; }));
    gone->abort();
    EXPECT_TRUE(waitFor([&] { return service.inFlight(kId) == 0; }));

    TestAgent b(service.base(), QStringLiteral("b"));
    ASSERT_TRUE(service.waitAgent(QStringLiteral("b")));
    TestAgent c(service.base(), QStringLiteral("c"));
    EXPECT_TRUE(waitFor([&] { return c.socket.state() == QAbstractSocket::UnconnectedState; }));
    TestAgent again(service.base(), kId);
    EXPECT_TRUE(again.waitOpen());
}

// Catches: a wrong answer or a hang for requests without an agent, malformed or oversized ones, and
// a chunked body forwarded as empty (how phone paths split is the relay messages' unit test).
TEST(RelayService, AnswersOfItsOwn) {
    ServiceThread service(tightOptions());
    const struct {
        QByteArray bytes;
        int status; ///< 0: closed without an answer
    } rows[] = {
        {"GET /healthz HTTP/1.1\r\n\r\n", 200},
        {"GET /phone/nobody/api/config HTTP/1.1\r\n\r\n", 502},
        {"GET / HTTP/1.1\r\nX: " + QByteArray(17 * 1024, 'a') + "\r\n\r\n", 431},
        {"POST /phone/a/x HTTP/1.1\r\nContent-Length: 1025\r\n\r\n", 413},
        {"POST /phone/a/x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 501},
        {"POST /phone/nobody/x HTTP/1.1\r\nContent-Length: 2\r\n\r\n\xff\xfe", 400},
        {"GET /phone/a/ HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n", 404},
        {"GET /mac/ws HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n", 400},
        {"GET /healthz HTTP/1.1\r\n", 0},
    };
    for (const auto& row : rows) {
        const auto response = hb::test::rawRequest(service.port(), row.bytes, 3s);
        EXPECT_EQ(response.status, row.status) << row.bytes.left(60).constData();
        EXPECT_TRUE(response.closed) << row.bytes.left(60).constData();
    }
    hb::test::RawClient slow(service.port());
    for (const char c : QByteArray("GET /healthz HTTP/1.1\r\n\r\n"))
        ASSERT_TRUE(slow.send(QByteArray(1, c)));
    EXPECT_TRUE(slow.read(3s).startsWith("HTTP/1.1 200 OK\r\n"));
}

// Catches: a link whose peer vanished holding its identifier for good (pings unanswered), a live
// one dropped, and connections never released (the count would refuse everyone in the end).
TEST(RelayService, SilentLinksGoAndConnectionsAreReleased) {
    ServiceThread service(tightOptions());
    TestAgent live(service.base(), QStringLiteral("live"));
    hb::test::RawClient silent(service.port());
    ASSERT_TRUE(silent.send("GET /mac/ws?id=silent HTTP/1.1\r\nHost: relay\r\nUpgrade: websocket\r\n"
                            "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                            "Sec-WebSocket-Version: 13\r\n\r\n"));
    ASSERT_TRUE(silent.read(3s, 12).startsWith("HTTP/1.1 101"));
    ASSERT_TRUE(service.waitAgent(QStringLiteral("silent")));
    EXPECT_TRUE(service.waitAgent(QStringLiteral("silent"), false));
    EXPECT_TRUE(service.hasAgent(QStringLiteral("live")));
    live.socket.close();
    hb::test::rawRequest(service.port(), "GET / HTTP/9\r\n\r\n", 2s);
    EXPECT_TRUE(waitFor([&] { return service.openConnections() == 0; })) << service.openConnections();
}

// Catches: one address starving the rest. Its links and requests beyond the rate get 429, while
// other addresses, and clients a trusted balancer names, keep their own allowance.
TEST(RelayService, EachClientAddressHasItsOwnAllowance) {
    ServiceOptions options;
    options.linksPerSecond = 1; // bursts of 2
    options.requestsPerSecond = 1;
    options.trustedProxy = QHostAddress(QStringLiteral("127.0.0.9"));
    ServiceThread service(options);
    const QByteArray link = "GET /mac/ws?id=x HTTP/1.1\r\nUpgrade: websocket\r\n\r\n";
    const QByteArray phone = "GET /phone/x/ HTTP/1.1\r\n\r\n";
    const QByteArray named = "GET /phone/x/ HTTP/1.1\r\nX-Real-IP: 203.0.113.7\r\n\r\n";
    const struct {
        QByteArray bytes;
        const char* from;
        int status; ///< 0: handed to the WebSocket handshake, which drops a request without a key
    } rows[] = {
        {link, "127.0.0.1", 0},    {link, "127.0.0.1", 0},    {link, "127.0.0.1", 429},
        {phone, "127.0.0.1", 502}, {phone, "127.0.0.1", 502}, {phone, "127.0.0.1", 429},
        {phone, "127.0.0.2", 502}, {named, "127.0.0.9", 502}, {named, "127.0.0.9", 502},
        {named, "127.0.0.9", 429}, {phone, "127.0.0.9", 502},
    };
    for (const auto& row : rows) {
        const auto response = hb::test::rawRequest(service.port(), row.bytes, 3s, QHostAddress::LocalHost,
                                                   QHostAddress(QString::fromLatin1(row.from)));
        EXPECT_EQ(response.status, row.status) << row.bytes.constData() << " from " << row.from;
    }
}

} // namespace
