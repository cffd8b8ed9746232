// Local trust as other accounts and browsers meet it: the caller's socket must belong to us,
// matched by the whole connection, and a browser's portless Origin counts on port 80.
#include "support/api/ApiHarness.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using hb::test::ApiHarness;

namespace {

constexpr uid_t kNobody = 65534;
constexpr char kAdminRequest[] = "GET /api/admin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

sockaddr_in6 loopback6(quint16 port) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    address.sin6_port = htons(port);
    return address;
}

/// Asks for /api/admin from a child that gave up root for "nobody", connecting to `to` (bound
/// to `from` when its family is set): true when the answer carried the PIN. Only system calls
/// run in the child; its exit status is the answer.
bool nobodyGetsThePin(const sockaddr_in6& to, const sockaddr_in6& from) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(10);
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(2);
        const int fd = ::socket(AF_INET6, SOCK_STREAM, 0); // after setuid: the socket is nobody's
        if ((from.sin6_family == AF_INET6 &&
             ::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) ||
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

} // namespace

// Catches: the account check dropped, or a connection matched by its ports alone (another
// account on [::1] borrowing the ports of one of our IPv4 connections gets the PIN).
TEST(LocalTrust, AnotherAccountOnThisMachineIsNotLocal) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a client as another account";
    ApiHarness harness;
    // Our own IPv4 connection from 127.0.0.1:X, held open while the other account uses [::1]:X.
    hb::test::RawClient ours(harness.port(), QHostAddress::LocalHost, QHostAddress::LocalHost);
    ASSERT_TRUE(ours.connected());
    sockaddr_in ourEnd{};
    socklen_t length = sizeof ourEnd;
    ::getsockname(ours.fd(), reinterpret_cast<sockaddr*>(&ourEnd), &length);

    EXPECT_FALSE(nobodyGetsThePin(loopback6(harness.port()), {})) << "from any port";
    EXPECT_FALSE(nobodyGetsThePin(loopback6(harness.port()), loopback6(ntohs(ourEnd.sin_port))))
        << "from the ports of one of our IPv4 connections";
}

// Catches: our own sockets looked up in the wrong table or with wrongly encoded addresses.
TEST(LocalTrust, OwnAccountIsLocalOverEveryLoopbackForm) {
    ApiHarness harness;
    for (const char* to : {"127.0.0.1", "::1", "::ffff:127.0.0.1"}) {
        const auto answer = hb::test::rawRequest(harness.port(), kAdminRequest, std::chrono::seconds(5),
                                                 QHostAddress(QString::fromLatin1(to)));
        EXPECT_TRUE(answer.json().contains(QStringLiteral("pin"))) << to << ": " << answer.raw.constData();
    }
}

// Catches: "Origin: http://127.0.0.1" (browsers drop ":80") refused on port 80, or a portless
// Origin trusted on any other port.
TEST(LocalTrust, PortlessOriginOnlyOnPort80) {
    ApiHarness::Options options;
    options.port = 80;
    ApiHarness on80(options);
    ApiHarness elsewhere;
    if (on80.port() != 80)
        GTEST_SKIP() << "port 80 is taken or not ours to bind";
    const QHash<QByteArray, QByteArray> portless = {{"Origin", "http://127.0.0.1"}};
    EXPECT_EQ(on80.request("POST", "/api/set-pin", "{\"pin\":\"1234\"}", {}, portless).status, 200);
    EXPECT_EQ(elsewhere.request("POST", "/api/set-pin", "{\"pin\":\"1234\"}", {}, portless).status, 401);
}
