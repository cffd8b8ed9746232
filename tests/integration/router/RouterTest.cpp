// The router over real sockets: the gates of every API path and the local-trust rule, as browsers
// and other accounts of this machine meet it (the one owner of these rules: endpoint tests check
// their wire shape only); and hostile requests, one row per class of attack on the whole stack
// (parsing rules are the reader's unit tests): each gets its answer, and the agent keeps serving
// with flat memory.
#include "support/api/ApiHarness.h"

#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace hb::test;

namespace {

enum class Gate { Token, LocalOrToken };

// Every API path with its gate; "/api/unpair" last, since it revokes the token.
const struct {
    const char* method;
    const char* path;
    Gate gate;
} kGates[] = {
    {"GET", "/api/admin", Gate::LocalOrToken},
    {"POST", "/api/config", Gate::LocalOrToken},
    {"GET", "/api/config", Gate::Token},
    {"PUT", "/api/config", Gate::Token},
    {"POST", "/api/set-pin", Gate::LocalOrToken},
    {"POST", "/api/connect", Gate::LocalOrToken},
    {"POST", "/api/airdrop", Gate::LocalOrToken},
    {"POST", "/api/launch", Gate::Token},
    {"POST", "/api/url", Gate::Token},
    {"POST", "/api/shortcut", Gate::Token},
    {"POST", "/api/gesture", Gate::Token},
    {"POST", "/api/media", Gate::Token},
    {"GET", "/api/volume", Gate::Token},
    {"POST", "/api/system", Gate::Token},
    {"POST", "/api/clipboard", Gate::Token},
    {"POST", "/api/type", Gate::Token},
    {"POST", "/api/pointer", Gate::Token},
    {"POST", "/api/key", Gate::Token},
    {"GET", "/api/now-playing", Gate::Token},
    {"GET", "/api/devices", Gate::LocalOrToken},
    {"POST", "/api/login-item", Gate::LocalOrToken},
    {"GET", "/api/shortcuts", Gate::LocalOrToken},
    {"POST", "/api/run-plan", Gate::Token},
    {"POST", "/api/plan", Gate::Token},
    {"POST", "/api/flows", Gate::LocalOrToken},
    {"POST", "/api/open-admin", Gate::LocalOrToken},
    {"POST", "/api/unpair", Gate::Token},
};

bool refused(const RawResponse& response, const char* path) {
    const int status = QByteArray(path) == "/api/admin" ? 200 : 401;
    return response.status == status && response.body == "{\"ok\":false}";
}

constexpr char kAdminRequest[] = "GET /api/admin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

/// Asks for /api/admin from a child that gave up root for "nobody", connecting to [::1]:`port`
/// from [::1]:`fromPort` (any port when 0): true when the answer carried the PIN. Only system
/// calls run in the child; its exit status is the answer.
bool nobodyGetsThePin(quint16 port, quint16 fromPort) {
    const pid_t child = ::fork();
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        ::alarm(10);
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(2);
        const int fd = ::socket(AF_INET6, SOCK_STREAM, 0); // after setuid: the socket is nobody's
        const sockaddr_in6 from{AF_INET6, htons(fromPort), 0, in6addr_loopback, 0};
        const sockaddr_in6 to{AF_INET6, htons(port), 0, in6addr_loopback, 0};
        if ((fromPort && ::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) ||
            ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 ||
            ::write(fd, kAdminRequest, sizeof kAdminRequest - 1) < 0)
            ::_exit(2);
        static char answer[64 * 1024];
        size_t size = 0;
        for (ssize_t n; (n = ::read(fd, answer + size, sizeof answer - size)) > 0;)
            size += size_t(n);
        ::_exit(::memmem(answer, size, "\"pin\"", 5) ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2) << "child status " << status;
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

const QByteArray kNotFound = "not found";
const QByteArray kNotOk = "{\"ok\":false}";

struct Case {
    const char* name;
    QByteArray raw;
    int status;
    QByteArray body = {}; // checked when not empty
};

const Case kCases[] = {
    {"empty line defaults to GET /", "\r\n\r\n", 200},
    {"preflight of any path", "OPTIONS /anything/at/all HTTP/1.1\r\n\r\n", 204},
    {"route with a trailing slash", "GET /api/launch/ HTTP/1.1\r\n\r\n", 404, kNotFound},
    {"route in upper case", "POST /API/launch HTTP/1.1\r\n\r\n", 404, kNotOk},
    {"lower-case method", "get /nope HTTP/1.1\r\n\r\n", 404, kNotOk},
    {"absolute form elsewhere", "GET http://evil.example/nope HTTP/1.1\r\n\r\n", 404, kNotFound},
    {"duplicate token header", "GET /api/volume HTTP/1.1\r\nx-hb-token: a\r\nX-HB-TOKEN: b\r\n\r\n", 401,
     kNotOk},
    {"length over the body limit", "POST /api/x HTTP/1.1\r\nContent-Length: 4194305\r\n\r\n", 413},
    {"head over its limit", "GET / HTTP/1.1\r\nX: " + QByteArray(17 * 1024, 'a') + "\r\n\r\n", 431},
    {"chunked pair gets no body",
     "POST /api/pair HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nd\r\n{\"pin\":\"1\"}\r\n0\r\n\r\n", 401},
    {"smuggled after body",
     "POST /api/x HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}POST /api/set-pin HTTP/1.1\r\n\r\n", 404, kNotOk},
    {"hundred pipelined", QByteArray("GET / HTTP/1.1\r\n\r\n").repeated(100), 200},
    {"deeply nested json",
     "POST /api/pair-code HTTP/1.1\r\nContent-Length: 20000\r\n\r\n" + QByteArray(10000, '[') +
         QByteArray(10000, ']'),
     401},
    {"icon with bad escape", "GET /api/icon?app=%zz HTTP/1.1\r\n\r\n", 404, kNotFound},
    {"encoded traversal (the static lookup's own rules: its unit test)",
     "GET /%2E%2E%2Fstate.json HTTP/1.1\r\n\r\n", 404, kNotFound},
};

} // namespace

// Local trust rows: a caller on this machine is trusted only with its own origin, host and fetch site.
TEST(Gates, EveryPathAndLocalTrust) {
    ApiHarness api;
    const QString pin = api.store().pinValue();
    const QByteArray token = api.pairToken().toUtf8();
    const QHostAddress elsewhere(QStringLiteral("127.0.0.2"));
    const QByteArray body = "{\"steps\":[]}";
    for (const auto& row : kGates) {
        const auto call = [&](QHash<QByteArray, QByteArray> headers, const QHostAddress& from) {
            return api.request(row.method, row.path, body, {}, headers, from);
        };
        const QString where = QString::fromLatin1(row.method) + u' ' + QString::fromLatin1(row.path);
        EXPECT_TRUE(refused(call({}, elsewhere), row.path)) << where.toStdString();
        EXPECT_TRUE(refused(call({{"x-hb-token", QByteArray(48, '0')}}, elsewhere), row.path))
            << where.toStdString();
        EXPECT_FALSE(refused(call({{"X-Hb-Token", token}}, elsewhere), row.path)) << where.toStdString();
        EXPECT_EQ(refused(call({}, {}), row.path), row.gate == Gate::Token) << where.toStdString();
    }

    const QByteArray port = QByteArray::number(api.port());
    const QByteArray own = "http://127.0.0.1:" + port;
    const struct {
        const char* name;
        QHash<QByteArray, QByteArray> headers;
        bool trusted;
    } rows[] = {
        {"control panel fetch", {{"Origin", own}, {"Sec-Fetch-Site", "same-origin"}}, true},
        {"localhost origin", {{"Origin", "http://localhost:" + port}}, true},
        {"typed in the address bar", {{"Sec-Fetch-Site", "none"}}, true},
        {"ipv6 host", {{"Host", "[::1]:" + port}}, true},
        {"foreign origin", {{"Origin", "http://evil.example"}}, false},
        {"https origin", {{"Origin", "https://127.0.0.1:" + port}}, false},
        {"other port of this machine", {{"Origin", "http://127.0.0.1:1"}}, false},
        {"portless origin, not port 80", {{"Origin", "http://127.0.0.1"}}, false},
        {"origin with a path", {{"Origin", own + "/x"}}, false},
        {"cross-site fetch", {{"Sec-Fetch-Site", "cross-site"}}, false},
        {"own origin, cross-site fetch", {{"Origin", own}, {"Sec-Fetch-Site", "cross-site"}}, false},
        {"rebinding host", {{"Host", "attacker.example:" + port}}, false},
        {"empty host", {{"Host", ""}}, false},
        {"relayed, own origin", {{"Origin", own}, {"X-HB-Relay", ""}}, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(api.request("POST", "/api/set-pin", "{\"pin\":\"12\"}", {}, row.headers).status,
                  row.trusted ? 200 : 401)
            << row.name;
    }
    EXPECT_EQ(api.store().pinValue(), pin);
}

// Catches: our own sockets looked up in the wrong table or with wrongly encoded addresses; the
// account check dropped, or a connection matched by its ports alone (another account on [::1]
// borrowing the ports of one of our IPv4 connections gets the PIN); "Origin: http://127.0.0.1"
// (browsers drop ":80") refused on port 80.
TEST(LocalTrust, OurAccountOverEveryLoopbackFormAndNoOtherAccount) {
    ApiHarness harness;
    for (const char* to : {"127.0.0.1", "::1", "::ffff:127.0.0.1"}) {
        const auto answer = rawRequest(harness.port(), kAdminRequest, std::chrono::seconds(5),
                                       QHostAddress(QString::fromLatin1(to)));
        EXPECT_TRUE(answer.json().contains(QStringLiteral("pin"))) << to << ": " << answer.raw.constData();
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a client as another account and to listen on port 80";
    // Our own IPv4 connection from 127.0.0.1:X, held open while the other account uses [::1]:X.
    RawClient ours(harness.port(), QHostAddress::LocalHost, QHostAddress::LocalHost);
    sockaddr_in ourEnd{};
    socklen_t length = sizeof ourEnd;
    ASSERT_EQ(::getsockname(ours.fd(), reinterpret_cast<sockaddr*>(&ourEnd), &length), 0);
    EXPECT_FALSE(nobodyGetsThePin(harness.port(), 0)) << "from any port";
    EXPECT_FALSE(nobodyGetsThePin(harness.port(), ntohs(ourEnd.sin_port)))
        << "from the ports of one of our IPv4 connections";

    ApiHarness::Options options;
    options.port = 80;
    ApiHarness on80(options);
    if (on80.port() != 80)
        GTEST_SKIP() << "port 80 is taken";
    EXPECT_EQ(on80.request("POST", "/api/set-pin", "{\"pin\":\"1234\"}", {}, {{"Origin", "http://127.0.0.1"}})
                  .status,
              200);
}

TEST(MalformedRequests, EachGetsItsAnswerAndTheAgentStaysUp) {
    ApiHarness harness;
    const QString pin = harness.store().pinValue();
    long baseline = 0;
    for (int round = 0; round < 3; ++round) {
        for (const Case& c : kCases) {
            const auto response = rawRequest(harness.port(), c.raw, 3s);
            EXPECT_EQ(response.status, c.status) << c.name;
            EXPECT_TRUE(response.closed) << c.name;
            EXPECT_FALSE(response.head.toLower().contains("access-control")) << c.name << ": no CORS";
            if (!c.body.isEmpty()) {
                EXPECT_EQ(response.body, c.body) << c.name;
            }
        }
        if (round == 0)
            baseline = residentKiB();
    }
    EXPECT_EQ(harness.request("GET", "/").status, 200);
    if (memoryFiguresMeaningful()) {
        EXPECT_LT(residentKiB() - baseline, 4 * 1024) << "memory grew while the suite repeated";
    }
    EXPECT_EQ(harness.store().pinValue(), pin) << "no hostile request changed the PIN";
}
