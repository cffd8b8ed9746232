// The gates of every API path, the local-trust rule and the router's own answers: the one
// owner of these rules. Endpoint tests check their wire shape only.
#include "support/api/ApiHarness.h"

#include <gtest/gtest.h>

using namespace hb::test;

namespace {

enum class Gate { Token, LocalOrToken };

// Every API path with its gate; "/api/unpair" last, since it revokes the token.
const struct {
    const char* method;
    const char* path;
    Gate gate;
} kGates[] = {
    {"GET", "/api/admin", Gate::LocalOrToken},
    {"POST", "/api/config", Gate::LocalOrToken},
    {"GET", "/api/config", Gate::Token},
    {"PUT", "/api/config", Gate::Token},
    {"POST", "/api/set-pin", Gate::LocalOrToken},
    {"POST", "/api/connect", Gate::LocalOrToken},
    {"POST", "/api/airdrop", Gate::LocalOrToken},
    {"POST", "/api/launch", Gate::Token},
    {"POST", "/api/url", Gate::Token},
    {"POST", "/api/shortcut", Gate::Token},
    {"POST", "/api/gesture", Gate::Token},
    {"POST", "/api/media", Gate::Token},
    {"GET", "/api/volume", Gate::Token},
    {"POST", "/api/system", Gate::Token},
    {"POST", "/api/clipboard", Gate::Token},
    {"POST", "/api/type", Gate::Token},
    {"POST", "/api/pointer", Gate::Token},
    {"POST", "/api/key", Gate::Token},
    {"GET", "/api/now-playing", Gate::Token},
    {"GET", "/api/devices", Gate::LocalOrToken},
    {"POST", "/api/login-item", Gate::LocalOrToken},
    {"GET", "/api/shortcuts", Gate::LocalOrToken},
    {"POST", "/api/run-plan", Gate::Token},
    {"POST", "/api/plan", Gate::Token},
    {"POST", "/api/flows", Gate::LocalOrToken},
    {"POST", "/api/open-admin", Gate::LocalOrToken},
    {"POST", "/api/unpair", Gate::Token},
};

bool refused(const RawResponse& response, const char* path) {
    const int status = QByteArray(path) == "/api/admin" ? 200 : 401;
    return response.status == status && response.body == "{\"ok\":false}";
}

} // namespace

TEST(Gates, EveryPathFromTheMachineItselfAndFromElsewhere) {
    ApiHarness api;
    const QByteArray token = api.pairToken().toUtf8();
    const QHostAddress elsewhere(QStringLiteral("127.0.0.2"));
    const QByteArray body = "{\"steps\":[]}";
    for (const auto& row : kGates) {
        const auto call = [&](QHash<QByteArray, QByteArray> headers, const QHostAddress& from) {
            return api.request(row.method, row.path, body, {}, headers, from);
        };
        const QString where = QString::fromLatin1(row.method) + u' ' + QString::fromLatin1(row.path);
        EXPECT_TRUE(refused(call({}, elsewhere), row.path)) << where.toStdString();
        EXPECT_TRUE(refused(call({{"x-hb-token", QByteArray(48, '0')}}, elsewhere), row.path))
            << where.toStdString();
        EXPECT_FALSE(refused(call({{"X-Hb-Token", token}}, elsewhere), row.path)) << where.toStdString();
        EXPECT_EQ(refused(call({}, {}), row.path), row.gate == Gate::Token) << where.toStdString();
    }
}

TEST(Gates, LocalTrustNeedsOwnOriginHostAndFetchSite) {
    ApiHarness api;
    const QByteArray port = QByteArray::number(api.port());
    const QByteArray own = "http://127.0.0.1:" + port;
    const struct {
        const char* name;
        QHash<QByteArray, QByteArray> headers;
        bool trusted;
    } rows[] = {
        {"control panel fetch", {{"Origin", own}, {"Sec-Fetch-Site", "same-origin"}}, true},
        {"localhost origin", {{"Origin", "http://localhost:" + port}}, true},
        {"typed in the address bar", {{"Sec-Fetch-Site", "none"}}, true},
        {"ipv6 host", {{"Host", "[::1]:" + port}}, true},
        {"foreign origin", {{"Origin", "http://evil.example"}}, false},
        {"https origin", {{"Origin", "https://127.0.0.1:" + port}}, false},
        {"other port of this machine", {{"Origin", "http://127.0.0.1:1"}}, false},
        {"origin with a path", {{"Origin", own + "/x"}}, false},
        {"cross-site fetch", {{"Sec-Fetch-Site", "cross-site"}}, false},
        {"own origin, cross-site fetch", {{"Origin", own}, {"Sec-Fetch-Site", "cross-site"}}, false},
        {"rebinding host", {{"Host", "attacker.example:" + port}}, false},
        {"empty host", {{"Host", ""}}, false},
        {"relayed, own origin", {{"Origin", own}, {"X-HB-Relay", ""}}, false},
    };
    const QString pin = api.store().pinValue();
    for (const auto& row : rows) {
        EXPECT_EQ(api.request("POST", "/api/set-pin", "{\"pin\":\"12\"}", {}, row.headers).status,
                  row.trusted ? 200 : 401)
            << row.name;
        EXPECT_EQ(
            api.request("GET", "/api/admin", {}, {}, row.headers).json().contains(QStringLiteral("pin")),
            row.trusted)
            << row.name;
    }
    EXPECT_EQ(api.store().pinValue(), pin);
}

TEST(Router, FrameAnswers) {
    ApiHarness api;
    const auto options = api.request("OPTIONS", "/anything/at/all");
    EXPECT_EQ(options.status, 204);
    EXPECT_TRUE(options.body.isEmpty());
    EXPECT_FALSE(options.head.toLower().contains("access-control"));
    EXPECT_EQ(api.request("GET", "/api/launch/").body, QByteArray("not found"));
    EXPECT_EQ(api.request("POST", "/API/launch").body, QByteArray("{\"ok\":false}"));
}
