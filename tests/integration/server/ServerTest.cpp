// The HTTP server over real loopback sockets: deadlines, caps, workers, event streams, binding,
// and floods bounded in count and time (latency figures: bench/flood_bench).
#include "server/Server.h"
#include "support/TestSupport.h"

#include <QJsonObject>
#include <QTcpServer>
#include <QThread>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace hb::server;
using namespace hb::test;

namespace {

const QByteArray kStreamOpen =
    "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n"
    "Connection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n"
    "d\r\n: connected\n\n\r\n";
constexpr qsizetype kBigAnswer = 24 * 1024 * 1024; // well beyond what the socket buffers hold

/// A server on a kernel-chosen port whose handler echoes the body it saw, with special paths:
/// "/events" opens a stream, "/silent" is never answered, "/block" waits while `blocking`, "/big"
/// answers kBigAnswer bytes, and "/page" is answered at once on the I/O thread.
struct EchoServer {
    explicit EchoServer(const std::function<void(ServerOptions&)>& adjust = {}) {
        ServerOptions options;
        options.port = 0;
        options.handler = [this](const Request& request, Responder responder) {
            routed.fetch_add(1);
            if (request.path == QStringLiteral("/events"))
                return responder.openEventStream();
            while (request.path == QStringLiteral("/block") && blocking)
                QThread::msleep(10);
            if (request.path == QStringLiteral("/big"))
                return responder.send(200, "application/octet-stream", QByteArray(kBigAnswer, 'x'));
            if (request.path != QStringLiteral("/silent")) // never answered: the connection must still close
                responder.json(QJsonObject{{QStringLiteral("body"), QString::fromUtf8(request.body)}});
        };
        options.answersAtOnce = [](const Request& request) {
            return request.path == QStringLiteral("/page");
        };
        if (adjust)
            adjust(options);
        server = std::make_unique<Server>(options);
        server->start();
        EXPECT_TRUE(server->waitUntilListening(5s));
    }
    ~EchoServer() {
        blocking = false;
        server->stop();
    }
    quint16 port() const { return server->listeningPort(); }

    std::atomic<int> routed{0};
    std::atomic<bool> blocking{true};
    std::unique_ptr<Server> server;
};

/// A connection with a small receive buffer that has sent `request`.
int smallBufferClient(quint16 port, int bufferBytes, const QByteArray& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
    return fd;
}

} // namespace

// Catches: a body routed before it is complete or when the peer left early; a slow body or an
// unanswered request holding its connection; quick answers waiting for a busy worker pool; the
// connection cap refusing newcomers instead of evicting the oldest half request; slow or idle
// connections kept past the header deadline, holding service back or their descriptors; streams
// beyond the cap, broadcasts lost under load, stuck or closed streams kept.
TEST(Server, DeadlinesWorkersCapsAndFloods) {
    constexpr int kHealthy = 60;
    constexpr int kStuck = 4;
    constexpr int kBroadcasts = 1000;
    constexpr int kHostile = 300;
    EchoServer echo([](ServerOptions& options) {
        options.limits.headerTimeout = 1s;
        options.limits.bodyIdleTimeout = 1s;
        options.limits.maxConnections = 2 * kHostile - 100;
        options.limits.maxEventStreams = kHealthy + kStuck;
        options.workerThreads = 1;
    });
    RawClient(echo.port()).send("POST /p HTTP/1.1\r\nContent-Length: 5\r\n\r\nabc"); // and leaves
    RawClient client(echo.port());
    client.send("POST /p HTTP/1.1\r\nContent-Length: 5\r\n\r\nabc");
    EXPECT_TRUE(client.read(300ms).isEmpty());
    client.send("de");
    EXPECT_TRUE(client.read(3s).contains("\"body\":\"abcde\""));
    EXPECT_TRUE(client.waitClosed(1s)) << "read to its end: closed without waiting for the client";
    EXPECT_EQ(echo.routed.load(), 1);
    RawClient body(echo.port());
    body.send("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nab");
    RawClient silent(echo.port());
    silent.send("GET /silent HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(body.waitClosed(3s));
    EXPECT_TRUE(silent.waitClosed(2s)) << "an unanswered request must not hang";

    RawClient blocked(echo.port());
    blocked.send("GET /block HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(waitFor([&] { return echo.routed.load() == 3; }, 3s));
    EXPECT_EQ(rawRequest(echo.port(), "GET /page HTTP/1.1\r\n\r\n", 2s).status, 200) << "no worker is free";
    echo.blocking = false;
    EXPECT_TRUE(blocked.read(3s).contains("\"body\":\"\""));

    ASSERT_TRUE(waitFor([&] { return echo.server->openConnections() == 0; }));
    const int descriptorsBefore = openDescriptors();
    std::vector<std::unique_ptr<RawClient>> hostile;
    for (int i = 0; i < 2 * kHostile; ++i)
        hostile.push_back(std::make_unique<RawClient>(echo.port()));
    EXPECT_TRUE(hostile.front()->waitClosed(500ms))
        << "the oldest half request makes room, before its deadline";
    const QByteArray header = "GET / HTTP/1.1\r\nX-Slow: ";
    int answered = 0;
    for (int tick = 0; tick < 6; ++tick) { // half trickle a byte every 250 ms, half stay idle
        for (int i = 0; i < kHostile; ++i)
            hostile[size_t(i)]->send(header.mid(tick % header.size(), 1));
        answered += rawRequest(echo.port(), "GET /probe HTTP/1.1\r\n\r\n", 2s).status == 200;
        QThread::msleep(250);
    }
    EXPECT_EQ(answered, 6);
    EXPECT_TRUE(std::all_of(hostile.begin(), hostile.end(), [](auto& each) { return each->waitClosed(1s); }))
        << "every hostile connection closed by its deadline + 1 s";
    hostile.clear();
    EXPECT_TRUE(waitFor([&] { return echo.server->openConnections() == 0; }, 5s));
    EXPECT_LE(openDescriptors(), descriptorsBefore + 4) << "descriptors back to baseline";

    std::vector<std::unique_ptr<RawClient>> healthy;
    for (int i = 0; i < kHealthy; ++i) {
        healthy.push_back(std::make_unique<RawClient>(echo.port()));
        healthy.back()->send("GET /events HTTP/1.1\r\n\r\n");
    }
    std::vector<int> stuck; // a tiny receive buffer, never read
    for (int i = 0; i < kStuck; ++i)
        stuck.push_back(smallBufferClient(echo.port(), 1024, "GET /events HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(waitFor([&] { return echo.server->openEventStreams() == kHealthy + kStuck; }, 3s));
    EXPECT_EQ(rawRequest(echo.port(), "GET /events HTTP/1.1\r\n\r\n").status, 503);
    EXPECT_EQ(healthy[0]->read(3s, kStreamOpen.size()), kStreamOpen);
    std::vector<qsizetype> received(kHealthy, -kStreamOpen.size());
    received[0] = 0;
    const qsizetype expected = qsizetype(kBroadcasts) * sseChunk(kReloadEvent).size();
    for (int i = 0; i < kBroadcasts; ++i) {
        echo.server->broadcastReload();
        for (int h = 0; i % 50 == 49 && h < kHealthy; ++h) // readers keep up as phones would
            received[size_t(h)] += healthy[size_t(h)]->read(2ms).size();
    }
    for (int h = 0; h < kHealthy; ++h) {
        qsizetype& got = received[size_t(h)];
        waitFor([&] { return (got += healthy[size_t(h)]->read(100ms, expected - got).size()) >= expected; });
        EXPECT_EQ(got, expected) << "stream " << h;
    }
    EXPECT_TRUE(waitFor([&] { return echo.server->openEventStreams() == kHealthy; }, 5s))
        << "stuck streams dropped, open: " << echo.server->openEventStreams();
    ::shutdown(healthy[0]->fd(), SHUT_RDWR);
    EXPECT_TRUE(waitFor([&] { return echo.server->openEventStreams() == kHealthy - 1; }, 3s));
    for (const int fd : stuck)
        ::close(fd);
}

// Catches: a deadline counted from the first byte whatever the progress (a phone on a slow link
// loses large answers), and a deadline restarted forever (a trickling reader holds its slot).
TEST(Server, WriteDeadlineFollowsProgressUpToACeiling) {
    for (const auto& [ceiling, complete] : {std::pair{300'000ms, true}, {2500ms, false}}) {
        EchoServer echo([&](ServerOptions& options) {
            options.limits.writeTimeout = 1500ms;
            options.limits.writeCeiling = ceiling;
        });
        // 256 KiB at a time, 50 ms apart: about 5 s in all.
        const int fd = smallBufferClient(echo.port(), 256 * 1024, "GET /big HTTP/1.1\r\n\r\n");
        std::vector<char> buffer(256 * 1024);
        qsizetype received = 0;
        for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0; ::usleep(50'000))
            received += n;
        ::close(fd);
        EXPECT_EQ(received > kBigAnswer, complete) << "ceiling " << ceiling.count() << " ms: " << received;
    }
}

// Catches: a busy port given up at once, or tried again past the last attempt (100 ms apart).
TEST(Server, BusyPortIsBoundOnceFreedAndNotAfterTheLastAttempt) {
    for (const auto& [attempts, freedAfter, listening] : {std::tuple{20, 300ms, true}, {3, 2000ms, false}}) {
        auto holder = std::make_unique<QTcpServer>();
        ASSERT_TRUE(holder->listen(QHostAddress::Any, 0));
        ServerOptions options;
        options.port = holder->serverPort();
        options.bindAttempts = attempts;
        options.bindInterval = 100ms;
        Server server(options);
        server.start();
        EXPECT_FALSE(server.waitUntilListening(freedAfter));
        holder.reset();
        EXPECT_EQ(server.waitUntilListening(1500ms), listening) << attempts << " attempts";
    }
}
