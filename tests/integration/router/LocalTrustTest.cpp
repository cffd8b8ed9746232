// Local trust as other accounts and browsers meet it: the caller's socket must belong to us,
// matched by the whole connection, and a browser's portless Origin counts on port 80.
#include "support/api/ApiHarness.h"

#include <arpa/inet.h>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using hb::test::ApiHarness;

namespace {

constexpr uid_t kNobody = 65534;
const QByteArray kAdminRequest = "GET /api/admin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

sockaddr_in6 loopback6(quint16 port) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    address.sin6_port = htons(port);
    return address;
}

/// The answer to `request` sent from a child that gave up root for "nobody", connecting to `to`
/// (bound to `from` when its family is set). Only system calls run in the child.
QByteArray requestAsNobody(const sockaddr_in6& to, const sockaddr_in6& from, const QByteArray& request) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(10);
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(2);
        const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
        if (from.sin6_family == AF_INET6 &&
            ::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0)
            ::_exit(3);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
            ::_exit(4);
        [[maybe_unused]] auto sent = ::write(fd, request.constData(), size_t(request.size()));
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            sent = ::write(pipeFds[1], buffer, size_t(n));
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    QByteArray answer;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        answer.append(buffer, n);
    ::close(pipeFds[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return answer;
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

    struct Row {
        const char* name;
        sockaddr_in6 from;
    };
    const Row rows[] = {
        {"any port", sockaddr_in6{}},
        {"the ports of one of our IPv4 connections", loopback6(ntohs(ourEnd.sin_port))},
    };
    for (const Row& row : rows) {
        const QByteArray answer = requestAsNobody(loopback6(harness.port()), row.from, kAdminRequest);
        EXPECT_TRUE(answer.endsWith("{\"ok\":false}")) << row.name << ": " << answer.constData();
    }
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
