// harbly-relay against scripted agents and phones: message shapes, correlation, limits, timeouts.
#include "RelaySupport.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using hb::relay::service::ServiceOptions;
using hb::test::Phone;
using hb::test::PhoneResponse;
using hb::test::ServiceThread;
using hb::test::TestAgent;
using hb::test::waitFor;

namespace {

const QString kId = QStringLiteral("agent-1");

QJsonObject replyTo(const QJsonObject& request, int status, const QString& type, const QString& body) {
    QJsonObject headers;
    if (!type.isEmpty())
        headers.insert(QStringLiteral("Content-Type"), type);
    return {{QStringLiteral("reqId"), request.value(u"reqId")},
            {QStringLiteral("status"), status},
            {QStringLiteral("headers"), headers},
            {QStringLiteral("body"), body}};
}

class RelayServiceTest : public ::testing::Test {
  protected:
    explicit RelayServiceTest(ServiceOptions options = {}) : service(options) {}
    QString url(const QString& rest, const QString& id = kId) const {
        return service.httpBase() + QStringLiteral("/phone/") + id + rest;
    }
    std::unique_ptr<TestAgent> connectAgent(const QString& id = kId) {
        auto agent = std::make_unique<TestAgent>(service.wsBase(), id);
        EXPECT_TRUE(agent->waitOpen());
        EXPECT_TRUE(service.waitAgent(id));
        return agent;
    }
    ServiceThread service;
    Phone phone;
};

TEST_F(RelayServiceTest, PhoneRequestTravelsAsRequestMessageAndTheReplyComesBack) {
    auto agent = connectAgent();
    QNetworkReply* pending = phone.start("POST", url(QStringLiteral("/api/type?x=1")), "h\xc3\xa9llo",
                                         {{"X-HB-Token", "tok"},
                                          {"Content-Type", "application/json"},
                                          {"Accept", "*/*"},
                                          {"Cookie", "a=b"},
                                          {"Origin", "http://evil.example"},
                                          {"x-hb-relay", "0"}});
    ASSERT_TRUE(waitFor([&] { return agent->requests.size() == 1; }));
    const QJsonObject request = agent->requests.first();
    EXPECT_FALSE(request.value(u"reqId").toString().isEmpty());
    EXPECT_EQ(request.value(u"method").toString(), u"POST");
    EXPECT_EQ(request.value(u"path").toString(), u"/api/type?x=1");
    EXPECT_EQ(request.value(u"body").toString(), u"h\u00e9llo");
    EXPECT_EQ(request.value(u"headers").toObject(),
              (QJsonObject{{QStringLiteral("x-hb-token"), QStringLiteral("tok")},
                           {QStringLiteral("content-type"), QStringLiteral("application/json")},
                           {QStringLiteral("accept"), QStringLiteral("*/*")}}));

    agent->reply(replyTo(request, 201, QStringLiteral("text/plain"), QStringLiteral("done")));
    const PhoneResponse response = Phone::wait(pending);
    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(response.contentType, "text/plain");
    EXPECT_EQ(response.body, "done");
}

TEST_F(RelayServiceTest, ConcurrentRequestsAreMatchedByReqIdWhateverTheReplyOrder) {
    auto agent = connectAgent();
    QNetworkReply* first = phone.start("GET", url(QStringLiteral("/one")));
    QNetworkReply* second = phone.start("GET", url(QStringLiteral("/two")));
    ASSERT_TRUE(waitFor([&] { return agent->requests.size() == 2; }));
    EXPECT_NE(agent->requests[0].value(u"reqId"), agent->requests[1].value(u"reqId"));
    for (qsizetype i = agent->requests.size() - 1; i >= 0; --i) {
        const QJsonObject& request = agent->requests[i];
        agent->reply(replyTo(request, 200, QStringLiteral("text/plain"), request.value(u"path").toString()));
    }
    agent->reply(replyTo(QJsonObject{{QStringLiteral("reqId"), QStringLiteral("unknown")}}, 200, {}, {}));
    EXPECT_EQ(Phone::wait(first).body, "/one");
    EXPECT_EQ(Phone::wait(second).body, "/two");
}

struct ReplyCase {
    const char* name;
    QJsonObject reply; ///< without "reqId"
    int status;
    QByteArray contentType;
    QByteArray body;
};

void PrintTo(const ReplyCase& c, std::ostream* out) {
    *out << c.name;
}

class RelayReplyShapes : public RelayServiceTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(RelayReplyShapes, BecomeThePhoneAnswer) {
    const ReplyCase& c = GetParam();
    auto agent = connectAgent();
    QNetworkReply* pending = phone.start("GET", url(QStringLiteral("/api/icon?app=X")));
    ASSERT_TRUE(waitFor([&] { return agent->requests.size() == 1; }));
    // Noise first: not JSON, not an object, no reqId. None of it may settle the request.
    agent->socket.sendTextMessage(QStringLiteral("not json"));
    agent->socket.sendTextMessage(QStringLiteral("[1]"));
    agent->socket.sendTextMessage(QStringLiteral(R"({"status":200})"));
    agent->socket.sendBinaryMessage("binary");
    QJsonObject reply = c.reply;
    reply.insert(QStringLiteral("reqId"), agent->requests.first().value(u"reqId"));
    agent->reply(reply);
    const PhoneResponse response = Phone::wait(pending);
    EXPECT_EQ(response.status, c.status);
    EXPECT_EQ(response.contentType, c.contentType);
    EXPECT_EQ(response.body, c.body);
}

const QJsonObject kPngHeaders{{QStringLiteral("Content-Type"), QStringLiteral("image/png")}};

INSTANTIATE_TEST_SUITE_P(
    Replies, RelayReplyShapes,
    ::testing::Values(
        ReplyCase{"Base64BodyWins",
                  {{QStringLiteral("status"), 200},
                   {QStringLiteral("headers"), kPngHeaders},
                   {QStringLiteral("body"), QString()},
                   {QStringLiteral("bodyBase64"), QStringLiteral("iVBORw0KGgo=")}},
                  200,
                  "image/png",
                  QByteArray::fromBase64("iVBORw0KGgo=")},
        ReplyCase{"NoHeadersNoBody", {{QStringLiteral("status"), 204}}, 204, "", ""},
        ReplyCase{"ContentTypeWithLineBreakDropped",
                  {{QStringLiteral("status"), 200},
                   {QStringLiteral("headers"), QJsonObject{{QStringLiteral("Content-Type"),
                                                            QStringLiteral("text/html\r\nSet-Cookie: a=b")}}},
                   {QStringLiteral("body"), QStringLiteral("x")}},
                  200,
                  "",
                  "x"},
        ReplyCase{"StatusNotANumber",
                  {{QStringLiteral("status"), QStringLiteral("200")}},
                  502,
                  "text/plain; charset=utf-8",
                  "502\n"},
        ReplyCase{"StatusFractional",
                  {{QStringLiteral("status"), 200.5}},
                  502,
                  "text/plain; charset=utf-8",
                  "502\n"},
        ReplyCase{
            "StatusOutOfRange", {{QStringLiteral("status"), 600}}, 502, "text/plain; charset=utf-8", "502\n"},
        ReplyCase{"BrokenBase64",
                  {{QStringLiteral("status"), 200},
                   {QStringLiteral("headers"), kPngHeaders},
                   {QStringLiteral("bodyBase64"), QStringLiteral("@@@")}},
                  502,
                  "text/plain; charset=utf-8",
                  "502\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RelayServiceTest, ReplacedAgentHandsOverRequestsInFlight) {
    auto first = std::make_unique<TestAgent>(service.wsBase(), kId, "key");
    ASSERT_TRUE(service.waitAgent(kId));
    QNetworkReply* pending = phone.start("GET", url(QStringLiteral("/slow")));
    ASSERT_TRUE(waitFor([&] { return first->requests.size() == 1; }));
    auto second = std::make_unique<TestAgent>(service.wsBase(), kId, "key");
    ASSERT_TRUE(second->waitOpen());
    ASSERT_TRUE(waitFor([&] { return first->closed; })) << "the older link stays open";
    // The agent answers on its newest link.
    second->reply(
        replyTo(first->requests.first(), 200, QStringLiteral("text/plain"), QStringLiteral("late")));
    EXPECT_EQ(Phone::wait(pending).body, "late");
    const PhoneResponse next = [&] {
        QNetworkReply* reply = phone.start("GET", url(QStringLiteral("/next")));
        waitFor([&] { return second->requests.size() == 1; });
        if (!second->requests.isEmpty())
            second->reply(replyTo(second->requests.first(), 200, {}, QStringLiteral("new")));
        return Phone::wait(reply);
    }();
    EXPECT_EQ(next.body, "new");
}

TEST_F(RelayServiceTest, AgentLeavingFailsItsRequestsWith502) {
    auto agent = connectAgent();
    QNetworkReply* pending = phone.start("GET", url(QStringLiteral("/x")));
    ASSERT_TRUE(waitFor([&] { return agent->requests.size() == 1; }));
    agent->socket.close();
    EXPECT_EQ(Phone::wait(pending).status, 502);
    EXPECT_TRUE(service.waitAgent(kId, false));
    EXPECT_EQ(phone.request("GET", url(QStringLiteral("/x"))).status, 502);
}

ServiceOptions tightOptions() {
    ServiceOptions options;
    // Long enough for the test's own agents to answer pings under load, short enough to drop a silent one.
    options.pingInterval = 1s;
    options.replyTimeout = 400ms;
    options.maxInFlightPerAgent = 2;
    options.maxAgents = 2;
    options.maxBodyBytes = 1024;
    options.headerTimeout = 300ms;
    return options;
}

class RelayServiceLimits : public RelayServiceTest {
  protected:
    RelayServiceLimits() : RelayServiceTest(tightOptions()) {}
};

TEST_F(RelayServiceLimits, SilentAgentGives504AndInFlightIsCapped) {
    auto agent = connectAgent();
    QNetworkReply* first = phone.start("GET", url(QStringLiteral("/a")));
    QNetworkReply* second = phone.start("GET", url(QStringLiteral("/b")));
    ASSERT_TRUE(waitFor([&] { return agent->requests.size() == 2; }));
    EXPECT_EQ(phone.request("GET", url(QStringLiteral("/c"))).status, 503);
    EXPECT_EQ(Phone::wait(first).status, 504);
    EXPECT_EQ(Phone::wait(second).status, 504);
    EXPECT_EQ(service.inFlight(kId), 0);
    // A late reply for a request that timed out is ignored.
    agent->reply(replyTo(agent->requests.first(), 200, {}, QStringLiteral("late")));
    QNetworkReply* third = phone.start("GET", url(QStringLiteral("/d")));
    ASSERT_TRUE(waitFor([&] { return agent->requests.size() == 3; }));
    agent->reply(replyTo(agent->requests.last(), 200, {}, QStringLiteral("fresh")));
    EXPECT_EQ(Phone::wait(third).body, "fresh");
}

TEST_F(RelayServiceLimits, PhoneHangingUpFreesItsSlot) {
    auto agent = connectAgent();
    QNetworkReply* gone = phone.start("GET", url(QStringLiteral("/a")));
    ASSERT_TRUE(waitFor([&] { return service.inFlight(kId) == 1; }));
    gone->abort();
    gone->deleteLater();
    EXPECT_TRUE(waitFor([&] { return service.inFlight(kId) == 0; }));
}

TEST_F(RelayServiceLimits, AgentsBeyondTheCapAreRefused) {
    auto a = connectAgent(QStringLiteral("a"));
    auto b = connectAgent(QStringLiteral("b"));
    TestAgent c(service.wsBase(), QStringLiteral("c"));
    EXPECT_TRUE(waitFor([&] { return c.socket.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_FALSE(service.hasAgent(QStringLiteral("c")));
    // The same identifier may still reconnect (it replaces its own link).
    auto again = std::make_unique<TestAgent>(service.wsBase(), QStringLiteral("a"));
    EXPECT_TRUE(again->waitOpen());
}

struct RawCase {
    const char* name;
    QByteArray bytes;
    int status; ///< 0: closed without an answer
};

void PrintTo(const RawCase& c, std::ostream* out) {
    *out << c.name;
}

class RelayServiceRaw : public RelayServiceLimits, public ::testing::WithParamInterface<RawCase> {};

TEST_P(RelayServiceRaw, AnswersOrClosesWithoutAnAgent) {
    const RawCase& c = GetParam();
    const hb::test::RawResponse response = hb::test::rawRequest(service.port(), c.bytes, 3s);
    EXPECT_EQ(response.status, c.status) << response.raw.left(200).constData();
    EXPECT_TRUE(response.closed);
}

INSTANTIATE_TEST_SUITE_P(
    Http, RelayServiceRaw,
    ::testing::Values(
        RawCase{"Health", "GET /healthz HTTP/1.1\r\nHost: r\r\n\r\n", 200},
        RawCase{"UnknownPath", "GET /mac HTTP/1.1\r\n\r\n", 404},
        RawCase{"InvalidId", "GET /phone/bad%20id/ HTTP/1.1\r\n\r\n", 404},
        RawCase{"NoAgent", "GET /phone/nobody/api/config HTTP/1.1\r\n\r\n", 502},
        RawCase{"RedirectToTrailingSlash", "GET /phone/nobody?x=1 HTTP/1.1\r\n\r\n", 301},
        RawCase{"HeadTooLarge", "GET / HTTP/1.1\r\nX: " + QByteArray(17 * 1024, 'a') + "\r\n\r\n", 431},
        RawCase{"BodyTooLarge", "POST /phone/a/x HTTP/1.1\r\nContent-Length: 1025\r\n\r\n", 413},
        RawCase{"NegativeLength", "POST /phone/a/x HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
        RawCase{"HugeLength", "POST /phone/a/x HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n",
                400},
        RawCase{"Chunked", "POST /phone/a/x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 501},
        RawCase{"BodyNotUtf8", "POST /phone/nobody/x HTTP/1.1\r\nContent-Length: 2\r\n\r\n\xff\xfe", 400},
        RawCase{"UpgradeElsewhere",
                "GET /phone/a/ HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n", 404},
        RawCase{"UpgradeWithoutId",
                "GET /mac/ws HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n", 400},
        RawCase{"SlowHead", "GET /healthz HTTP/1.1\r\n", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// An agent whose peer stops answering (not even pings) is dropped; one that answers stays.
TEST_F(RelayServiceLimits, SilentAgentLinksAreDropped) {
    auto live = connectAgent(QStringLiteral("live"));
    hb::test::RawClient silent(service.port());
    ASSERT_TRUE(silent.send("GET /mac/ws?id=silent HTTP/1.1\r\nHost: relay\r\nUpgrade: websocket\r\n"
                            "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                            "Sec-WebSocket-Version: 13\r\n\r\n"));
    ASSERT_TRUE(silent.read(3s, 12).startsWith("HTTP/1.1 101"));
    ASSERT_TRUE(service.waitAgent(QStringLiteral("silent")));
    EXPECT_TRUE(service.waitAgent(QStringLiteral("silent"), false));
    EXPECT_TRUE(service.hasAgent(QStringLiteral("live")));
    EXPECT_FALSE(live->closed);
}

// Every connection is released, whatever became of it: answered, refused, a failed or a finished link.
TEST_F(RelayServiceLimits, ConnectionsAreReleased) {
    hb::test::rawRequest(service.port(), "GET /healthz HTTP/1.1\r\n\r\n", 2s);
    hb::test::rawRequest(service.port(), "GET / HTTP/9\r\n\r\n", 2s);
    hb::test::rawRequest(service.port(), "GET /mac/ws?id=x HTTP/1.1\r\nUpgrade: websocket\r\n\r\n", 2s);
    { auto agent = connectAgent(QStringLiteral("short-lived")); }
    EXPECT_TRUE(waitFor([&] { return service.openConnections() == 0; })) << service.openConnections();
}

TEST_F(RelayServiceLimits, RequestArrivingByteByByteIsRead) {
    hb::test::RawClient client(service.port());
    ASSERT_TRUE(client.connected());
    for (const char c : QByteArray("GET /healthz HTTP/1.1\r\nHost: relay\r\n\r\n"))
        ASSERT_TRUE(client.send(QByteArray(1, c)));
    EXPECT_TRUE(client.read(3s).startsWith("HTTP/1.1 200 OK\r\n"));
}

// Catches one address starving the rest: its links and requests beyond the rate are refused with
// 429, while other addresses, and clients named by a trusted balancer, keep their own allowance.
TEST(RelayServiceRates, EachClientAddressHasItsOwnAllowance) {
    ServiceOptions options;
    options.linksPerSecond = 1; // bursts of 2
    options.requestsPerSecond = 1;
    options.trustedProxy = QHostAddress(QStringLiteral("127.0.0.9"));
    ServiceThread service(options);
    const QByteArray upgrade = "GET /mac/ws?id=x HTTP/1.1\r\nUpgrade: websocket\r\n\r\n";
    const QByteArray phone = "GET /phone/x/ HTTP/1.1\r\n\r\n";
    const QByteArray behindProxy = "GET /phone/x/ HTTP/1.1\r\nX-Real-IP: 203.0.113.7\r\n\r\n";
    const struct {
        QByteArray bytes;
        const char* from;
        int status;
    } rows[] = {
        {upgrade, "127.0.0.1", 0},       {upgrade, "127.0.0.1", 0},       {upgrade, "127.0.0.1", 429},
        {phone, "127.0.0.1", 502},       {phone, "127.0.0.1", 502},       {phone, "127.0.0.1", 429},
        {phone, "127.0.0.2", 502},       {behindProxy, "127.0.0.9", 502}, {behindProxy, "127.0.0.9", 502},
        {behindProxy, "127.0.0.9", 429}, {phone, "127.0.0.9", 502},
    };
    for (const auto& row : rows) {
        const auto response = hb::test::rawRequest(service.port(), row.bytes, 3s, QHostAddress::LocalHost,
                                                   QHostAddress(QString::fromLatin1(row.from)));
        EXPECT_EQ(response.status, row.status) << row.bytes.constData() << " from " << row.from;
    }
}

} // namespace
