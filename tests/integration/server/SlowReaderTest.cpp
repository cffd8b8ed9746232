// A phone on a slow link takes a large answer bit by bit: the write deadline must follow its
// progress, while a ceiling still ends a reader that only trickles.
#include "server/Server.h"
#include "support/TestSupport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

constexpr qsizetype kAnswerBytes = 24 * 1024 * 1024; // well beyond what the socket buffers hold

/// Reads one answer 256 KiB at a time, 50 ms apart (about 4 s in all), through a small receive buffer; the
/// number of bytes received before the server closed.
qsizetype readSlowly(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int receiveBuffer = 256 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    const QByteArray request = "GET /big HTTP/1.1\r\n\r\n";
    [[maybe_unused]] auto sent = ::write(fd, request.constData(), size_t(request.size()));
    std::vector<char> buffer(256 * 1024);
    qsizetype total = 0;
    for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0; ::usleep(50'000))
        total += n;
    ::close(fd);
    return total;
}

} // namespace

// Catches: a deadline counted from the first byte whatever the progress (a slow phone loses
// large answers), and a deadline restarted forever (a trickling reader holds its slot).
TEST(SlowReader, DeadlineFollowsProgressUpToACeiling) {
    struct Row {
        const char* name;
        std::chrono::milliseconds ceiling;
        bool complete;
    };
    const Row rows[] = {{"reading steadily", 300s, true},
                        {"reading for longer than the ceiling", 2500ms, false}};
    for (const Row& row : rows) {
        hb::server::ServerOptions options;
        options.port = 0;
        options.limits.writeTimeout = 1500ms;
        options.limits.writeCeiling = row.ceiling;
        options.handler = [](const hb::server::Request&, hb::server::Responder responder) {
            responder.send(200, "application/octet-stream", QByteArray(kAnswerBytes, 'x'));
        };
        hb::server::Server server(options);
        server.start();
        ASSERT_TRUE(server.waitUntilListening(5s));
        const qsizetype received = readSlowly(server.listeningPort());
        EXPECT_EQ(received > kAnswerBytes, row.complete) << row.name << ": " << received << " bytes";
        server.stop();
    }
}
