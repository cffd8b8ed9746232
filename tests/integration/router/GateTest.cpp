#include "support/api/ApiHarness.h"

#include <gtest/gtest.h>

using hb::test::ApiHarness;

namespace {

enum class Expect { Open, Token, LocalOrToken };

struct Row {
    const char* method;
    const char* path;
    Expect gate;
};

// Every API path with the gate it must have; endpoints without a handler answer 404 past it.
const Row kTable[] = {
    {"GET", "/api/admin", Expect::LocalOrToken},
    {"POST", "/api/config", Expect::LocalOrToken},
    {"GET", "/api/config", Expect::Token},
    {"PUT", "/api/config", Expect::Token},
    {"POST", "/api/set-pin", Expect::LocalOrToken},
    {"POST", "/api/connect", Expect::LocalOrToken},
    {"POST", "/api/airdrop", Expect::LocalOrToken},
    {"POST", "/api/launch", Expect::Token},
    {"POST", "/api/url", Expect::Token},
    {"POST", "/api/shortcut", Expect::Token},
    {"POST", "/api/gesture", Expect::Token},
    {"POST", "/api/media", Expect::Token},
    {"GET", "/api/volume", Expect::Token},
    {"POST", "/api/system", Expect::Token},
    {"POST", "/api/clipboard", Expect::Token},
    {"POST", "/api/type", Expect::Token},
    {"POST", "/api/pointer", Expect::Token},
    {"POST", "/api/key", Expect::Token},
    {"GET", "/api/now-playing", Expect::Token},
    {"GET", "/api/shortcuts", Expect::LocalOrToken},
    {"POST", "/api/run-plan", Expect::Token},
    {"POST", "/api/plan", Expect::Token},
    {"POST", "/api/flows", Expect::LocalOrToken},
    {"POST", "/api/open-admin", Expect::LocalOrToken},
    {"POST", "/api/unpair", Expect::Token}, // last: it revokes the token
};

int refusalStatus(const char* path) {
    return QByteArray(path) == "/api/admin" ? 200 : 401;
}

bool refused(const hb::test::RawResponse& response, const char* path) {
    return response.status == refusalStatus(path) && response.body == QByteArray("{\"ok\":false}");
}

} // namespace

TEST(Gates, EveryPathFromTheMachineItselfAndFromElsewhere) {
    ApiHarness harness;
    const QString token = harness.pairToken();
    ASSERT_EQ(token.size(), 48);
    for (const Row& row : kTable) {
        const QByteArray body = "{\"steps\":[]}";
        const auto localNoToken = harness.request(row.method, row.path, body);
        const auto remoteNoToken = harness.remote(row.method, row.path, body);
        const auto remoteWithToken = harness.remote(row.method, row.path, body, token);
        const auto remoteBadToken = harness.remote(row.method, row.path, body, QString(48, u'0'));
        EXPECT_TRUE(refused(remoteNoToken, row.path)) << row.method << ' ' << row.path;
        EXPECT_TRUE(refused(remoteBadToken, row.path)) << row.method << ' ' << row.path;
        EXPECT_FALSE(refused(remoteWithToken, row.path)) << row.method << ' ' << row.path;
        EXPECT_EQ(refused(localNoToken, row.path), row.gate == Expect::Token)
            << row.method << ' ' << row.path;
    }
}

TEST(Gates, TokenHeaderNameIsCaseInsensitive) {
    ApiHarness harness;
    const QString token = harness.pairToken();
    const auto response = harness.request("GET", "/api/volume", {}, {}, {{"X-HB-Token", token.toUtf8()}},
                                          QHostAddress(QStringLiteral("127.0.0.2")));
    EXPECT_EQ(response.status, 200);
}

TEST(Gates, LocalTrustNeedsOwnOriginHostAndFetchSite) {
    ApiHarness harness;
    const QByteArray port = QByteArray::number(harness.port());
    struct Case {
        const char* name;
        QHash<QByteArray, QByteArray> headers;
        bool trusted;
    };
    const Case cases[] = {
        {"control panel fetch",
         {{"Origin", "http://127.0.0.1:" + port}, {"Sec-Fetch-Site", "same-origin"}},
         true},
        {"localhost origin", {{"Origin", "http://localhost:" + port}}, true},
        {"typed in the address bar", {{"Sec-Fetch-Site", "none"}}, true},
        {"ipv6 host", {{"Host", "[::1]:" + port}}, true},
        {"foreign origin", {{"Origin", "http://evil.example"}}, false},
        {"null origin", {{"Origin", "null"}}, false},
        {"other port of this machine", {{"Origin", "http://127.0.0.1:1"}}, false},
        {"cross-site fetch", {{"Sec-Fetch-Site", "cross-site"}}, false},
        {"same-site fetch", {{"Sec-Fetch-Site", "same-site"}}, false},
        {"rebinding host", {{"Host", "attacker.example:" + port}}, false},
        {"relayed request", {{"x-hb-relay", "1"}}, false},
    };
    for (const Case& c : cases) {
        const auto response = harness.request("POST", "/api/set-pin", "{\"pin\":\"12\"}", {}, c.headers);
        EXPECT_EQ(response.status, c.trusted ? 200 : 401) << c.name;
    }
}

TEST(Router, FrameAnswers) {
    ApiHarness harness;
    const auto options = harness.request("OPTIONS", "/anything/at/all");
    EXPECT_EQ(options.status, 204);
    EXPECT_TRUE(options.body.isEmpty());
    EXPECT_EQ(options.headers.value(QStringLiteral("content-type")), QStringLiteral("text/plain"));
    EXPECT_FALSE(options.head.toLower().contains("access-control"));

    EXPECT_EQ(harness.request("GET", "/api/launch/").body, QByteArray("not found"));
    EXPECT_EQ(harness.request("POST", "/API/launch").body, QByteArray("{\"ok\":false}"));
    EXPECT_EQ(harness.request("DELETE", "/nowhere").status, 404);
    EXPECT_EQ(harness.request("GET", "/").headers.value(QStringLiteral("content-type")),
              QStringLiteral("text/html"));
    EXPECT_EQ(harness.request("GET", "/..%2f..%2fCMakeLists.txt").body, QByteArray("not found"));
    EXPECT_EQ(harness.request("GET", "/%2e%2e/config.json").body, QByteArray("not found"));

    hb::test::RawClient events(harness.port());
    events.send("POST /api/events HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(events.read(std::chrono::seconds(3), 129)
                    .startsWith("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream"));
}
