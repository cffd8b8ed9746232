// harbly-relay serving HTTPS and WSS itself from a certificate and key.
#include "RelaySupport.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QNetworkRequest>
#include <QProcess>
#include <QSslSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using hb::test::waitFor;

namespace {

// A throwaway self-signed certificate for 127.0.0.1.
bool makeCertificate(const QString& dir) {
    QProcess openssl;
    openssl.start(QStringLiteral("/usr/bin/openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:P-256"), QStringLiteral("-nodes"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-days"),
                   QStringLiteral("1"), QStringLiteral("-keyout"), QString(dir + u"/key.pem"),
                   QStringLiteral("-out"), QString(dir + u"/cert.pem")});
    return openssl.waitForFinished(30'000) && openssl.exitCode() == 0;
}

TEST(RelayTls, PhoneOverHttpsReachesAnAgentOverWss) {
    if (!QSslSocket::supportsSsl())
        GTEST_SKIP() << "no TLS backend in this Qt";
    QTemporaryDir dir;
    ASSERT_TRUE(makeCertificate(dir.path()));
    hb::relay::service::ServiceOptions options;
    options.certPath = dir.path() + u"/cert.pem";
    options.keyPath = dir.path() + u"/key.pem";
    hb::test::ServiceThread service(options);
    ASSERT_NE(service.port(), 0);
    const QString host = QStringLiteral("127.0.0.1:") + QString::number(service.port());

    hb::test::TestAgent agent(QStringLiteral("wss://") + host, QStringLiteral("tls-agent"));
    QObject::connect(&agent.socket, &QWebSocket::sslErrors, &agent.socket,
                     [&] { agent.socket.ignoreSslErrors(); });
    ASSERT_TRUE(agent.waitOpen());
    ASSERT_TRUE(service.waitAgent(QStringLiteral("tls-agent")));

    QNetworkAccessManager network;
    QNetworkReply* reply =
        network.get(QNetworkRequest(QUrl(QStringLiteral("https://") + host + u"/phone/tls-agent/api/ping")));
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [reply] { reply->ignoreSslErrors(); });
    ASSERT_TRUE(waitFor([&] { return agent.requests.size() == 1; }));
    agent.reply({{QStringLiteral("reqId"), agent.requests.first().value(u"reqId")},
                 {QStringLiteral("status"), 200},
                 {QStringLiteral("headers"), QJsonObject()},
                 {QStringLiteral("body"), QStringLiteral("over tls")}});
    const hb::test::PhoneResponse response = hb::test::Phone::wait(reply);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "over tls");

    // Plain HTTP on the TLS port gets nowhere.
    const auto plain = hb::test::rawRequest(service.port(), "GET /healthz HTTP/1.1\r\n\r\n", 2s);
    EXPECT_FALSE(plain.ok);
}

} // namespace
