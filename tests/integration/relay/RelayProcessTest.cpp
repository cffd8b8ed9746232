// The harbly-relay program: its settings, and two of them behind nginx hashing on the identifier.
#include "RelaySupport.h"
#include "relay/RelayClient.h"
#include "support/TestSupport.h"
#include "support/api/ApiHarness.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QString kProgram = QStringLiteral(HB_BIN_DIR "/harbly-relay");
const QString kNginx = QStringLiteral("/usr/sbin/nginx");

QProcessEnvironment environmentWith(const QList<QPair<QString, QString>>& variables) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : environment.keys()) {
        if (name.startsWith(u"HB_RELAY_"))
            environment.remove(name);
    }
    for (const auto& [name, value] : variables)
        environment.insert(name, value);
    return environment;
}

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
        QProcess relay;
        relay.setProcessEnvironment(
            environmentWith({{QStringLiteral("HB_RELAY_PORT"), QStringLiteral("0")},
                             {QString::fromLatin1(row.name), QString::fromLatin1(row.value)}}));
        relay.start(kProgram, {});
        ASSERT_TRUE(relay.waitForFinished(10'000)) << row.name;
        EXPECT_EQ(relay.exitCode(), row.exitCode) << row.name << "=" << row.value;
        EXPECT_FALSE(relay.readAllStandardError().isEmpty()) << row.name;
    }
}

// One harbly-relay process; killed (not stopped) to stand for a lost node.
struct Node {
    QProcess process;
    quint16 port = 0;
    bool start(const QString& stateDir) {
        process.setProcessEnvironment(
            environmentWith({{QStringLiteral("HB_RELAY_PORT"), QStringLiteral("0")},
                             {QStringLiteral("HB_RELAY_STATE_DIR"), stateDir},
                             {QStringLiteral("HB_RELAY_PROXY"), QStringLiteral("127.0.0.1")},
                             {QStringLiteral("HB_RELAY_REQUEST_RATE"), QStringLiteral("0")}}));
        process.start(kProgram, {});
        if (!process.waitForReadyRead(10'000))
            return false;
        const QByteArray line = process.readLine().trimmed();
        port = line.mid(line.lastIndexOf(':') + 1).toUShort();
        return line.startsWith("harbly-relay listening on http://127.0.0.1:") && port != 0;
    }
    ~Node() {
        process.kill();
        process.waitForFinished(5000);
    }
};

// The balancer configuration docs/relay.md ships, moved to loopback, with its files in `dir`.
QByteArray nginxConfig(const QString& dir, quint16 port, const Node& a, const Node& b) {
    QFile doc(QStringLiteral(HB_RESOURCES_DIR "/../docs/relay.md"));
    if (!doc.open(QIODevice::ReadOnly))
        return {};
    QString block = QString::fromUtf8(doc.readAll()).section(QStringLiteral("## Many relay nodes"), 1);
    block = block.section(QStringLiteral("```nginx\n"), 1).section(QStringLiteral("```"), 0, 0);
    block.replace(QStringLiteral("10.0.0.11:9000"), QStringLiteral("127.0.0.1:") + QString::number(a.port))
        .replace(QStringLiteral("10.0.0.12:9000"), QStringLiteral("127.0.0.1:") + QString::number(b.port))
        .replace(QStringLiteral("listen 443 ssl;"), QStringLiteral("listen 127.0.0.1:%1;").arg(port))
        .remove(QRegularExpression(QStringLiteral("\\n *(ssl_certificate|server_name)[^\\n]*")));
    return QStringLiteral("user root; daemon off; pid %1/nginx.pid; events {}\nhttp { access_log off; "
                          "client_body_temp_path %1/b; proxy_temp_path %1/p; fastcgi_temp_path %1/f; "
                          "uwsgi_temp_path %1/u; scgi_temp_path %1/s;\n%2}\n")
        .arg(dir, block)
        .toUtf8();
}

// Catches: the shipped balancer configuration not keeping an agent and its phones on one node, and
// agents not coming back after a node is lost (bindings shared between nodes: OwnerKeys' unit test).
TEST(RelayProcess, TwoNodesBehindNginxSurviveLosingOne) {
    if (!QFileInfo(kNginx).isExecutable())
        GTEST_SKIP() << "nginx is not installed (scripts/install-deps.sh --test installs it)";
    QTemporaryDir dir;
    Node a, b;
    ASSERT_TRUE(a.start(dir.path() + QStringLiteral("/owners")) &&
                b.start(dir.path() + QStringLiteral("/owners")));
    const quint16 port = hb::test::freePort();
    QFile config(dir.path() + QStringLiteral("/nginx.conf"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly) && config.write(nginxConfig(dir.path(), port, a, b)) > 0);
    config.close();
    QProcess nginx;
    nginx.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    nginx.start(kNginx, {QStringLiteral("-p"), dir.path(), QStringLiteral("-c"), config.fileName(),
                         QStringLiteral("-e"), dir.path() + QStringLiteral("/error.log")});
    ASSERT_TRUE(hb::test::waitFor(
        [&] {
            return hb::test::rawRequest(port, "GET /healthz HTTP/1.1\r\nHost: relay\r\n\r\n", 1s).status ==
                   200;
        },
        10s));

    hb::test::ApiHarness agent;
    const QByteArray token = agent.pairToken().toUtf8();
    const QString base = QStringLiteral("ws://127.0.0.1:") + QString::number(port);
    std::vector<std::unique_ptr<hb::relay::RelayClient>> links;
    QStringList ids;
    for (int i = 0; i < 12; ++i) {
        ids << QStringLiteral("agent-") + QString::number(i);
        hb::relay::RelayOptions options;
        options.key = "key-" + QByteArray::number(i);
        links.push_back(std::make_unique<hb::relay::RelayClient>(
            ids.last(), base, [&] { return agent.port(); }, options));
        links.back()->setEnabled(true);
    }
    hb::test::Phone phone;
    const auto answered = [&] {
        int ok = 0;
        for (const QString& id : std::as_const(ids)) {
            const QString url = QStringLiteral("http://127.0.0.1:%1/phone/%2/api/config").arg(port).arg(id);
            ok += phone.request("GET", url, {}, token, 3s).status == 200;
        }
        return ok;
    };
    ASSERT_TRUE(hb::test::waitFor([&] { return answered() == ids.size(); }, 10s));

    a.process.kill();
    a.process.waitForFinished(5000);
    EXPECT_LT(answered(), ids.size()) << "no agent was on the lost node";
    EXPECT_TRUE(hb::test::waitFor([&] { return answered() == ids.size(); }, 20s))
        << "agents did not come back";

    nginx.terminate();
    nginx.waitForFinished(5000);
}

} // namespace
