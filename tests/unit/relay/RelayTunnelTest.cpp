// Relayed requests: what reaches the local server and what goes back to the relay service.
#include "RelayFixtures.h"
#include "relay/RelayClient.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using hb::relay::RelayClient;
using hb::relay::RelayOptions;
using hb::test::LocalHttp;
using hb::test::TestRelay;
using hb::test::waitFor;

namespace {

const QByteArray kPng = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452ff00fe");

class RelayTunnel : public ::testing::Test {
  public:
    void SetUp() override {
        ASSERT_NE(local.port(), 8788) << "the replay must follow the real port, not the default";
        RelayOptions options;
        options.reconnectDelay = 200ms;
        options.replayTimeout = 400ms;
        client = std::make_unique<RelayClient>(
            QStringLiteral("id-1"), relay.base(), [this] { return localPort; }, options);
        client->setEnabled(true);
        ASSERT_TRUE(relay.waitLinks(1));
    }

    QJsonObject roundTrip(const QString& message, const QString& reqId = QStringLiteral("r1")) {
        relay.send(message);
        return relay.waitReply(reqId);
    }

    // The message is dropped when a following well-formed request is the only one answered.
    bool droppedSilently(const QString& message) {
        const qsizetype before = relay.replies().size();
        const QString sentinel = QStringLiteral("sentinel-") + QString::number(before);
        relay.send(message);
        relay.send(u"{\"reqId\":\"" + sentinel + u"\",\"method\":\"GET\",\"path\":\"/s\"}");
        relay.waitReply(sentinel);
        const QList<QJsonObject> replies = relay.replies();
        return replies.size() == before + 1 && replies.last().value(u"reqId").toString() == sentinel;
    }

    TestRelay relay;
    LocalHttp local;
    quint16 localPort = local.port();
    std::unique_ptr<RelayClient> client;
};

struct ReplayCase {
    const char* name;
    const char* message;
    QByteArray method;
    QByteArray target;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> expectedHeaders; ///< present with exactly these values
    QList<QByteArray> absentHeaders;
};

void PrintTo(const ReplayCase& c, std::ostream* out) {
    *out << c.name;
}

class RelayReplay : public RelayTunnel, public ::testing::WithParamInterface<ReplayCase> {};

TEST_P(RelayReplay, ReachesTheLocalServerAsSent) {
    const ReplayCase& c = GetParam();
    const QJsonObject reply = roundTrip(QString::fromUtf8(c.message));
    ASSERT_EQ(reply.value(u"status").toInt(), 200) << QJsonDocument(reply).toJson().constData();
    ASSERT_EQ(local.requests.size(), 1);
    const auto& seen = local.requests.first();
    EXPECT_EQ(seen.method, c.method);
    EXPECT_EQ(seen.target, c.target);
    EXPECT_EQ(seen.body, c.body);
    EXPECT_EQ(seen.values("x-hb-relay"), QList<QByteArray>{"1"}) << "every replay is marked as relayed";
    for (const auto& [name, value] : c.expectedHeaders)
        EXPECT_EQ(seen.values(name), QList<QByteArray>{value}) << name.constData();
    for (const QByteArray& name : c.absentHeaders)
        EXPECT_TRUE(seen.values(name).isEmpty()) << name.constData();
    if (c.body.isEmpty()) {
        EXPECT_EQ(seen.values("content-length").value(0, "0"), "0");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Messages, RelayReplay,
    ::testing::Values(
        ReplayCase{"OnlyRequiredKeys",
                   R"({"reqId":"r1","method":"GET","path":"/api/ping"})",
                   "GET",
                   "/api/ping",
                   "",
                   {},
                   {"x-hb-token", "content-type"}},
        ReplayCase{"HeadersAndBody",
                   R"({"reqId":"r1","method":"POST","path":"/api/gesture","body":"{\"value\":\"spotlight\"}",
                      "headers":{"X-HB-Token":"abc","Content-Type":"application/json"}})",
                   "POST",
                   "/api/gesture",
                   R"({"value":"spotlight"})",
                   {{"x-hb-token", "abc"}, {"content-type", "application/json"}},
                   {}},
        ReplayCase{"NumericHeaderValueDropsAllHeaders",
                   R"({"reqId":"r1","method":"GET","path":"/a","headers":{"x-hb-token":"abc","x-n":5}})",
                   "GET",
                   "/a",
                   "",
                   {},
                   {"x-hb-token", "x-n"}},
        ReplayCase{"HeadersNotAnObject",
                   R"({"reqId":"r1","method":"GET","path":"/a","headers":["x-hb-token"]})",
                   "GET",
                   "/a",
                   "",
                   {},
                   {"x-hb-token"}},
        ReplayCase{"ObjectBodyMeansNoBody",
                   R"({"reqId":"r1","method":"POST","path":"/a","body":{"value":1}})",
                   "POST",
                   "/a",
                   "",
                   {},
                   {}},
        ReplayCase{"EmptyBodyMeansNoBody",
                   R"({"reqId":"r1","method":"POST","path":"/a","body":""})",
                   "POST",
                   "/a",
                   "",
                   {},
                   {}},
        ReplayCase{"UnicodeBodyAsUtf8",
                   R"({"reqId":"r1","method":"POST","path":"/api/type","body":"Hé €😀"})",
                   "POST",
                   "/api/type",
                   "H\xc3\xa9 \xe2\x82\xac\xf0\x9f\x98\x80",
                   {},
                   {}},
        ReplayCase{"QueryKeptVerbatim",
                   R"({"reqId":"r1","method":"GET","path":"/api/icon?app=Text%20Editor&x=+"})",
                   "GET",
                   "/api/icon?app=Text%20Editor&x=+",
                   "",
                   {},
                   {}},
        ReplayCase{
            "PhoneCannotForgeTheRelayMarker",
            R"({"reqId":"r1","method":"GET","path":"/a","headers":{"X-Hb-Relay":"0","x-hb-token":"t"}})",
            "GET",
            "/a",
            "",
            {{"x-hb-token", "t"}},
            {}},
        ReplayCase{"FramingAndInjectedHeadersSkipped",
                   R"({"reqId":"r1","method":"POST","path":"/a","body":"abc","headers":{"Host":"evil.example",
                      "Content-Length":"1","Transfer-Encoding":"chunked","x-bad":"v\r\nx-hb-token: forged",
                      "bad name":"v","x-good":"kept"}})",
                   "POST",
                   "/a",
                   "abc",
                   {{"x-good", "kept"}, {"content-length", "3"}},
                   {"transfer-encoding", "x-hb-token", "x-bad"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RelayTunnel, ReplyCarriesStatusContentTypeAndTextBody) {
    local.answer(401, "application/json", R"({"ok":false})", "Set-Cookie: a=b\r\nX-Other: 1\r\n");
    const QJsonObject reply =
        roundTrip(QStringLiteral(R"({"reqId":"r1","method":"GET","path":"/api/config"})"));
    EXPECT_EQ(reply.value(u"status").toInt(), 401);
    EXPECT_EQ(reply.value(u"headers").toObject(),
              (QJsonObject{{QStringLiteral("Content-Type"), QStringLiteral("application/json")}}));
    EXPECT_EQ(reply.value(u"body").toString(), u"{\"ok\":false}");
    EXPECT_EQ(reply.keys(), (QStringList{QStringLiteral("body"), QStringLiteral("headers"),
                                         QStringLiteral("reqId"), QStringLiteral("status")}));
}

TEST_F(RelayTunnel, ReplyWithoutContentTypeOrBodyAndRedirectsNotFollowed) {
    local.answer(301, QByteArray(), QByteArray(), "Location: /elsewhere\r\n");
    const QJsonObject reply = roundTrip(QStringLiteral(R"({"reqId":"r1","method":"GET","path":"/old"})"));
    EXPECT_EQ(reply.value(u"status").toInt(), 301);
    EXPECT_EQ(reply.value(u"headers").toObject(), QJsonObject());
    EXPECT_EQ(reply.value(u"body").toString(QStringLiteral("missing")), u"");
    EXPECT_EQ(local.requests.size(), 1);
}

TEST_F(RelayTunnel, BinaryBodyGoesAsEmptyBodyPlusBase64) {
    local.answer(200, "image/png", kPng);
    const QJsonObject reply =
        roundTrip(QStringLiteral(R"({"reqId":"r1","method":"GET","path":"/api/icon?app=X"})"));
    EXPECT_EQ(reply.value(u"status").toInt(), 200);
    EXPECT_EQ(reply.value(u"headers").toObject().value(u"Content-Type").toString(), u"image/png");
    EXPECT_EQ(reply.value(u"body").toString(QStringLiteral("missing")), u"");
    EXPECT_EQ(QByteArray::fromBase64(reply.value(u"bodyBase64").toString().toLatin1()), kPng);
}

// An event stream cannot travel in one reply; it ends at once instead of holding the replay open.
TEST_F(RelayTunnel, EventStreamIsAnsweredWith204AtOnce) {
    local.answer(200, "text/event-stream", ": connected\n\n", "Cache-Control: no-cache\r\n");
    local.setKeepOpen(true);
    const QJsonObject reply =
        roundTrip(QStringLiteral(R"({"reqId":"r1","method":"GET","path":"/api/events"})"));
    EXPECT_EQ(reply.value(u"status").toInt(), 204);
    EXPECT_EQ(reply.value(u"headers").toObject(), QJsonObject());
    EXPECT_EQ(reply.value(u"body").toString(QStringLiteral("missing")), u"");
}

TEST_F(RelayTunnel, NoLocalAnswerGives500) {
    struct Case {
        const char* name;
        std::function<void(RelayTunnel&)> arrange;
    };
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 deadPort = closed.serverPort();
    closed.close();
    const Case cases[] = {
        {"NothingListening", [deadPort](RelayTunnel& t) { t.localPort = deadPort; }},
        {"ServerNotListeningYet", [](RelayTunnel& t) { t.localPort = 0; }},
        {"NoAnswerWithinTimeout", [](RelayTunnel& t) { t.local.setSilent(true); }},
    };
    for (const Case& c : cases) {
        c.arrange(*this);
        const QString reqId = QString::fromLatin1(c.name);
        const QJsonObject reply =
            roundTrip(u"{\"reqId\":\"" + reqId + u"\",\"method\":\"GET\",\"path\":\"/api/admin\"}", reqId);
        EXPECT_EQ(reply.value(u"status").toInt(), 500) << c.name;
        EXPECT_EQ(reply.value(u"headers").toObject(), QJsonObject()) << c.name;
        EXPECT_EQ(reply.value(u"body").toString(QStringLiteral("missing")), u"") << c.name;
    }
}

TEST_F(RelayTunnel, MalformedMessagesAreDroppedWithoutReply) {
    const char* messages[] = {
        "not json",
        R"(["reqId","method","path"])",
        R"("text")",
        R"({"method":"GET","path":"/a"})",
        R"({"reqId":7,"method":"GET","path":"/a"})",
        R"({"reqId":"r","method":null,"path":"/a"})",
        R"({"reqId":"r","method":"GET"})",
        R"({"reqId":"r","method":"GET","path":["/a"]})",
    };
    for (const char* message : messages)
        EXPECT_TRUE(droppedSilently(QString::fromUtf8(message))) << message;
    EXPECT_EQ(local.requests.size(), qsizetype(std::size(messages))) << "only the sentinels are replayed";
}

TEST_F(RelayTunnel, HostilePathsAndMethodsAreRefusedWith400AndNeverReplayed) {
    const char* messages[] = {
        R"({"reqId":"p1","method":"GET","path":""})",
        R"({"reqId":"p2","method":"GET","path":"api/admin"})",
        R"({"reqId":"p3","method":"GET","path":"//evil.example/api/admin"})",
        R"({"reqId":"p4","method":"GET","path":"@evil.example/api/admin"})",
        R"({"reqId":"p5","method":"GET","path":":80@evil.example/"})",
        R"({"reqId":"p6","method":"GET","path":"/a b"})",
        R"({"reqId":"p7","method":"GET","path":"/a\r\nx-hb-token: forged"})",
        R"({"reqId":"p8","method":"GET","path":"/bad%zz"})",
        R"({"reqId":"p9","method":"GET","path":"/a#frag"})",
        R"({"reqId":"p10","method":"GET","path":"/\\evil.example"})",
        R"({"reqId":"p11","method":"GET /x HTTP/1.1\r\nx: y","path":"/a"})",
        R"({"reqId":"p12","method":"","path":"/a"})",
    };
    for (const char* message : messages) {
        const QString reqId = QJsonDocument::fromJson(message).object().value(u"reqId").toString();
        const QJsonObject reply = roundTrip(QString::fromUtf8(message), reqId);
        EXPECT_EQ(reply.value(u"status").toInt(), 400) << message;
        EXPECT_EQ(reply.value(u"headers").toObject(), QJsonObject()) << message;
        EXPECT_EQ(reply.value(u"body").toString(QStringLiteral("missing")), u"") << message;
    }
    EXPECT_TRUE(local.requests.isEmpty());
}

// Slow replays must not hold back the others (an HTTP client may cap connections per host).
TEST_F(RelayTunnel, ManyReplaysReachTheServerAtOnce) {
    local.setSilent(true);
    constexpr int kConcurrent = 16;
    for (int i = 0; i < kConcurrent; ++i)
        relay.send(u"{\"reqId\":\"c" + QString::number(i) + u"\",\"method\":\"GET\",\"path\":\"/slow\"}");
    EXPECT_TRUE(waitFor([&] { return local.requests.size() == kConcurrent; }, 3s)) << local.requests.size();
}

TEST_F(RelayTunnel, DestroyedWithAReplayInFlightAndTheLinkOpen) {
    local.setSilent(true);
    relay.send(QStringLiteral(R"({"reqId":"pending","method":"GET","path":"/a"})"));
    ASSERT_TRUE(waitFor([&] { return local.requests.size() == 1; }));
    client.reset();
    EXPECT_TRUE(waitFor([&] { return relay.latest().closed; }));
    EXPECT_TRUE(relay.replies().isEmpty());
}

// The reply goes out on the socket that is current when the local answer arrives.
TEST_F(RelayTunnel, ReplyOfARequestInFlightGoesOnTheNewerSocket) {
    local.setSilent(true);
    relay.send(QStringLiteral(R"({"reqId":"slow","method":"GET","path":"/a"})"));
    ASSERT_TRUE(waitFor([&] { return local.requests.size() == 1; }));
    relay.latest().socket->close();
    ASSERT_TRUE(relay.waitLinks(2));
    const QJsonObject reply = relay.waitReply(QStringLiteral("slow"));
    EXPECT_EQ(reply.value(u"status").toInt(), 500);
    EXPECT_EQ(relay.link(1).messages.size(), 1);
}

} // namespace
