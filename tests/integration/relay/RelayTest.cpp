// harbly-relay: the service against scripted agents and phones (correlation, hand-over, limits,
// deadlines); a phone reaching a real agent core through it over TLS and the agent's relay client;
// the program's settings; and two nodes behind nginx hashing on the identifier.
#include "relay-service/RelayService.h"
#include "relay/RelayClient.h"
#include "support/api/ApiHarness.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkRequest>

#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QWebSocket>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using namespace hb::test;
using hb::relay::service::RelayService;
using hb::relay::service::ServiceOptions;

namespace {

/// One exchange on a connection of its own (TLS when asked, from `from` when given): the bytes go at
/// once; the answer is read while the test waits, until the peer closes.
struct Call {
    Call(quint16 port, const QByteArray& bytes, bool tls = false, const char* from = nullptr) {
        if (from)
            socket.bind(QHostAddress(QString::fromLatin1(from)));
        tls ? socket.connectToHostEncrypted(u"127.0.0.1"_s, port)
            : socket.connectToHost(u"127.0.0.1"_s, port);
        socket.write(bytes);
    }
    /// Everything received, once the peer has closed (10 s at most).
    const QByteArray& answer() {
        closed_ = waitFor(
            [&] {
                received_ += socket.readAll();
                return socket.state() == QAbstractSocket::UnconnectedState;
            },
            10s);
        return received_;
    }
    /// The answer's status: 0 when the peer closed without one, -1 when it did not close.
    int status() {
        answer();
        return !closed_ ? -1 : received_.startsWith("HTTP/1.1 ") ? received_.mid(9, 3).toInt() : 0;
    }
    QByteArray body() { return answer().mid(received_.indexOf("\r\n\r\n") + 4); }
    QSslSocket socket;
    QByteArray received_;
    bool closed_ = false;
};

/// A RelayService on a kernel-chosen loopback port, in the test's own thread (clients here are asynchronous).
struct Service : RelayService {
    explicit Service(ServiceOptions options) : RelayService((options.port = 0, options)) { start(); }
    QString base() const {
        return (isTls() ? u"wss://127.0.0.1:"_s : u"ws://127.0.0.1:"_s) + QString::number(port());
    }
    std::unique_ptr<Call> call(const QByteArray& bytes) const {
        return std::make_unique<Call>(port(), bytes, isTls());
    }
    /// A phone's GET of `rest` from agent `id`, sent at once.
    std::unique_ptr<Call> phone(const QString& id, const char* rest) const {
        return call("GET /phone/" + id.toUtf8() + rest + " HTTP/1.1\r\n\r\n");
    }
    bool waitAgent(const QString& id, bool present = true) {
        return waitFor([&] { return hasAgent(id) == present; });
    }
};

/// An agent link scripted by the test: records request messages, replies when told.
struct TestAgent {
    QWebSocket socket;
    QList<QJsonObject> requests;
    int closeCode = 0; ///< set once closed
    TestAgent(const QString& base, const QString& id, const QByteArray& key = {}) {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket, [this](const QString& text) {
            requests.append(QJsonDocument::fromJson(text.toUtf8()).object());
        });
        QObject::connect(&socket, &QWebSocket::disconnected, &socket,
                         [this] { closeCode = socket.closeCode(); });
        QNetworkRequest request(QUrl(base + QStringLiteral("/mac/ws?id=") + id));
        if (!key.isEmpty())
            request.setRawHeader("x-hb-relay-key", key);
        socket.open(request);
    }
    bool waitRequests(qsizetype count) {
        return waitFor([&] { return requests.size() >= count; });
    }
    void reply(qsizetype index, int status, const QString& body) {
        socket.sendTextMessage(
            uR"({"reqId":"%1","status":%2,"headers":{"Content-Type":"text/plain"},"body":"%3"})"_s.arg(
                requests.at(index)[u"reqId"].toString(), QString::number(status), body));
    }
};

// Over TLS: scripted agents and phones, then a real agent whose state file predates relay keys, and
// impostors with its identifier. Catches: TLS not used for HTTPS or WSS; a wrong answer or a hang
// for requests no agent takes (none linked, malformed, oversized, chunked); phone headers beyond
// token/type/accept forwarded; replies matched to the wrong phone or settled by noise; requests in
// flight lost when a newer link replaces the old one, or left waiting when it leaves; agents beyond
// the cap (a linked identifier may still come back); the in-flight limit and the deadline; a late
// reply settling a newer request; a hung-up phone keeping its slot; a silent link kept, a live one
// dropped; connections never released; the new relay key not saved at once, or other keys lost; an
// impostor (wrong key, or none) taking the link or disturbing the real one and its phones.
TEST(RelayService, AgentsAndPhonesWithinLimitsThenTheRealAgentAndOnlyIt) {
    if (!QSslSocket::supportsSsl())
        GTEST_SKIP() << "no TLS backend in this Qt";
    QTemporaryDir dir;
    const QString certificate =
        u"/usr/bin/openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=127.0.0.1 "
        u"-addext subjectAltName=IP:127.0.0.1 -days 1 -keyout %1/key.pem -out %1/cert.pem"_s;
    Program openssl(certificate.arg(dir.path()).split(u' '));
    ASSERT_EQ(openssl.wait(), 0) << openssl.output.constData();
    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.addCaCertificates(dir.path() + u"/cert.pem");
    QSslConfiguration::setDefaultConfiguration(trusting);
    ServiceOptions options;
    options.certPath = dir.path() + u"/cert.pem";
    options.keyPath = dir.path() + u"/key.pem";
    options.pingInterval = 1s; // long enough for a live test agent's pong, short enough to drop a silent one
    options.replyTimeout = 1500ms;
    options.maxInFlightPerAgent = 2;
    options.maxAgents = 2;
    options.maxBodyBytes = 1024;
    options.headerTimeout = 1s; // room for a TLS handshake on a loaded machine
    Service service(options);
    EXPECT_EQ(Call(service.port(), "GET /healthz HTTP/1.1\r\n\r\n").status(), 0) << "plain HTTP";
    const std::pair<QByteArray, int> rows[] = {
        // request, status (0: closed without an answer)
        {"GET /phone/nobody/api/config HTTP/1.1\r\n\r\n", 502},
        {"GET /phone/nobody HTTP/1.1\r\n\r\n", 301},
        {"GET / HTTP/1.1\r\nX: " + QByteArray(17 * 1024, 'a') + "\r\n\r\n", 431},
        {"POST /phone/a/x HTTP/1.1\r\nContent-Length: 1025\r\n\r\n", 413},
        {"POST /phone/a/x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 501},
        {"POST /phone/nobody/x HTTP/1.1\r\nContent-Length: 2\r\n\r\n\xff\xfe", 400},
        {"GET /phone/a/ HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n", 404},
        {"GET /mac/ws HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n", 400},
        {"GET /healthz HTTP/1.1\r\n", 0},
    };
    for (const auto& [bytes, status] : rows)
        EXPECT_EQ(service.call(bytes)->status(), status) << bytes.left(60).constData();
    Call slow(service.port(), {}, true);
    for (const char c : QByteArray("GET /healthz HTTP/1.1\r\n\r\n")) {
        slow.socket.write(&c, 1);
        waitFor([] { return false; }, 2ms);
    }
    EXPECT_EQ(slow.status(), 200) << "a head arriving a byte at a time";

    TestAgent first(service.base(), u"agent-1"_s, "key");
    ASSERT_TRUE(service.waitAgent(u"agent-1"_s));
    const auto typed =
        service.call("POST /phone/agent-1/api/type?x=1 HTTP/1.1\r\nX-HB-Token: tok\r\nContent-Type: "
                     "application/json\r\nAccept: */*\r\nCookie: a=b\r\nx-hb-relay: 0\r\n"
                     "Content-Length: 6\r\n\r\nh\xc3\xa9llo");
    const auto other = service.phone(u"agent-1"_s, "/two");
    ASSERT_TRUE(first.waitRequests(2));
    const int typedAt = first.requests[0][u"path"] == u"/two"_s ? 1 : 0;
    QJsonObject message = first.requests[typedAt];
    message.remove(u"reqId"_s);
    EXPECT_EQ(message, parsed(R"({"method":"POST","path":"/api/type?x=1","body":"h\u00e9llo","headers":{
        "accept":"*/*","content-type":"application/json","x-hb-token":"tok"}})"));

    for (const char* noise : {"not json", "[1]", R"({"status":200})", R"({"reqId":"unknown","status":200})"})
        first.socket.sendTextMessage(QString::fromLatin1(noise));
    TestAgent second(service.base(), u"agent-1"_s, "key"); // the agent restarting
    ASSERT_TRUE(waitFor([&] { return first.closeCode == 1000; })) << "the older link stays open";
    second.requests = first.requests;
    second.reply(1 - typedAt, 200, u"/two"_s);
    second.reply(typedAt, 201, u"done"_s);
    EXPECT_EQ(typed->status(), 201);
    EXPECT_TRUE(typed->answer().contains("\r\nContent-Type: text/plain\r\n")) << typed->answer().constData();
    EXPECT_EQ(typed->body(), "done");
    EXPECT_EQ(other->body(), "/two");

    const auto pending = service.phone(u"agent-1"_s, "/x");
    ASSERT_TRUE(second.waitRequests(3));
    second.socket.close();
    EXPECT_EQ(pending->status(), 502);
    EXPECT_TRUE(service.waitAgent(u"agent-1"_s, false));

    TestAgent replaced(service.base(), u"agent-2"_s);
    const auto silent = service.call("GET /mac/ws?id=silent HTTP/1.1\r\nHost: relay\r\nUpgrade: websocket\r\n"
                                     "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                     "Sec-WebSocket-Version: 13\r\n\r\n");
    ASSERT_TRUE(waitFor([&] { return silent->socket.peek(12) == "HTTP/1.1 101"; }));
    ASSERT_TRUE(service.waitAgent(u"agent-2"_s) && service.waitAgent(u"silent"_s));
    TestAgent beyondCap(service.base(), u"c"_s);
    EXPECT_TRUE(waitFor([&] { return beyondCap.socket.state() == QAbstractSocket::UnconnectedState; }));
    TestAgent agent(service.base(), u"agent-2"_s);
    ASSERT_TRUE(waitFor([&] { return replaced.closeCode == 1000; })) << "the linked identifier came back";

    const auto a = service.phone(u"agent-2"_s, "/a");
    const auto b = service.phone(u"agent-2"_s, "/b");
    ASSERT_TRUE(agent.waitRequests(2));
    EXPECT_EQ(service.phone(u"agent-2"_s, "/c")->status(), 503);
    EXPECT_EQ(a->status(), 504);
    agent.reply(0, 200, u"late"_s);
    const auto fresh = service.phone(u"agent-2"_s, "/d");
    ASSERT_TRUE(agent.waitRequests(3));
    agent.reply(2, 200, u"fresh"_s);
    EXPECT_EQ(fresh->body(), "fresh");
    const auto gone = service.phone(u"agent-2"_s, "/e");
    ASSERT_TRUE(waitFor([&] { return service.inFlight(u"agent-2"_s) == 1; }));
    gone->socket.abort();
    EXPECT_TRUE(waitFor([&] { return service.inFlight(u"agent-2"_s) == 0; }));

    EXPECT_TRUE(service.waitAgent(u"silent"_s, false));
    EXPECT_TRUE(service.waitAgent(u"agent-2"_s)) << "the live link was dropped";
    agent.socket.close();
    service.call("GET / HTTP/9\r\n\r\n")->status();
    EXPECT_TRUE(waitFor([&] { return service.openConnections() == 0; })) << service.openConnections();

    ApiHarness::Options old;
    old.state = parsed(R"({"pin":"246810","tokens":["t-1"],"relayId":"OLD-ID"})");
    ApiHarness real(old);
    QFile state(real.supportDir() + u"/state.json");
    ASSERT_TRUE(state.open(QIODevice::ReadOnly));
    QJsonObject saved = QJsonDocument::fromJson(state.readAll()).object();
    EXPECT_EQ(saved.take(u"relayKey"_s).toString(), real.store().relayKey());
    EXPECT_EQ(saved, old.state);

    const QString id = real.store().relayId();
    hb::relay::RelayClient link(id, service.base(), [&] { return real.port(); },
                                {.key = real.store().relayKey().toLatin1()});
    link.setEnabled(true);
    ASSERT_TRUE(service.waitAgent(id));
    for (const QByteArray& forged : {QByteArray("guessed-key"), QByteArray()}) {
        TestAgent impostor(service.base(), id, forged);
        EXPECT_TRUE(waitFor([&] { return impostor.closeCode == RelayService::kCloseNotOwner; }))
            << forged.constData() << ": " << impostor.closeCode;
    }

    const QByteArray gesture = "POST /phone/" + id.toUtf8() +
                               "/api/gesture HTTP/1.1\r\nx-hb-token: " + real.pairToken().toUtf8() +
                               "\r\nContent-Length: 21\r\n\r\n{\"value\":\"spotlight\"}";
    EXPECT_EQ(service.call(gesture)->status(), 200);
    EXPECT_TRUE(real.fake().calls().contains(u"runGesture:spotlight"_s));
}

// Catches: one address starving the rest. Its links and requests beyond the rate get 429, while
// other addresses, and clients a trusted balancer names, keep their own allowance; a client naming
// itself in X-Real-IP without being the balancer.
TEST(RelayService, EachClientAddressHasItsOwnAllowance) {
    ServiceOptions options;
    options.linksPerSecond = 1; // bursts of 2
    options.requestsPerSecond = 1;
    options.trustedProxy = QHostAddress(u"127.0.0.9"_s);
    Service service(options);
    const QByteArray link = "GET /mac/ws?id=x HTTP/1.1\r\nUpgrade: websocket\r\n\r\n";
    const QByteArray phone = "GET /phone/x/ HTTP/1.1\r\n\r\n";
    const QByteArray named = "GET /phone/x/ HTTP/1.1\r\nX-Real-IP: 203.0.113.7\r\n\r\n";
    // Request, client address, status (0: handed to the WebSocket handshake, which drops it for want of a
    // key).
    const std::tuple<QByteArray, const char*, int> rows[] = {
        {link, "127.0.0.1", 0},    {link, "127.0.0.1", 0},    {link, "127.0.0.1", 429},
        {phone, "127.0.0.1", 502}, {phone, "127.0.0.1", 502}, {phone, "127.0.0.1", 429},
        {phone, "127.0.0.2", 502}, {named, "127.0.0.9", 502}, {named, "127.0.0.9", 502},
        {named, "127.0.0.9", 429}, {phone, "127.0.0.9", 502}, {named, "127.0.0.2", 502},
    };
    for (const auto& [bytes, from, status] : rows)
        EXPECT_EQ(Call(service.port(), bytes, false, from).status(), status) << bytes.constData() << from;
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

// Catches: a bad setting ignored (a relay up on a port or address nobody asked for, or without
// its certificate), and an unusable state folder not reported.
TEST(RelayProcess, RefusesUnusableSettings) {
    const std::tuple<const char*, const char*, int> rows[] = {
        // variable, value, exit code
        {"HB_RELAY_PORT", "90a", 2},
        {"HB_RELAY_LISTEN", "relay.example", 2},
        {"HB_RELAY_CERT", "/nonexistent.pem", 2},
        {"HB_RELAY_STATE_DIR", "/proc/version/x", 1},
    };
    for (const auto& [name, value, exitCode] : rows) {
        Program relay({u"/usr/bin/env"_s, u"HB_RELAY_PORT=0"_s,
                       QString::fromLatin1(name) + u'=' + QLatin1String(value),
                       QStringLiteral(HB_BIN_DIR "/harbly-relay")});
        EXPECT_EQ(relay.wait(10s), exitCode) << name << "=" << value;
        EXPECT_FALSE(relay.output.isEmpty()) << name;
    }
}

// Catches: the shipped balancer configuration not keeping an agent and its phones on one node, and
// agents not coming back after a node is lost (bindings shared between nodes: OwnerKeys' unit test).
TEST(RelayService, TwoNodesBehindNginxSurviveLosingOne) {
    const QString nginxProgram = u"/usr/sbin/nginx"_s;
    if (!QFileInfo(nginxProgram).isExecutable())
        GTEST_SKIP() << "nginx is not installed (scripts/install-deps.sh --test installs it)";
    QTemporaryDir dir;
    ServiceOptions node;
    node.stateDir = dir.path() + u"/owners";
    node.trustedProxy = QHostAddress::LocalHost;
    node.requestsPerSecond = 0;
    std::optional<Service> a(node), b(node);
    const quint16 port = freePort();
    QFile config(dir.path() + u"/nginx.conf");
    ASSERT_TRUE(config.open(QIODevice::WriteOnly) &&
                config.write(nginxConfig(dir.path(), port, a->port(), b->port())) > 0);
    config.close();
    Program nginx(
        {nginxProgram, u"-p"_s, dir.path(), u"-c"_s, config.fileName(), u"-e"_s, dir.path() + u"/error.log"});
    const auto status = [&](const QByteArray& target) { // asking to close: nginx keeps connections open
        return Call(port, "GET " + target + " HTTP/1.1\r\nHost: relay\r\nConnection: close\r\n\r\n").status();
    };
    ASSERT_TRUE(waitFor([&] { return status("/healthz") == 200; }, 10s));

    HttpServer local;
    std::vector<std::unique_ptr<hb::relay::RelayClient>> links;
    for (int i = 0; i < 12; ++i) {
        links.push_back(std::make_unique<hb::relay::RelayClient>(
            u"agent-"_s + QString::number(i), u"ws://127.0.0.1:"_s + QString::number(port),
            [&] { return local.port(); }, hb::relay::RelayOptions{.key = "key-" + QByteArray::number(i)}));
        links.back()->setEnabled(true);
    }
    const auto answered = [&] {
        int ok = 0;
        for (int i = 0; i < 12; ++i)
            ok += status("/phone/agent-" + QByteArray::number(i) + "/api/config") == 200;
        return ok;
    };
    ASSERT_TRUE(waitFor([&] { return answered() == 12; }, 10s));

    a.reset();
    EXPECT_LT(answered(), 12) << "no agent was on the lost node";
    EXPECT_TRUE(waitFor([&] { return answered() == 12; }, 20s)) << "agents did not come back";
}

} // namespace
