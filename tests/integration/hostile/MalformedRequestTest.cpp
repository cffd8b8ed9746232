// Hostile and malformed requests over raw sockets against the real router: each gets its
// expected answer (or a close), and the agent keeps serving with flat memory afterwards.
#include "support/api/ApiHarness.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using hb::test::ApiHarness;

namespace {

constexpr int kClosed = 0; // no answer, connection closed

struct Case {
    const char* group;
    const char* name;
    QByteArray raw;
    int status;
    QByteArray body = {}; // checked when not empty
};

QByteArray notFound() {
    return "not found";
}
QByteArray notOk() {
    return "{\"ok\":false}";
}

QByteArray pinRequest(const QByteArray& headers) {
    return "POST /api/set-pin HTTP/1.1\r\n" + headers + "Content-Length: 11\r\n\r\n{\"pin\":\"1\"}";
}

std::vector<Case> cases(quint16 port) {
    const QByteArray p = QByteArray::number(port);
    std::vector<Case> all = {
        // Request line
        {"line", "plain get", "GET / HTTP/1.1\r\n\r\n", 200},
        {"line", "empty line defaults to GET /", "\r\n\r\n", 200},
        {"line", "method only", "GET\r\n\r\n", 200},
        {"line", "extra spaces", "  GET    /admin   HTTP/1.1  \r\n\r\n", 200},
        {"line", "http/1.0", "GET /nope HTTP/1.0\r\n\r\n", 404, notFound()},
        {"line", "no version", "GET /nope\r\n\r\n", 404, notFound()},
        {"line", "unknown version", "GET /nope HTTP/9.9\r\n\r\n", 404, notFound()},
        {"line", "lower-case method is not GET", "get /nope HTTP/1.1\r\n\r\n", 404, notOk()},
        {"line", "asterisk form", "OPTIONS * HTTP/1.1\r\n\r\n", 204},
        {"line", "connect method", "CONNECT 127.0.0.1:22 HTTP/1.1\r\n\r\n", 404, notOk()},
        {"line", "absolute form", "GET http://127.0.0.1:" + p + "/admin HTTP/1.1\r\n\r\n", 200},
        {"line", "absolute form elsewhere", "GET http://evil.example/nope HTTP/1.1\r\n\r\n", 404, notFound()},
        {"line", "tab separator is not a space", "GET\t/ HTTP/1.1\r\n\r\n", 404, notOk()},
        {"line", "unicode method", "G\xC3\x89T / HTTP/1.1\r\n\r\n", 404, notOk()},
        {"line", "invalid utf-8 line", "GET /\xFF HTTP/1.1\r\n\r\n", 200},
        {"line", "very long path", "GET /" + QByteArray(8000, 'a') + " HTTP/1.1\r\n\r\n", 404, notFound()},
        {"line", "path too long for the header", "GET /" + QByteArray(17000, 'a') + " HTTP/1.1\r\n\r\n", 431},
        {"line", "query only", "GET ?a=1 HTTP/1.1\r\n\r\n", 404, notFound()},
        {"line", "fragment", "GET /admin#x HTTP/1.1\r\n\r\n", 200},
        {"line", "bad escape", "GET /bad%zz HTTP/1.1\r\n\r\n", 404, notFound()},
        {"line", "nul escape", "GET /index.html%00.png HTTP/1.1\r\n\r\n", 404, notFound()},
        {"line", "raw nul byte", QByteArray("GET /\0 HTTP/1.1\r\n\r\n", 19), 404, notFound()},
        {"line", "api path with trailing slash", "POST /api/pair/ HTTP/1.1\r\n\r\n", 404, notOk()},
        {"line", "api path in capitals", "POST /API/PAIR HTTP/1.1\r\n\r\n", 404, notOk()},
        {"line", "events with query", "GET /api/events?x=1 HTTP/1.1\r\n\r\n", 200},
        // Headers
        {"headers", "line without colon skipped", "GET / HTTP/1.1\r\nnocolon\r\n\r\n", 200},
        {"headers", "empty name", "GET / HTTP/1.1\r\n: value\r\n\r\n", 200},
        {"headers", "space before colon", "GET / HTTP/1.1\r\nHost : 127.0.0.1\r\n\r\n", 200},
        {"headers", "obsolete folding", "GET / HTTP/1.1\r\nX: a\r\n  folded\r\n\r\n", 200},
        {"headers", "invalid utf-8 value", "POST /api/x HTTP/1.1\r\nX: \xC3\x28\r\n\r\n", 200},
        {"headers", "many headers", "GET / HTTP/1.1\r\n" + QByteArray("X-A: b\r\n").repeated(1500) + "\r\n",
         200},
        {"headers", "header block at the limit",
         "GET / HTTP/1.1\r\nX: " + QByteArray(16300, 'a') + "\r\n\r\n", 200},
        {"headers", "header block over the limit",
         "GET / HTTP/1.1\r\nX: " + QByteArray(16400, 'a') + "\r\n\r\n", 431},
        {"headers", "lone LF lines", "GET / HTTP/1.1\nHost: a\n\n\r\n\r\n", 200},
        {"headers", "duplicate token header, last wins",
         "GET /api/volume HTTP/1.1\r\nx-hb-token: a\r\nX-HB-TOKEN: b\r\n\r\n", 401, notOk()},
        {"headers", "empty token", "GET /api/volume HTTP/1.1\r\nx-hb-token:\r\n\r\n", 401, notOk()},
        {"headers", "token with spaces", "GET /api/volume HTTP/1.1\r\nx-hb-token:    \r\n\r\n", 401, notOk()},
        {"headers", "nul in header", QByteArray("GET / HTTP/1.1\r\nX: a\0b\r\n\r\n", 26), 200},
        // Content-Length
        {"length", "exact", "POST /api/x HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", 404, notOk()},
        {"length", "not a number counts as zero", "POST /api/x HTTP/1.1\r\nContent-Length: abc\r\n\r\n", 404,
         notOk()},
        {"length", "hex", "POST /api/x HTTP/1.1\r\nContent-Length: 0x10\r\n\r\n", 404, notOk()},
        {"length", "exponent", "POST /api/x HTTP/1.1\r\nContent-Length: 1e3\r\n\r\n", 404, notOk()},
        {"length", "empty value", "POST /api/x HTTP/1.1\r\nContent-Length:\r\n\r\n", 404, notOk()},
        {"length", "list", "POST /api/x HTTP/1.1\r\nContent-Length: 2, 2\r\n\r\n{}", 404, notOk()},
        {"length", "plus sign", "POST /api/x HTTP/1.1\r\nContent-Length: +2\r\n\r\n{}", 404, notOk()},
        {"length", "padded", "POST /api/x HTTP/1.1\r\nContent-Length:   2  \r\n\r\n{}", 404, notOk()},
        {"length", "negative", "POST /api/x HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
        {"length", "minus zero", "POST /api/x HTTP/1.1\r\nContent-Length: -0\r\n\r\n", 404, notOk()},
        {"length", "int64 max", "POST /api/x HTTP/1.1\r\nContent-Length: 9223372036854775807\r\n\r\n", 413},
        {"length", "int64 min", "POST /api/x HTTP/1.1\r\nContent-Length: -9223372036854775808\r\n\r\n", 400},
        {"length", "overflow", "POST /api/x HTTP/1.1\r\nContent-Length: 18446744073709551616\r\n\r\n", 400},
        {"length", "just over the body limit", "POST /api/x HTTP/1.1\r\nContent-Length: 4194305\r\n\r\n",
         413},
        {"length", "conflicting, last wins",
         "POST /api/x HTTP/1.1\r\nContent-Length: 99\r\nContent-Length: 2\r\n\r\n{}", 404, notOk()},
        {"length", "shorter body then close", "POST /api/x HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc",
         kClosed},
        {"length", "longer body ignored", "POST /api/x HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}garbage", 404,
         notOk()},
        {"length", "on a GET", "GET / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 200},
        // Transfer-Encoding
        {"chunked", "chunked body not decoded",
         "POST /api/x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n", 404, notOk()},
        {"chunked", "chunked pair gets no body",
         "POST /api/pair HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nd\r\n{\"pin\":\"1\"}\r\n0\r\n\r\n",
         401},
        {"chunked", "chunked and length",
         "POST /api/x HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 2\r\n\r\n{}", 404, notOk()},
        {"chunked", "gzip coding", "POST /api/x HTTP/1.1\r\nTransfer-Encoding: gzip\r\n\r\n", 404, notOk()},
        {"chunked", "obfuscated", "POST /api/x HTTP/1.1\r\nTransfer-Encoding : xchunked\r\n\r\n", 404,
         notOk()},
        // Pipelining: one request per connection, the rest ignored
        {"pipelined", "two gets", "GET /admin HTTP/1.1\r\n\r\nGET /nope HTTP/1.1\r\n\r\n", 200},
        {"pipelined", "smuggled after body",
         "POST /api/x HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}POST /api/set-pin HTTP/1.1\r\n\r\n", 404,
         notOk()},
        {"pipelined", "hundred requests", QByteArray("GET / HTTP/1.1\r\n\r\n").repeated(100), 200},
        // Methods and bodies on real endpoints
        {"methods", "head is not get", "HEAD / HTTP/1.1\r\n\r\n", 404, notOk()},
        {"methods", "put", "PUT / HTTP/1.1\r\n\r\n", 404, notOk()},
        {"methods", "trace", "TRACE / HTTP/1.1\r\n\r\n", 404, notOk()},
        {"methods", "patch unknown api", "PATCH /api/unknown HTTP/1.1\r\n\r\n", 404, notOk()},
        {"methods", "options on an endpoint", "OPTIONS /api/pair HTTP/1.1\r\n\r\n", 204},
        {"methods", "options with a body", "OPTIONS /x HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}", 204},
        {"methods", "airdrop from this machine", "GET /api/airdrop HTTP/1.1\r\n\r\n", 200,
         "{\"error\":\"Scan the QR code instead.\",\"ok\":false}"},
        {"methods", "icon without app", "GET /api/icon HTTP/1.1\r\n\r\n", 404},
        {"methods", "icon with empty app", "GET /api/icon?app= HTTP/1.1\r\n\r\n", 404},
        {"methods", "icon with bad escape", "GET /api/icon?app=%zz HTTP/1.1\r\n\r\n", 404, notFound()},
        {"methods", "shortcuts from this machine", "GET /api/shortcuts HTTP/1.1\r\n\r\n", 200},
        {"bodies", "array body", "POST /api/pair-code HTTP/1.1\r\nContent-Length: 5\r\n\r\n[1,2]", 401},
        {"bodies", "number code", "POST /api/pair-code HTTP/1.1\r\nContent-Length: 10\r\n\r\n{\"code\":5}",
         401},
        {"bodies", "truncated json", "POST /api/pair-code HTTP/1.1\r\nContent-Length: 9\r\n\r\n{\"code\":\"",
         401},
        {"bodies", "invalid utf-8 body",
         "POST /api/pair-code HTTP/1.1\r\nContent-Length: 4\r\n\r\n\xFF\xFE{}", 401},
        {"bodies", "deeply nested",
         "POST /api/pair-code HTTP/1.1\r\nContent-Length: 20000\r\n\r\n" + QByteArray(10000, '[') +
             QByteArray(10000, ']'),
         401},
        {"bodies", "scalar body", "POST /api/pair-code HTTP/1.1\r\nContent-Length: 4\r\n\r\ntrue", 401},
        {"bodies", "nul in code",
         QByteArray("POST /api/pair-code HTTP/1.1\r\nContent-Length: 12\r\n\r\n{\"code\":\"\0\"}", 64), 401},
    };

    // Traversal attempts, all the ordinary 404.
    for (const char* path : {"/../state.json",
                             "/..%2fstate.json",
                             "/%2e%2e/state.json",
                             "/%2E%2E%2Fstate.json",
                             "/..%5cstate.json",
                             "/.%2e/.%2e/CMakeLists.txt",
                             "/%2e%2e%2f%2e%2e%2fCMakeLists.txt",
                             "//etc/passwd",
                             "/%2fetc%2fpasswd",
                             "/./index.html",
                             "/public/../index.html",
                             "/..",
                             "/.",
                             "/%2e",
                             "/....//....//etc/passwd",
                             "/..;/state.json",
                             "/%252e%252e/state.json",
                             "/\\..\\state.json",
                             "/index.html/..",
                             "/admin/",
                             "/index",
                             "/%c0%ae%c0%ae/state.json",
                             "/..%00/state.json",
                             "/static/..%2f..%2f..%2fetc/passwd",
                             "/%2e%2e%2f%2e%2e%2f%2e%2e%2f%2e%2e%2fetc%2fpasswd",
                             "/..%252f..%252fstate.json",
                             "/%20../x",
                             "/.git/config",
                             "/../resources/config.json",
                             "/%5c..%5c..%5cstate.json"})
        all.push_back({"traversal", path, "GET " + QByteArray(path) + " HTTP/1.1\r\n\r\n", 404, notFound()});

    // Host / Origin / Sec-Fetch-Site: a trusted local caller reaches set-pin (200), others 401.
    const QByteArray own = "Origin: http://127.0.0.1:" + p + "\r\n";
    struct Trust {
        const char* name;
        QByteArray headers;
        int status;
    };
    const Trust trust[] = {
        {"no headers", "", 200},
        {"own host", "Host: 127.0.0.1:" + p + "\r\n", 200},
        {"own host without port", "Host: 127.0.0.1\r\n", 200},
        {"localhost host", "Host: localhost:" + p + "\r\n", 200},
        {"LOCALHOST host", "Host: LOCALHOST:" + p + "\r\n", 200},
        {"ipv6 host", "Host: [::1]:" + p + "\r\n", 200},
        {"rebinding host", "Host: attacker.example:" + p + "\r\n", 401},
        {"lan ip host", "Host: 192.168.1.20:" + p + "\r\n", 401},
        {"empty host", "Host: \r\n", 401},
        {"own origin", own, 200},
        {"own origin localhost", "Origin: http://localhost:" + p + "\r\n", 200},
        {"own origin ipv6", "Origin: http://[::1]:" + p + "\r\n", 200},
        {"https origin", "Origin: https://127.0.0.1:" + p + "\r\n", 401},
        {"foreign origin", "Origin: http://evil.example\r\n", 401},
        {"null origin", "Origin: null\r\n", 401},
        {"other port origin", "Origin: http://127.0.0.1:1\r\n", 401},
        {"origin with path", "Origin: http://127.0.0.1:" + p + "/x\r\n", 401},
        {"fetch same-origin", "Sec-Fetch-Site: same-origin\r\n", 200},
        {"fetch none", "Sec-Fetch-Site: none\r\n", 200},
        {"fetch same-site", "Sec-Fetch-Site: same-site\r\n", 401},
        {"fetch cross-site", "Sec-Fetch-Site: cross-site\r\n", 401},
        {"fetch unknown value", "Sec-Fetch-Site: whatever\r\n", 401},
        {"own origin, cross-site fetch", own + "Sec-Fetch-Site: cross-site\r\n", 401},
        {"foreign origin, same-origin fetch",
         "Origin: http://evil.example\r\nSec-Fetch-Site: same-origin\r\n", 401},
        {"own origin, rebinding host", own + "Host: attacker.example\r\n", 401},
        {"relay marker", "x-hb-relay: 1\r\n", 401},
        {"relay marker empty", "X-HB-Relay:\r\n", 401},
        {"relay marker with own origin", own + "x-hb-relay: 0\r\n", 401},
        {"control panel", own + "Sec-Fetch-Site: same-origin\r\nHost: 127.0.0.1:" + p + "\r\n", 200},
        {"browser address bar", "Sec-Fetch-Site: none\r\nHost: localhost:" + p + "\r\n", 200},
    };
    for (const Trust& t : trust)
        all.push_back({"trust", t.name, pinRequest(t.headers), t.status});
    return all;
}

} // namespace

TEST(MalformedRequests, EachGetsItsAnswerAndTheAgentStaysUp) {
    ApiHarness harness;
    const auto all = cases(harness.port());
    EXPECT_GE(all.size(), 140u);
    long baseline = 0;
    for (int round = 0; round < 3; ++round) {
        for (const Case& c : all) {
            const auto response = hb::test::rawRequest(harness.port(), c.raw, 3s);
            if (c.status == kClosed) {
                EXPECT_TRUE(response.raw.isEmpty()) << c.group << ": " << c.name;
                continue;
            }
            EXPECT_EQ(response.status, c.status) << c.group << ": " << c.name;
            if (!c.body.isEmpty()) {
                EXPECT_EQ(response.body, c.body) << c.group << ": " << c.name;
            }
            if (c.raw.startsWith("GET /api/events"))
                continue;
            EXPECT_TRUE(response.closed) << c.group << ": " << c.name;
        }
        if (round == 0)
            baseline = hb::test::residentKiB();
    }
    EXPECT_EQ(harness.request("GET", "/").status, 200);
    if (hb::test::memoryFiguresMeaningful()) {
        EXPECT_LT(hb::test::residentKiB() - baseline, 4 * 1024) << "memory grew while the suite repeated";
    }
    EXPECT_EQ(harness.store().pinValue().size(), 6) << "no hostile request changed the PIN";
}
