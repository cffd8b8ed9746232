// Hostile requests over raw sockets against the real router, one row per class of attack on the
// whole stack (parsing rules are the reader's unit tests): each gets its answer or a close, and
// the agent keeps serving with flat memory.
#include "support/api/ApiHarness.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using hb::test::ApiHarness;

namespace {

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

TEST(MalformedRequests, EachGetsItsAnswerAndTheAgentStaysUp) {
    ApiHarness harness;
    const QString pin = harness.store().pinValue();
    long baseline = 0;
    for (int round = 0; round < 3; ++round) {
        for (const Case& c : kCases) {
            const auto response = hb::test::rawRequest(harness.port(), c.raw, 3s);
            EXPECT_EQ(response.status, c.status) << c.name;
            EXPECT_TRUE(response.closed) << c.name;
            EXPECT_FALSE(response.head.toLower().contains("access-control")) << c.name << ": no CORS";
            if (!c.body.isEmpty()) {
                EXPECT_EQ(response.body, c.body) << c.name;
            }
        }
        if (round == 0)
            baseline = hb::test::residentKiB();
    }
    EXPECT_EQ(harness.request("GET", "/").status, 200);
    if (hb::test::memoryFiguresMeaningful()) {
        EXPECT_LT(hb::test::residentKiB() - baseline, 4 * 1024) << "memory grew while the suite repeated";
    }
    EXPECT_EQ(harness.store().pinValue(), pin) << "no hostile request changed the PIN";
}
