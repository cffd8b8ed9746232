#include "PairingTestSupport.h"

#include "core/Version.h"

#include <QMutex>

namespace hb::test {
namespace {

TEST(AdminEndpoint, LocalCallerGetsTheEightKeysAndTheRelayAddress) {
    ApiHarness api;
    const RawResponse response = api.request("GET", "/api/admin");
    EXPECT_EQ(response.status, 200);
    const QJsonObject body = response.json();
    EXPECT_EQ(body.keys(),
              (QStringList{QStringLiteral("apps"), QStringLiteral("config"), QStringLiteral("gestures"),
                           QStringLiteral("host"), QStringLiteral("ok"), QStringLiteral("pin"),
                           QStringLiteral("relayQr"), QStringLiteral("relayUrl"), QStringLiteral("shortcuts"),
                           QStringLiteral("version")}));
    EXPECT_EQ(
        body.value(QStringLiteral("relayQr")),
        actions::qrDataURL(body.value(QStringLiteral("relayUrl")).toString() + u'/').value_or(QString()));
    EXPECT_TRUE(body.value(QStringLiteral("relayUrl"))
                    .toString()
                    .endsWith(QStringLiteral("/phone/") + api.store().relayId()));
    EXPECT_EQ(body.value(QStringLiteral("ok")), QJsonValue(true));
    EXPECT_EQ(body.value(QStringLiteral("host")), QStringLiteral("testdesk")) << "the network host name";
    EXPECT_EQ(body.value(QStringLiteral("version")), currentVersion());
    EXPECT_EQ(body.value(QStringLiteral("pin")), api.store().pinValue());
    EXPECT_EQ(body.value(QStringLiteral("config")), QJsonValue(api.store().snapshotConfig()));
    EXPECT_EQ(body.value(QStringLiteral("apps")), QJsonValue(QJsonArray::fromStringList(api.fake().apps)));
    EXPECT_EQ(body.value(QStringLiteral("shortcuts")),
              QJsonValue(QJsonArray::fromStringList(api.fake().shortcuts)));

    const QJsonArray gestures = body.value(QStringLiteral("gestures")).toArray();
    EXPECT_EQ(gestures.size(), 8);
    for (const QJsonValue& gesture : gestures) {
        const QJsonObject entry = gesture.toObject();
        EXPECT_EQ(entry.keys(),
                  (QStringList{QStringLiteral("emoji"), QStringLiteral("label"), QStringLiteral("value")}));
        for (const QJsonValue& value : entry)
            EXPECT_TRUE(value.isString());
    }
}

TEST(AdminEndpoint, RefusalIsStatus200WithOkFalse) {
    ApiHarness api;
    expectAnswer(api.remote("GET", "/api/admin"), 200, kNotOk);
    // A page of another site in the user's browser is not local either.
    expectAnswer(api.request("GET", "/api/admin", {}, {}, {{"origin", "http://evil.example"}}), 200, kNotOk);
    EXPECT_EQ(api.remote("GET", "/api/admin", {}, api.pairToken()).json().value(QStringLiteral("pin")),
              api.store().pinValue());
}

TEST(ConfigEndpoint, ReadingNeedsATokenEvenLocally) {
    ApiHarness::Options options;
    options.customize = [](api::Context& context) {
        context.relayBase = [] { return QStringLiteral("wss://relay.test"); };
    };
    ApiHarness api(options);
    expectAnswer(api.request("GET", "/api/config"), 401, kNotOk);

    const QJsonObject expected{{QStringLiteral("ok"), true},
                               {QStringLiteral("config"), api.store().snapshotConfig()},
                               {QStringLiteral("version"), currentVersion()},
                               {QStringLiteral("host"), QStringLiteral("Test Desk")},
                               {QStringLiteral("relayUrl"),
                                QString(QStringLiteral("https://relay.test/phone/") + api.store().relayId())},
                               {QStringLiteral("relayEnabled"), false}};
    expectAnswer(api.remote("GET", "/api/config", {}, api.pairToken()), 200, expected);
}

TEST(ConfigEndpoint, SavedDocumentRoundTripsWithUnknownKeysAtEveryLevel) {
    ApiHarness api;
    const QString token = api.pairToken();
    const QByteArray document = R"({"pages":[{"name":"P","icon":"x","custom":{"deep":[1,{"k":null}]},
        "tiles":[{"type":"app","value":"Files","color":"#fff"}]}],
        "settings":{"columns":3,"iconScale":1.5,"labels":false,"theme":"dark"},"future":true})";
    expectAnswer(api.request("POST", "/api/config", document), 200, parsed(R"({"ok":true})"));
    EXPECT_EQ(api.reloads(), 1);
    const QJsonObject read = api.remote("GET", "/api/config", {}, token).json();
    EXPECT_EQ(read.value(QStringLiteral("config")), QJsonValue(QJsonDocument::fromJson(document).object()));
    EXPECT_EQ(api.store().allowedApps(), QSet<QString>{QStringLiteral("Files")});
}

// Reads from an event stream until `needle` arrived or a few seconds passed.
bool streamReceives(RawClient& client, const QByteArray& needle) {
    QByteArray received;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!received.contains(needle) && std::chrono::steady_clock::now() < until)
        received += client.read(std::chrono::milliseconds(500), 1);
    return received.contains(needle);
}

TEST(ConfigEndpoint, SavingReloadsEveryOpenPage) {
    ApiHarness api;
    std::vector<std::unique_ptr<RawClient>> pages;
    for (int i = 0; i < 2; ++i) {
        pages.push_back(std::make_unique<RawClient>(api.port()));
        ASSERT_TRUE(pages.back()->send("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
        ASSERT_TRUE(streamReceives(*pages.back(), ": connected\n\n"));
    }
    api.request("POST", "/api/config", R"({"pages":[]})");
    for (auto& page : pages)
        EXPECT_TRUE(streamReceives(*page, "event: reload\ndata: 1\n\n"));
}

TEST(ConfigEndpoint, EmptyOrNonJsonBodySavesTheEmptyDocument) {
    ApiHarness api;
    const QJsonObject empty =
        parsed(R"({"pages":[],"settings":{"columns":4,"iconScale":1.12,"labels":true}})");
    for (const QByteArray& body :
         {QByteArray(), QByteArray("<html>"), QByteArray("[1,2]"), QByteArray("\"s\"")}) {
        api.store().saveConfig(parsed(R"({"pages":[{"name":"Before"}]})"));
        expectAnswer(api.request("POST", "/api/config", body), 200, parsed(R"({"ok":true})"));
        EXPECT_EQ(api.store().snapshotConfig(), empty) << body.constData();
    }
}

TEST(ConfigEndpoint, SavingSetsTheRelaySwitch) {
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
    api.request("POST", "/api/config", R"({"pages":[],"settings":{"relayEnabled":true}})");
    api.request("POST", "/api/config", R"({"pages":[],"settings":{"relayEnabled":1}})");
    api.request("POST", "/api/config", R"({"pages":[],"settings":{"relayEnabled":"yes"}})");
    QMutexLocker lock(&mutex);
    EXPECT_EQ(switched, (QList<bool>{true, true, false}));
}

TEST(ConfigEndpoint, RemoteSaveNeedsAToken) {
    ApiHarness api;
    const QJsonObject before = api.store().snapshotConfig();
    expectAnswer(api.remote("POST", "/api/config", "{}"), 401, kNotOk);
    EXPECT_EQ(api.store().snapshotConfig(), before);
    EXPECT_EQ(api.reloads(), 0);
}

TEST(OpenAdminEndpoint, AnswersAtOnceWithOrWithoutAWindow) {
    ApiHarness plain;
    expectAnswer(plain.request("POST", "/api/open-admin"), 200, parsed(R"({"ok":true})"));

    std::atomic<int> opened = 0;
    ApiHarness::Options options;
    options.customize = [&opened](api::Context& context) { context.openAdmin = [&opened] { ++opened; }; };
    ApiHarness api(options);
    expectAnswer(api.request("GET", "/api/open-admin"), 200, parsed(R"({"ok":true})"));
    EXPECT_EQ(opened.load(), 1);
    expectAnswer(api.remote("GET", "/api/open-admin"), 401, kNotOk);
    EXPECT_EQ(opened.load(), 1);
}

} // namespace
} // namespace hb::test
