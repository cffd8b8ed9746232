// The harbly-relay program: its settings, and two of them behind nginx hashing on the identifier.
#include "RelaySupport.h"
#include "relay/RelayClient.h"
#include "support/api/ApiHarness.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using namespace hb::test;

namespace {

/// harbly-relay on a kernel-chosen port with `variables` (and no other HB_RELAY_*), killed with the object.
struct Relay {
    QProcess process;
    explicit Relay(const QList<QPair<QString, QString>>& variables) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString& name : environment.keys()) {
            if (name.startsWith(u"HB_RELAY_"))
                environment.remove(name);
        }
        environment.insert(u"HB_RELAY_PORT"_s, u"0"_s);
        for (const auto& [name, value] : variables)
            environment.insert(name, value);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(HB_BIN_DIR "/harbly-relay"), {});
    }
    ~Relay() {
        process.kill();
        process.waitForFinished(5000);
    }
    /// The port it says it listens on; 0 when it says nothing.
    quint16 port() {
        if (!process.waitForReadyRead(10'000))
            return 0;
        const QByteArray line = process.readLine().trimmed();
        return line.startsWith("harbly-relay listening on http://127.0.0.1:")
                   ? line.split(':').last().toUShort()
                   : 0;
    }
};

// Catches: a bad setting ignored (a relay up on a port or address nobody asked for, or without
// its certificate), and an unusable state folder not reported.
TEST(RelayProcess, RefusesUnusableSettings) {
    const struct {
        const char* name;
        const char* value;
        int exitCode;
    } rows[] = {
        {"HB_RELAY_PORT", "90a", 2},
        {"HB_RELAY_LISTEN", "relay.example", 2},
        {"HB_RELAY_CERT", "/nonexistent.pem", 2},
        {"HB_RELAY_STATE_DIR", "/proc/version/x", 1},
    };
    for (const auto& row : rows) {
        Relay relay({{QString::fromLatin1(row.name), QString::fromLatin1(row.value)}});
        ASSERT_TRUE(relay.process.waitForFinished(10'000)) << row.name;
        EXPECT_EQ(relay.process.exitCode(), row.exitCode) << row.name << "=" << row.value;
        EXPECT_FALSE(relay.process.readAllStandardError().isEmpty()) << row.name;
    }
}

// The balancer configuration docs/relay.md ships, moved to loopback, with its files in `dir`.
QByteArray nginxConfig(const QString& dir, quint16 port, quint16 a, quint16 b) {
    QFile doc(QStringLiteral(HB_RESOURCES_DIR "/../docs/relay.md"));
    if (!doc.open(QIODevice::ReadOnly))
        return {};
    QString block = QString::fromUtf8(doc.readAll()).section(u"## Many relay nodes"_s, 1);
    block = block.section(u"```nginx\n"_s, 1).section(u"```"_s, 0, 0);
    block.replace(u"10.0.0.11:9000"_s, u"127.0.0.1:"_s + QString::number(a))
        .replace(u"10.0.0.12:9000"_s, u"127.0.0.1:"_s + QString::number(b))
        .replace(u"listen 443 ssl;"_s, u"listen 127.0.0.1:%1;"_s.arg(port))
        .remove(QRegularExpression(u"\\n *(ssl_certificate|server_name)[^\\n]*"_s));
    return u"user root; daemon off; pid %1/nginx.pid; events {}\nhttp { access_log off; "
           "client_body_temp_path %1/b; proxy_temp_path %1/p; fastcgi_temp_path %1/f; "
           "uwsgi_temp_path %1/u; scgi_temp_path %1/s;\n%2}\n"_s.arg(dir, block)
               .toUtf8();
}

// Catches: the shipped balancer configuration not keeping an agent and its phones on one node, and
// agents not coming back after a node is lost (bindings shared between nodes: OwnerKeys' unit test).
TEST(RelayProcess, TwoNodesBehindNginxSurviveLosingOne) {
    const QString nginxProgram = u"/usr/sbin/nginx"_s;
    if (!QFileInfo(nginxProgram).isExecutable())
        GTEST_SKIP() << "nginx is not installed (scripts/install-deps.sh --test installs it)";
    QTemporaryDir dir;
    const QList<QPair<QString, QString>> node = {{u"HB_RELAY_STATE_DIR"_s, dir.path() + u"/owners"},
                                                 {u"HB_RELAY_PROXY"_s, u"127.0.0.1"_s},
                                                 {u"HB_RELAY_REQUEST_RATE"_s, u"0"_s}};
    Relay a(node), b(node);
    const quint16 aPort = a.port(), bPort = b.port(), port = freePort();
    ASSERT_TRUE(aPort && bPort);
    QFile config(dir.path() + u"/nginx.conf");
    ASSERT_TRUE(config.open(QIODevice::WriteOnly) &&
                config.write(nginxConfig(dir.path(), port, aPort, bPort)) > 0);
    config.close();
    QProcess nginx;
    nginx.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    nginx.start(nginxProgram,
                {u"-p"_s, dir.path(), u"-c"_s, config.fileName(), u"-e"_s, dir.path() + u"/error.log"});
    ASSERT_TRUE(waitFor(
        [&] { return rawRequest(port, "GET /healthz HTTP/1.1\r\nHost: relay\r\n\r\n", 1s).status == 200; },
        10s));

    ApiHarness agent;
    const QByteArray token = agent.pairToken().toUtf8();
    std::vector<std::unique_ptr<hb::relay::RelayClient>> links;
    for (int i = 0; i < 12; ++i) {
        hb::relay::RelayOptions options;
        options.key = "key-" + QByteArray::number(i);
        links.push_back(std::make_unique<hb::relay::RelayClient>(
            u"agent-"_s + QString::number(i), u"ws://127.0.0.1:"_s + QString::number(port),
            [&] { return agent.port(); }, options));
        links.back()->setEnabled(true);
    }
    Phone phone;
    const auto answered = [&] {
        int ok = 0;
        for (int i = 0; i < 12; ++i) {
            const QString url = u"http://127.0.0.1:%1/phone/agent-%2/api/config"_s.arg(port).arg(i);
            ok += phone.request("GET", url, {}, token, 3s).status == 200;
        }
        return ok;
    };
    ASSERT_TRUE(waitFor([&] { return answered() == 12; }, 10s));

    a.process.kill();
    a.process.waitForFinished(5000);
    EXPECT_LT(answered(), 12) << "no agent was on the lost node";
    EXPECT_TRUE(waitFor([&] { return answered() == 12; }, 20s)) << "agents did not come back";
    nginx.terminate();
    nginx.waitForFinished(5000);
}

} // namespace
