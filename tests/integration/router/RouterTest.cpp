// The router: the gates of every API path and the local-trust rule (their one owner: endpoint tests
// check their wire shape only), and hostile requests on the whole stack, one row per class of attack
// the reader's and static lookup's unit tables cannot see (how they reach the wire).
#include "support/api/ApiHarness.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <span>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using namespace hb::test;

namespace {

// Every API path by its gate; "/api/unpair" last, since it revokes the token.
const char* const kLocalOrToken[] = {"GET /api/admin",       "POST /api/config",   "POST /api/set-pin",
                                     "POST /api/connect",    "POST /api/airdrop",  "GET /api/devices",
                                     "POST /api/login-item", "GET /api/shortcuts", "POST /api/flows",
                                     "POST /api/open-admin"};
const char* const kTokenOnly[] = {"GET /api/config",     "PUT /api/config",      "POST /api/launch",
                                  "POST /api/url",       "POST /api/shortcut",   "POST /api/gesture",
                                  "POST /api/media",     "GET /api/volume",      "POST /api/system",
                                  "POST /api/clipboard", "POST /api/type",       "POST /api/pointer",
                                  "POST /api/key",       "GET /api/now-playing", "POST /api/run-plan",
                                  "POST /api/plan",      "POST /api/unpair"};

/// What another account ("nobody") gets for /api/admin over [::1] from local port `fromPort`.
QByteArray askedByNobody(quint16 port, quint16 fromPort) {
    Program client({u"/usr/bin/setpriv"_s, u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s,
                    u"/usr/bin/python3"_s, u"-c"_s, uR"(import socket, sys
s = socket.create_connection(('::1', int(sys.argv[1])), source_address=('::1', int(sys.argv[2])))
s.sendall(b'GET /api/admin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n')
sys.stdout.buffer.write(s.makefile('rb').read()))"_s,
                    QString::number(port), QString::number(fromPort)});
    client.wait(10s);
    return client.output;
}

} // namespace

// Faults: an origin matched by prefix, or without its scheme or port; a portless origin taken on
// any port (browsers leave out only ":80"); a name that merely resolves to loopback taken for it.
TEST(LocalTrust, OwnOriginsAndLoopbackNames) {
    const std::tuple<const char*, quint16, bool> origins[] = {
        {"http://127.0.0.1:8788", 8788, true},    {"HTTP://LOCALHOST:8788", 8788, true},
        {"http://[::1]:8788", 8788, true},        {"http://127.0.0.1", 80, true},
        {"http://127.0.0.1", 8788, false},        {"https://127.0.0.1:8788", 8788, false},
        {"http://127.0.0.1:1", 8788, false},      {"http://127.0.0.1:87880", 8788, false},
        {"http://localhost:8788/x", 8788, false},
    };
    for (const auto& [origin, port, own] : origins)
        EXPECT_EQ(hb::api::isOwnOrigin(QString::fromLatin1(origin), port), own) << origin << " on " << port;
    for (const char* name : {"127.0.0.1", "LOCALHOST:8788", "[::1]:8788"})
        EXPECT_TRUE(hb::api::isLoopbackName(QString::fromLatin1(name))) << name;
    for (const char* name : {"", "attacker.example:8788", "127.0.0.1.attacker.example", "127.0.0.2"})
        EXPECT_FALSE(hb::api::isLoopbackName(QString::fromLatin1(name))) << name;
}

// Catches: a gate missing or wrong on any path; local trust given despite a foreign page, fetch
// site, host or relay mark; our own sockets looked up in the wrong table or with wrongly encoded
// addresses; the account check dropped, or a connection matched by its ports alone (another
// account on [::1] borrowing the ports of one of our IPv4 connections gets the PIN); and the
// answers of hostile requests, with the PIN unchanged by all of them.
TEST(Gates, EveryPathLocalTrustAndHostileRequests) {
    ApiHarness api;
    const QString pin = api.store().pinValue();
    const QByteArray token = api.pairToken().toUtf8();
    const QHostAddress elsewhere(QStringLiteral("127.0.0.2"));
    for (const auto& [paths, tokenOnly] :
         {std::pair<std::span<const char* const>, bool>{kLocalOrToken, false}, {kTokenOnly, true}})
        for (const QByteArray row : paths) {
            const QByteArray method = row.split(' ')[0], path = row.split(' ')[1];
            const auto refused = [&](QHash<QByteArray, QByteArray> headers, const QHostAddress& from) {
                const auto answer = api.request(method, path, "{\"steps\":[]}", {}, headers, from);
                return answer.status == (path == "/api/admin" ? 200 : 401) && answer.body == "{\"ok\":false}";
            };
            EXPECT_EQ(QList<bool>({refused({}, elsewhere),
                                   refused({{"x-hb-token", QByteArray(48, '0')}}, elsewhere),
                                   refused({{"X-Hb-Token", token}}, elsewhere), refused({}, {})}),
                      QList<bool>({true, true, false, tokenOnly}))
                << row.constData() << ": no token, wrong token, token, local";
        }

    const QByteArray port = QByteArray::number(api.port());
    const QByteArray own = "http://127.0.0.1:" + port;
    const std::tuple<const char*, QHash<QByteArray, QByteArray>, bool> rows[] = {
        {"control panel fetch", {{"Origin", own}, {"Sec-Fetch-Site", "same-origin"}}, true},
        {"typed in the address bar", {{"Sec-Fetch-Site", "none"}}, true},
        {"foreign origin", {{"Origin", "http://evil.example"}}, false},
        {"same-site fetch", {{"Sec-Fetch-Site", "same-site"}}, false},
        {"own origin, cross-site fetch", {{"Origin", own}, {"Sec-Fetch-Site", "cross-site"}}, false},
        {"rebinding host", {{"Host", "attacker.example:" + port}}, false},
        {"relayed, own origin", {{"Origin", own}, {"X-HB-Relay", ""}}, false},
    };
    for (const auto& [name, headers, trusted] : rows)
        EXPECT_EQ(api.request("POST", "/api/set-pin", "{\"pin\":\"12\"}", {}, headers).status,
                  trusted ? 200 : 401)
            << name;
    for (const char* to : {"127.0.0.1", "::1", "::ffff:127.0.0.1"}) {
        const auto answer = rawRequest(api.port(), "GET /api/admin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 5s,
                                       QHostAddress(QString::fromLatin1(to)));
        EXPECT_TRUE(answer.json().contains(QStringLiteral("pin"))) << to << ": " << answer.raw.constData();
    }
    if (::geteuid() == 0) { // only root can run a client as another account
        // Our own IPv4 connection from 127.0.0.1:X, held open while the other account uses [::1]:X.
        RawClient ours(api.port(), QHostAddress::LocalHost, QHostAddress::LocalHost);
        sockaddr_in ourEnd{};
        socklen_t length = sizeof ourEnd;
        ASSERT_EQ(::getsockname(ours.fd(), reinterpret_cast<sockaddr*>(&ourEnd), &length), 0);
        const QByteArray answer = askedByNobody(api.port(), ntohs(ourEnd.sin_port));
        EXPECT_TRUE(answer.endsWith("\r\n\r\n{\"ok\":false}")) << answer.constData();
    }

    const std::tuple<const char*, QByteArray, int, QByteArray> hostile[] = {
        // name, request, status, body
        {"preflight of any path", "OPTIONS /anything/at/all HTTP/1.1\r\n\r\n", 204, ""},
        {"route with a trailing slash", "GET /api/launch/ HTTP/1.1\r\n\r\n", 404, "not found"},
        {"route in upper case", "POST /API/launch HTTP/1.1\r\n\r\n", 404, "{\"ok\":false}"},
        {"lower-case method", "get /nope HTTP/1.1\r\n\r\n", 404, "{\"ok\":false}"},
        {"length over the body limit", "POST /api/x HTTP/1.1\r\nContent-Length: 4194305\r\n\r\n", 413,
         "request body too large"},
        {"head over its limit", "GET / HTTP/1.1\r\nX: " + QByteArray(17 * 1024, 'a') + "\r\n\r\n", 431, {}},
        {"bad length", "POST /api/x HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400, "bad content length"},
        {"smuggled after body",
         "POST /api/x HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}POST /api/set-pin HTTP/1.1\r\n\r\n", 404,
         "{\"ok\":false}"},
        {"deeply nested json",
         "POST /api/pair-code HTTP/1.1\r\nContent-Length: 20000\r\n\r\n" + QByteArray(10000, '[') +
             QByteArray(10000, ']'),
         401, ""},
        {"encoded traversal", "GET /%2E%2E%2Fstate.json HTTP/1.1\r\n\r\n", 404, "not found"},
    };
    for (const auto& [name, raw, status, body] : hostile) {
        const auto response = rawRequest(api.port(), raw, 3s);
        EXPECT_EQ(response.status, status) << name;
        EXPECT_TRUE(response.closed) << name;
        EXPECT_FALSE(response.raw.toLower().contains("access-control")) << name << ": no CORS";
        EXPECT_TRUE(body.isEmpty() || response.body == body) << name << ": " << response.body.constData();
    }
    EXPECT_EQ(api.store().pinValue(), pin) << "no refused or hostile request changed the PIN";
}
