// A phone reaching a real agent core through harbly-relay and the agent's relay client.
#include "RelaySupport.h"
#include "relay/RelayClient.h"
#include "store/Store.h"
#include "support/api/ApiHarness.h"

#include <QFile>
#include <QProcess>
#include <QSslSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using hb::test::waitFor;

namespace {

// An agent whose state file predates relay keys links, and a script that knows its identifier tries
// to take its place. Catches: the new key not saved with the other keys kept, an impostor (wrong
// key, or none) taking the link, a relayed request trusted as local (admin summary, PIN change
// without a token), the phone app not served, an event stream held open, and an agent switched off
// and on not served again (binary bodies: the relay messages' unit test).
TEST(RelayEndToEnd, PhonesReachTheRealAgentAndOnlyIt) {
    QTemporaryDir bindings;
    hb::relay::service::ServiceOptions options;
    options.stateDir = bindings.path();
    hb::test::ServiceThread service(options);
    QTemporaryDir support; // a state file from before relay keys: the key is saved at once, the rest kept
    const QJsonObject old = hb::test::parsed(R"({"pin":"246810","tokens":["t-1"],"relayId":"OLD-ID"})");
    QFile state(support.path() + QStringLiteral("/state.json"));
    ASSERT_TRUE(state.open(QIODevice::WriteOnly) && state.write(QJsonDocument(old).toJson()) > 0);
    state.close();
    hb::store::Store store({support.path(), QStringLiteral(HB_RESOURCES_DIR), {}});
    ASSERT_TRUE(state.open(QIODevice::ReadOnly));
    QJsonObject saved = QJsonDocument::fromJson(state.readAll()).object();
    EXPECT_EQ(saved.take(QStringLiteral("relayKey")).toString(), store.relayKey());
    EXPECT_EQ(saved, old);
    hb::test::ApiHarness agent;
    hb::relay::RelayOptions linkOptions;
    linkOptions.key = store.relayKey().toLatin1();
    linkOptions.reconnectDelay = 200ms;
    hb::relay::RelayClient link(
        store.relayId(), service.base(), [&] { return agent.port(); }, linkOptions);
    link.setEnabled(true);
    ASSERT_TRUE(service.waitAgent(store.relayId()));
    for (const QByteArray& forged : {QByteArray("guessed-key"), QByteArray()}) {
        hb::test::TestAgent impostor(service.base(), store.relayId(), forged);
        ASSERT_TRUE(waitFor([&] { return impostor.closeCode != 0; })) << forged.constData();
        EXPECT_EQ(impostor.closeCode, hb::relay::service::RelayService::kCloseNotOwner);
    }

    const auto url = [&](const char* rest) {
        return service.phoneUrl(store.relayId(), QString::fromLatin1(rest));
    };
    const QByteArray token = agent.pairToken().toUtf8();
    hb::test::Phone phone;
    const auto gesture = phone.request("POST", url("/api/gesture"), R"({"value":"spotlight"})", token);
    EXPECT_EQ(gesture.status, 200) << gesture.body.constData();
    EXPECT_TRUE(agent.fake().calls().contains(QStringLiteral("runGesture:spotlight")));
    EXPECT_EQ(phone.request("GET", url("/api/admin")).json(), (QJsonObject{{QStringLiteral("ok"), false}}));
    EXPECT_EQ(phone.request("POST", url("/api/set-pin"), R"({"pin":"1234"})").status, 401);
    EXPECT_EQ(phone.request("GET", url("/api/admin"), {}, token).json().value(u"pin").toString(),
              agent.store().pinValue());

    EXPECT_EQ(phone.request("GET", url("")).location, "/phone/OLD-ID/");
    EXPECT_TRUE(phone.request("GET", url("/")).contentType.startsWith("text/html"));
    EXPECT_EQ(phone.request("GET", url("/api/events")).status, 204);

    link.setEnabled(false);
    ASSERT_TRUE(service.waitAgent(store.relayId(), false));
    EXPECT_EQ(phone.request("GET", url("/api/config"), {}, token).status, 502);
    link.setEnabled(true);
    ASSERT_TRUE(service.waitAgent(store.relayId()));
    EXPECT_EQ(phone.request("GET", url("/api/config"), {}, token).status, 200);
}

// Catches: the certificate and key not used for the phones' HTTPS or the agents' WSS.
TEST(RelayEndToEnd, ServesHttpsAndWssItself) {
    if (!QSslSocket::supportsSsl())
        GTEST_SKIP() << "no TLS backend in this Qt";
    QTemporaryDir dir;
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 "
                                 "-nodes -subj /CN=127.0.0.1 -days 1 -keyout %1/key.pem "
                                 "-out %1/cert.pem")
                      .arg(dir.path())
                      .split(u' '));
    ASSERT_TRUE(openssl.waitForFinished(30'000) && openssl.exitCode() == 0);
    hb::relay::service::ServiceOptions options;
    options.certPath = dir.path() + u"/cert.pem";
    options.keyPath = dir.path() + u"/key.pem";
    hb::test::ServiceThread service(options);
    hb::test::TestAgent agent(service.base("wss"), QStringLiteral("tls"));
    ASSERT_TRUE(service.waitAgent(QStringLiteral("tls")));
    hb::test::Phone phone;
    QNetworkReply* reply = phone.start("GET", service.base("https") + u"/phone/tls/api/ping");
    ASSERT_TRUE(agent.waitRequests(1));
    agent.reply(0, 200, QStringLiteral("over tls"));
    EXPECT_EQ(hb::test::Phone::wait(reply).body, "over tls");
    EXPECT_FALSE(hb::test::rawRequest(service.port(), "GET /healthz HTTP/1.1\r\n\r\n", 2s).ok)
        << "plain HTTP";
}

} // namespace
