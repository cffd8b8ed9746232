// A phone reaching a real agent core through harbly-relay and the agent's relay client.
#include "RelaySupport.h"
#include "relay/RelayClient.h"
#include "support/TestSupport.h"
#include "support/api/ApiHarness.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using hb::relay::RelayClient;

namespace {

const QString kRelayId = QStringLiteral("5d1c7e0a-93b4-4f3e-a1d2-8c6b5e4f3a21");
const QByteArray kPng = QByteArray::fromHex("89504e470d0a1a0a0000000d4948445200000001");

class RelayEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(service.port(), 0);
        ASSERT_NE(agent.port(), 8788);
        hb::relay::RelayOptions options;
        options.reconnectDelay = 200ms;
        client = std::make_unique<RelayClient>(
            kRelayId, service.wsBase(), [this] { return agent.port(); }, options);
        client->setEnabled(true);
        ASSERT_TRUE(service.waitAgent(kRelayId));
        token = agent.pairToken();
        ASSERT_FALSE(token.isEmpty());
    }

    QString phoneUrl(const QString& rest) const {
        return service.httpBase() + QStringLiteral("/phone/") + kRelayId + rest;
    }

    hb::test::ServiceThread service;
    hb::test::ApiHarness agent;
    hb::test::Phone phone;
    std::unique_ptr<RelayClient> client;
    QString token;
};

TEST_F(RelayEndToEnd, TokenRequestsReachTheAgentApi) {
    const auto config =
        phone.request("GET", phoneUrl(QStringLiteral("/api/config")), {}, {{"x-hb-token", token.toUtf8()}});
    EXPECT_EQ(config.status, 200);
    EXPECT_EQ(config.contentType, "application/json");
    EXPECT_TRUE(config.json().value(u"ok").toBool());
    EXPECT_TRUE(config.json().contains(u"relayUrl"));

    const auto gesture = phone.request("POST", phoneUrl(QStringLiteral("/api/gesture")),
                                       R"({"value":"spotlight"})", {{"X-HB-Token", token.toUtf8()}});
    EXPECT_EQ(gesture.status, 200);
    EXPECT_TRUE(gesture.json().value(u"ok").toBool()) << gesture.body.constData();
    EXPECT_TRUE(agent.fake().calls().contains(QStringLiteral("runGesture:spotlight")))
        << agent.fake().calls().join(u',').toStdString();
}

// The replay comes from 127.0.0.1, yet it is a remote caller: no token, no admin summary, no PIN.
TEST_F(RelayEndToEnd, RelayedRequestsAreNeverLocal) {
    const auto admin = phone.request("GET", phoneUrl(QStringLiteral("/api/admin")));
    EXPECT_EQ(admin.status, 200);
    EXPECT_EQ(admin.json(), (QJsonObject{{QStringLiteral("ok"), false}})) << admin.body.constData();

    const auto setPin = phone.request("POST", phoneUrl(QStringLiteral("/api/set-pin")), R"({"pin":"1234"})");
    EXPECT_EQ(setPin.status, 401);
    EXPECT_NE(agent.store().pinValue(), u"1234");

    const auto withToken =
        phone.request("GET", phoneUrl(QStringLiteral("/api/admin")), {}, {{"x-hb-token", token.toUtf8()}});
    EXPECT_TRUE(withToken.json().value(u"ok").toBool());
    EXPECT_EQ(withToken.json().value(u"pin").toString(), agent.store().pinValue());
}

TEST_F(RelayEndToEnd, PhoneAppIsServedUnderThePhonePath) {
    const auto bare = phone.request("GET", phoneUrl(QString()));
    EXPECT_EQ(bare.status, 301);
    EXPECT_EQ(bare.location, "/phone/" + kRelayId.toUtf8() + "/");

    const auto page = phone.request("GET", phoneUrl(QStringLiteral("/")));
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.contentType.startsWith("text/html")) << page.contentType.constData();
    const auto script = phone.request("GET", phoneUrl(QStringLiteral("/api.js")));
    EXPECT_EQ(script.status, 200);
    // The page's event stream cannot be relayed; it is closed at once rather than held open.
    EXPECT_EQ(phone.request("GET", phoneUrl(QStringLiteral("/api/events"))).status, 204);
}

TEST_F(RelayEndToEnd, IconsArriveAsTheirBytes) {
    agent.fake().setIcon(QStringLiteral("Calculator"), kPng);
    const auto icon = phone.request("GET", phoneUrl(QStringLiteral("/api/icon?app=Calculator")));
    EXPECT_EQ(icon.status, 200);
    EXPECT_EQ(icon.contentType, "image/png");
    EXPECT_EQ(icon.body, kPng);
}

TEST_F(RelayEndToEnd, AgentSwitchedOffGives502ThenServesAgainWhenOn) {
    client->setEnabled(false);
    ASSERT_TRUE(service.waitAgent(kRelayId, false));
    EXPECT_EQ(phone.request("GET", phoneUrl(QStringLiteral("/api/icon?app=X"))).status, 502);
    client->setEnabled(true);
    ASSERT_TRUE(service.waitAgent(kRelayId));
    const auto config =
        phone.request("GET", phoneUrl(QStringLiteral("/api/config")), {}, {{"x-hb-token", token.toUtf8()}});
    EXPECT_EQ(config.status, 200);
}

} // namespace
