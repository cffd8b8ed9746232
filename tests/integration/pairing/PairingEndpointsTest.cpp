#include "PairingTestSupport.h"

#include <QRegularExpression>

namespace hb::test {
namespace {

const QJsonObject kWrongPin = parsed(R"({"ok":false,"error":"Wrong PIN"})");
const QJsonObject kBadCode = parsed(R"({"ok":false,"error":"Invalid or expired code"})");

bool isToken(const QString& text) {
    static const QRegularExpression hex48(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9a-f]{48}")));
    return hex48.match(text).hasMatch();
}

// A token works when the token-only configuration read accepts it.
bool tokenWorks(ApiHarness& api, const QString& token) {
    return api.remote("GET", "/api/config", {}, token).status == 200;
}

TEST(PairEndpoint, RightPinGivesAWorkingToken) {
    ApiHarness api;
    const RawResponse response = api.remote("POST", "/api/pair", field("pin", api.store().pinValue()));
    EXPECT_EQ(response.status, 200);
    const QJsonObject body = response.json();
    EXPECT_EQ(body.keys(), (QStringList{QStringLiteral("ok"), QStringLiteral("token")}));
    EXPECT_EQ(body.value(QStringLiteral("ok")), QJsonValue(true));
    const QString token = body.value(QStringLiteral("token")).toString();
    EXPECT_TRUE(isToken(token));
    EXPECT_TRUE(tokenWorks(api, token));
}

TEST(PairEndpoint, WrongOrMissingPinsCountTowardsTheLock) {
    ApiHarness api;
    const QString pin = api.store().pinValue();
    const QList<QByteArray> wrongBodies = {
        {}, "not json", field("pin", 1234), field("pin", QString(pin + u' ')), R"(["pin"])"};
    for (const QByteArray& body : wrongBodies)
        expectAnswer(api.remote("POST", "/api/pair", body), 401, kWrongPin);

    const QJsonObject locked{{QStringLiteral("ok"), false},
                             {QStringLiteral("error"), QStringLiteral("Locked \u2014 too many tries")},
                             {QStringLiteral("locked"), true}};
    expectAnswer(api.remote("POST", "/api/pair", field("pin", pin)), 423, locked);
    expectAnswer(api.request("GET", "/api/pair", field("pin", pin)), 423, locked);
    // Codes do not fall under the lock.
    const QString code = api.store().mintCode();
    EXPECT_EQ(api.remote("POST", "/api/pair-code", field("code", code)).status, 200);
}

TEST(PairCodeEndpoint, ACodePairsOnce) {
    ApiHarness api;
    const QString code = api.store().mintCode();
    const RawResponse first = api.remote("POST", "/api/pair-code", field("code", code));
    EXPECT_EQ(first.status, 200);
    EXPECT_TRUE(tokenWorks(api, first.json().value(QStringLiteral("token")).toString()));
    expectAnswer(api.remote("POST", "/api/pair-code", field("code", code)), 401, kBadCode);
    for (const QByteArray& body : {QByteArray(), QByteArray("{}"), field("code", 7), field("code", "")})
        expectAnswer(api.remote("POST", "/api/pair-code", body), 401, kBadCode);
    EXPECT_FALSE(api.store().isLocked()) << "failed codes are not counted";
}

TEST(PairCodeEndpoint, ACodeExpiresAfterTenMinutes) {
    QDateTime now = QDateTime::currentDateTimeUtc();
    ApiHarness::Options options;
    options.now = [&now] { return now; };
    ApiHarness api(options);
    const QString code = api.store().mintCode();
    now = now.addSecs(601);
    expectAnswer(api.remote("POST", "/api/pair-code", field("code", code)), 401, kBadCode);
}

TEST(UnpairEndpoint, RevokesExactlyTheCallersToken) {
    ApiHarness api;
    const QString mine = api.pairToken();
    const QString other = api.pairToken();
    expectAnswer(api.request("POST", "/api/unpair"), 401, kNotOk);
    expectAnswer(api.remote("POST", "/api/unpair", {}, QStringLiteral("0").repeated(48)), 401, kNotOk);
    expectAnswer(api.remote("POST", "/api/unpair", {}, mine), 200, parsed(R"({"ok":true})"));
    EXPECT_FALSE(tokenWorks(api, mine));
    EXPECT_TRUE(tokenWorks(api, other));
    expectAnswer(api.remote("POST", "/api/unpair", {}, mine), 401, kNotOk);
}

TEST(SetPinEndpoint, LocalCallerChangesThePinWithoutToken) {
    ApiHarness api;
    const QString oldPin = api.store().pinValue();
    const QList<QByteArray> refused = {field("pin", "123"),
                                       field("pin", "123456789"),
                                       field("pin", "12a4"),
                                       field("pin", 1234),
                                       "garbage",
                                       {}};
    for (const QByteArray& body : refused)
        expectAnswer(api.request("POST", "/api/set-pin", body), 200, parsed(R"({"ok":false})"));
    EXPECT_EQ(api.remote("POST", "/api/pair", field("pin", oldPin)).status, 200) << "the old PIN still pairs";

    const QString token = api.pairToken();
    expectAnswer(api.request("POST", "/api/set-pin", field("pin", "0000")), 200, parsed(R"({"ok":true})"));
    EXPECT_EQ(api.remote("POST", "/api/pair", field("pin", "0000")).status, 200);
    EXPECT_TRUE(tokenWorks(api, token)) << "tokens outlive a PIN change";
    EXPECT_EQ(api.reloads(), 0);
}

TEST(SetPinEndpoint, RemoteCallerNeedsAToken) {
    ApiHarness api;
    expectAnswer(api.remote("POST", "/api/set-pin", field("pin", "4321")), 401, kNotOk);
    EXPECT_NE(api.store().pinValue(), QStringLiteral("4321"));
    expectAnswer(api.remote("POST", "/api/set-pin", field("pin", "4321"), api.pairToken()), 200,
                 parsed(R"({"ok":true})"));
    EXPECT_EQ(api.store().pinValue(), QStringLiteral("4321"));
}

TEST(ConnectEndpoint, EveryCallGivesAnotherWorkingLink) {
    ApiHarness api;
    const QRegularExpression link(QRegularExpression::anchoredPattern(
        QStringLiteral("http://192\\.168\\.1\\.20:%1/\\?pair=([0-9a-f]{16})").arg(api.port())));
    QStringList codes;
    for (int i = 0; i < 2; ++i) {
        const RawResponse response = api.request("GET", "/api/connect");
        EXPECT_EQ(response.status, 200);
        const QJsonObject body = response.json();
        EXPECT_EQ(body.keys(),
                  (QStringList{QStringLiteral("ok"), QStringLiteral("qr"), QStringLiteral("url")}));
        EXPECT_TRUE(
            body.value(QStringLiteral("qr")).toString().startsWith(QStringLiteral("data:image/png;base64,")));
        const QRegularExpressionMatch match = link.match(body.value(QStringLiteral("url")).toString());
        ASSERT_TRUE(match.hasMatch()) << response.body.constData();
        codes.append(match.captured(1));
    }
    EXPECT_NE(codes.at(0), codes.at(1));
    for (const QString& code : codes)
        EXPECT_EQ(api.remote("POST", "/api/pair-code", field("code", code)).status, 200)
            << code.toStdString();
    expectAnswer(api.remote("GET", "/api/connect"), 401, kNotOk);
}

TEST(AirdropEndpoint, AlwaysPointsToTheQrCode) {
    ApiHarness api;
    const QJsonObject hint = parsed(R"({"ok":false,"error":"Scan the QR code instead."})");
    expectAnswer(api.request("POST", "/api/airdrop", R"({"anything":1})"), 200, hint);
    expectAnswer(api.remote("GET", "/api/airdrop", {}, api.pairToken()), 200, hint);
    expectAnswer(api.remote("GET", "/api/airdrop"), 401, kNotOk);
}

// Loopback requests that are not this user's own pages: the PIN must neither leak nor change.
struct ForeignCase {
    const char* name;
    QHash<QByteArray, QByteArray> headers;
};

class ForeignLoopbackCaller : public ::testing::TestWithParam<ForeignCase> {};

TEST_P(ForeignLoopbackCaller, CannotReadOrChangeThePin) {
    ApiHarness api;
    const QString pin = api.store().pinValue();
    const QHash<QByteArray, QByteArray>& headers = GetParam().headers;
    const QByteArray textPlain = R"({"pin":"1234"})";
    expectAnswer(api.request("GET", "/api/admin", {}, {}, headers), 200, kNotOk);
    expectAnswer(api.request("POST", "/api/set-pin", textPlain, {}, headers), 401, kNotOk);
    expectAnswer(api.request("POST", "/api/connect", {}, {}, headers), 401, kNotOk);
    EXPECT_EQ(api.store().pinValue(), pin);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, ForeignLoopbackCaller,
    ::testing::Values(ForeignCase{"otherSite",
                                  {{"origin", "http://evil.example"}, {"sec-fetch-site", "cross-site"}}},
                      ForeignCase{"otherPortSameSite", {{"sec-fetch-site", "same-site"}}},
                      ForeignCase{"reboundName", {{"host", "attacker.example:8788"}}},
                      ForeignCase{"relayed", {{"x-hb-relay", "anything"}}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hb::test
