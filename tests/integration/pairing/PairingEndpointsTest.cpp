// The pairing, admin and configuration endpoints over real HTTP: the wire shape of each
// answer. The pairing rules (lock, expiry, PIN format) belong to the store's tests.
#include "actions/Actions.h"
#include "core/Version.h"
#include "support/api/ApiHarness.h"

#include <QMutex>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace hb::test {
namespace {

bool tokenWorks(ApiHarness& api, const QString& token) {
    return api.remote("GET", "/api/config", {}, token).status == 200;
}

TEST(PairingEndpoints, AnswersOfPairPairCodeAndUnpair) {
    ApiHarness api;
    const RawResponse paired = api.remote("POST", "/api/pair", field("pin", api.store().pinValue()));
    EXPECT_EQ(paired.json().keys(), (QStringList{QStringLiteral("ok"), QStringLiteral("token")}));
    const QString token = paired.json()[u"token"].toString();
    EXPECT_TRUE(tokenWorks(api, token));

    const QJsonObject badCode = parsed(R"({"ok":false,"error":"Invalid or expired code"})");
    const QString code = api.store().mintCode();
    EXPECT_TRUE(tokenWorks(
        api, api.remote("POST", "/api/pair-code", field("code", code)).json()[u"token"].toString()));
    expectAnswer(api.remote("POST", "/api/pair-code", field("code", code)), 401, badCode);
    expectAnswer(api.remote("POST", "/api/pair-code", "[1]"), 401, badCode);

    expectAnswer(api.remote("POST", "/api/unpair", {}, token), 200, parsed(R"({"ok":true})"));
    EXPECT_FALSE(tokenWorks(api, token));

    expectAnswer(api.remote("POST", "/api/pair", "not json"), 401,
                 parsed(R"({"ok":false,"error":"Wrong PIN"})"));
    while (!api.store().isLocked())
        api.remote("POST", "/api/pair", "{}");
    expectAnswer(api.remote("POST", "/api/pair", field("pin", api.store().pinValue())), 423,
                 parsed(R"({"ok":false,"error":"Locked \u2014 too many tries","locked":true})"));
}

TEST(PairingEndpoints, SetPinConnectAirdropAndOpenAdmin) {
    std::atomic<int> opened = 0;
    ApiHarness::Options options;
    options.customize = [&opened](api::Context& context) { context.openAdmin = [&opened] { ++opened; }; };
    ApiHarness api(options);
    expectAnswer(api.request("POST", "/api/set-pin", field("pin", "12a4")), 200, kNotOk);
    expectAnswer(api.request("POST", "/api/set-pin", field("pin", "0000")), 200, parsed(R"({"ok":true})"));
    EXPECT_EQ(api.store().pinValue(), QStringLiteral("0000"));

    const QRegularExpression link(QRegularExpression::anchoredPattern(
        QStringLiteral("http://192\\.168\\.1\\.20:%1/\\?pair=([0-9a-f]{16})").arg(api.port())));
    const QJsonObject connect = api.request("GET", "/api/connect").json();
    EXPECT_EQ(connect.keys(),
              (QStringList{QStringLiteral("ok"), QStringLiteral("qr"), QStringLiteral("url")}));
    EXPECT_TRUE(
        connect.value(QStringLiteral("qr")).toString().startsWith(QStringLiteral("data:image/png;base64,")));
    const QRegularExpressionMatch match = link.match(connect.value(QStringLiteral("url")).toString());
    ASSERT_TRUE(match.hasMatch());
    EXPECT_EQ(
        api.remote("POST", "/api/pair-code", field("code", match.captured(1).toUtf8().constData())).status,
        200);

    expectAnswer(api.request("POST", "/api/airdrop", "{}"), 200,
                 parsed(R"({"ok":false,"error":"Scan the QR code instead."})"));
    expectAnswer(api.request("GET", "/api/open-admin"), 200, parsed(R"({"ok":true})"));
    EXPECT_EQ(opened.load(), 1);
}

TEST(AdminEndpoints, AdminAndConfigAnswers) {
    ApiHarness::Options options;
    options.customize = [](api::Context& context) {
        context.relayBase = [] { return QStringLiteral("wss://relay.test"); };
    };
    ApiHarness api(options);
    const QJsonObject admin = api.request("GET", "/api/admin").json();
    EXPECT_EQ(admin.keys(),
              (QStringList{QStringLiteral("apps"), QStringLiteral("config"), QStringLiteral("gestures"),
                           QStringLiteral("host"), QStringLiteral("ok"), QStringLiteral("pin"),
                           QStringLiteral("relayQr"), QStringLiteral("relayUrl"), QStringLiteral("shortcuts"),
                           QStringLiteral("version")}));
    EXPECT_EQ(admin.value(QStringLiteral("host")), QStringLiteral("testdesk")) << "the network host name";
    EXPECT_EQ(admin.value(QStringLiteral("pin")), api.store().pinValue());
    EXPECT_EQ(admin.value(QStringLiteral("gestures")).toArray().size(), 8);

    const QString relayUrl = QStringLiteral("https://relay.test/phone/") + api.store().relayId();
    EXPECT_EQ(admin.value(QStringLiteral("relayUrl")), relayUrl);
    EXPECT_EQ(admin.value(QStringLiteral("relayQr")),
              actions::qrDataURL(relayUrl + u'/').value_or(QString()));
    const QJsonObject expected{{QStringLiteral("ok"), true},
                               {QStringLiteral("config"), api.store().snapshotConfig()},
                               {QStringLiteral("version"), currentVersion()},
                               {QStringLiteral("host"), QStringLiteral("Test Desk")},
                               {QStringLiteral("relayUrl"), relayUrl},
                               {QStringLiteral("relayEnabled"), false}};
    expectAnswer(api.remote("GET", "/api/config", {}, api.pairToken()), 200, expected);
}

TEST(AdminEndpoints, SavedConfigRoundTripsReloadsPagesAndSetsTheRelaySwitch) {
    QMutex mutex;
    QList<bool> switched;
    ApiHarness::Options options;
    options.customize = [&](api::Context& context) {
        context.setRelayEnabled = [&](bool on) {
            QMutexLocker lock(&mutex);
            switched.append(on);
        };
    };
    ApiHarness api(options);
    EventStream page(api.port());
    const QByteArray document = R"({"pages":[{"name":"P","custom":{"deep":[1,{"k":null}]},
        "tiles":[{"type":"app","value":"Files","color":"#fff"}]}],
        "settings":{"columns":3,"iconScale":1.5,"labels":false,"relayEnabled":true},"future":true})";
    expectAnswer(api.request("POST", "/api/config", document), 200, parsed(R"({"ok":true})"));
    EXPECT_TRUE(page.waitForReloads(1));
    EXPECT_EQ(api.remote("GET", "/api/config", {}, api.pairToken()).json().value(QStringLiteral("config")),
              QJsonValue(QJsonDocument::fromJson(document).object()));
    api.request("POST", "/api/config", R"({"settings":{"relayEnabled":"yes"}})");
    QMutexLocker lock(&mutex);
    EXPECT_EQ(switched, (QList<bool>{true, false}));
}

} // namespace
} // namespace hb::test
