// The harbly-relay program itself: configuration from the environment, its start line, its exits.
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QString kProgram = QStringLiteral(HB_BIN_DIR "/harbly-relay");

QProcessEnvironment environmentWith(const QList<QPair<QString, QString>>& variables) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : {QStringLiteral("HB_RELAY_PORT"), QStringLiteral("HB_RELAY_LISTEN"),
                                QStringLiteral("HB_RELAY_CERT"), QStringLiteral("HB_RELAY_KEY")})
        environment.remove(name);
    for (const auto& [name, value] : variables)
        environment.insert(name, value);
    return environment;
}

TEST(RelayExecutable, RefusesUnusableSettings) {
    if (!QFileInfo(kProgram).isExecutable())
        GTEST_SKIP() << "build the harbly-relay target first";
    const struct {
        const char* name;
        QList<QPair<QString, QString>> variables;
        int exitCode;
    } cases[] = {
        {"PortNotANumber", {{QStringLiteral("HB_RELAY_PORT"), QStringLiteral("90a")}}, 2},
        {"PortTooLarge", {{QStringLiteral("HB_RELAY_PORT"), QStringLiteral("70000")}}, 2},
        {"ListenNotAnAddress", {{QStringLiteral("HB_RELAY_LISTEN"), QStringLiteral("relay.example")}}, 2},
        {"CertificateWithoutKey", {{QStringLiteral("HB_RELAY_CERT"), QStringLiteral("/nonexistent.pem")}}, 2},
        {"UnreadableCertificate",
         {{QStringLiteral("HB_RELAY_CERT"), QStringLiteral("/nonexistent.pem")},
          {QStringLiteral("HB_RELAY_KEY"), QStringLiteral("/nonexistent.key")}},
         1},
    };
    for (const auto& c : cases) {
        QProcess relay;
        relay.setProcessEnvironment(environmentWith(c.variables));
        relay.start(kProgram, {});
        ASSERT_TRUE(relay.waitForFinished(10'000)) << c.name;
        EXPECT_EQ(relay.exitCode(), c.exitCode) << c.name;
        EXPECT_FALSE(relay.readAllStandardError().isEmpty()) << c.name;
    }
}

TEST(RelayExecutable, ListensWhereToldAndAnswers) {
    if (!QFileInfo(kProgram).isExecutable())
        GTEST_SKIP() << "build the harbly-relay target first";
    QProcess relay;
    relay.setProcessEnvironment(
        environmentWith({{QStringLiteral("HB_RELAY_PORT"), QStringLiteral("0")},
                         {QStringLiteral("HB_RELAY_LISTEN"), QStringLiteral("127.0.0.1")}}));
    relay.start(kProgram, {});
    ASSERT_TRUE(relay.waitForReadyRead(10'000));
    const QByteArray line = relay.readLine().trimmed();
    ASSERT_TRUE(line.startsWith("harbly-relay listening on http://127.0.0.1:")) << line.constData();
    const quint16 port = line.mid(line.lastIndexOf(':') + 1).toUShort();
    EXPECT_EQ(hb::test::rawRequest(port, "GET /healthz HTTP/1.1\r\n\r\n", 3s).status, 200);
    EXPECT_EQ(hb::test::rawRequest(port, "GET /phone/nobody/ HTTP/1.1\r\n\r\n", 3s).status, 502);
    relay.terminate();
    relay.waitForFinished(5000);
}

} // namespace
