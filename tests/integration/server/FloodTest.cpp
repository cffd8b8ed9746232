// Slow clients, floods and broadcast storms against the real server, bounded in count and
// time. Latency figures belong to bench/; these tests check that service continues, that
// hostile connections are closed, and that descriptors and memory come back.
#include "server/Server.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using hb::server::Request;
using hb::server::Responder;
using hb::server::Server;
using hb::server::ServerOptions;
using hb::test::RawClient;

namespace {

std::unique_ptr<Server> startServer(std::function<void(ServerOptions&)> adjust = {}) {
    ServerOptions options;
    options.port = 0;
    options.handler = [](const Request& request, Responder responder) {
        if (request.path == QStringLiteral("/events"))
            return responder.openEventStream();
        responder.json(QJsonObject{{QStringLiteral("ok"), true}});
    };
    if (adjust)
        adjust(options);
    auto server = std::make_unique<Server>(options);
    server->start();
    EXPECT_TRUE(server->waitUntilListening(5s));
    return server;
}

int connectWithReceiveBuffer(quint16 port, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

/// A normal client asking again and again while hostile traffic runs; counts failures.
class Prober {
  public:
    explicit Prober(quint16 port) : thread_([this, port] { run(port); }) {}
    ~Prober() { stop(); }
    void stop() {
        done_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    int answered() const { return answered_; }
    int failed() const { return failed_; }
    /// Latency of the answers at share `p` (0.5, 0.99), in milliseconds; after stop().
    double latency(double p) const {
        std::vector<double> sorted = millis_;
        std::sort(sorted.begin(), sorted.end());
        return sorted.empty() ? 0 : sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
    }

  private:
    void run(quint16 port) {
        while (!done_) {
            QElapsedTimer timer;
            timer.start();
            const auto response = hb::test::rawRequest(port, "GET /probe HTTP/1.1\r\n\r\n", 5s);
            millis_.push_back(double(timer.nsecsElapsed()) / 1e6);
            (response.status == 200 ? answered_ : failed_)++;
            std::this_thread::sleep_for(20ms);
        }
    }
    std::vector<double> millis_; ///< written by the probing thread only
    std::atomic<bool> done_{false};
    std::atomic<int> answered_{0};
    std::atomic<int> failed_{0};
    std::thread thread_;
};

} // namespace

TEST(Floods, SlowHeadersAndIdleConnectionsAreClosedWhileServiceContinues) {
    // 500 each by default; HB_FLOOD_CONNECTIONS=1000 for the full-size run.
    const int flood = qEnvironmentVariableIntValue("HB_FLOOD_CONNECTIONS");
    const int kSlow = flood > 0 ? flood : 500;
    const int kIdle = kSlow;
    auto server = startServer([](ServerOptions& options) { options.limits.headerTimeout = 2s; });
    const int descriptorsBefore = hb::test::openDescriptors();
    const long memoryBefore = hb::test::residentKiB();
    Prober prober(server->listeningPort());

    std::vector<std::unique_ptr<RawClient>> slow;
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < kSlow; ++i)
        slow.push_back(std::make_unique<RawClient>(server->listeningPort()));
    for (int i = 0; i < kIdle; ++i)
        idle.push_back(std::make_unique<RawClient>(server->listeningPort()));
    QElapsedTimer timer;
    timer.start();
    const QByteArray header = "GET / HTTP/1.1\r\nX-Slow: ";
    // One byte per connection every 250 ms: never a complete header.
    for (int tick = 0; timer.elapsed() < 2500; ++tick) {
        for (auto& client : slow)
            client->send(header.mid(tick % header.size(), 1));
        std::this_thread::sleep_for(250ms);
    }
    int closed = 0;
    for (auto& client : slow)
        closed += client->waitClosed(1s) ? 1 : 0;
    for (auto& client : idle)
        closed += client->waitClosed(100ms) ? 1 : 0;
    EXPECT_EQ(closed, kSlow + kIdle) << "every hostile connection closed by its deadline + 1 s";
    prober.stop();
    EXPECT_GT(prober.answered(), 20);
    EXPECT_EQ(prober.failed(), 0);
    // A figure, not a verdict (timing is the benchmarks' business): recorded in docs/reliability.md.
    std::printf("normal client during the flood: %d answers, p50 %.2f ms, p99 %.2f ms\n", prober.answered(),
                prober.latency(0.5), prober.latency(0.99));
    if (hb::test::memoryFiguresMeaningful()) {
        EXPECT_LT(hb::test::residentKiB() - memoryBefore, 32 * 1024);
    }

    slow.clear();
    idle.clear();
    EXPECT_TRUE(hb::test::waitFor([&] { return server->openConnections() == 0; }, 5s));
    // A few descriptors that Qt opens lazily on first use (event notifiers of new threads) may
    // appear; the thousand connections must not.
    EXPECT_LE(hb::test::openDescriptors(), descriptorsBefore + 4) << "descriptors back to baseline";
}

TEST(Floods, HugeBodiesAndHeadersAreRefusedEarly) {
    auto server = startServer();
    {
        // A 10 GiB upload: refused from its Content-Length, the stream discarded, then closed.
        RawClient upload(server->listeningPort());
        upload.send("POST /up HTTP/1.1\r\nContent-Length: 10737418240\r\n\r\n");
        const QByteArray chunk(64 * 1024, 'x');
        QByteArray answer;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 1500 && upload.send(chunk))
            answer += upload.read(1ms);
        answer += upload.read(3s);
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 413 ERR")) << answer.left(40).constData();
        EXPECT_TRUE(upload.waitClosed(4s));
    }
    {
        // 1 MiB of header, one byte per packet: 431 once past 16 KiB.
        RawClient trickle(server->listeningPort());
        const int one = 1;
        ::setsockopt(trickle.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        trickle.send("GET / HTTP/1.1\r\nX: ");
        QByteArray answer;
        for (int i = 0; i < 1024 * 1024 && answer.isEmpty(); ++i) {
            if (!trickle.send("a"))
                break;
            if (i % 1024 == 0)
                answer = trickle.read(1ms);
        }
        answer += trickle.read(3s);
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 431 ERR"));
    }
    EXPECT_EQ(hb::test::rawRequest(server->listeningPort(), "GET / HTTP/1.1\r\n\r\n").status, 200);
}

TEST(Floods, BroadcastStormReachesHealthyStreamsAndDropsStuckOnes) {
    constexpr int kHealthy = 60;
    constexpr int kStuck = 4;
    constexpr int kBroadcasts = 1000;
    auto server = startServer();
    const QByteArray request = "GET /events HTTP/1.1\r\n\r\n";
    const QByteArray open =
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n"
        "Connection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n"
        "d\r\n: connected\n\n\r\n";
    std::vector<std::unique_ptr<RawClient>> healthy;
    for (int i = 0; i < kHealthy; ++i) {
        healthy.push_back(std::make_unique<RawClient>(server->listeningPort()));
        healthy.back()->send(request);
        ASSERT_EQ(healthy.back()->read(3s, open.size()), open);
    }
    std::vector<int> stuck;
    for (int i = 0; i < kStuck; ++i) {
        const int fd = connectWithReceiveBuffer(server->listeningPort(), 1024);
        ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        stuck.push_back(fd);
    }
    ASSERT_TRUE(hb::test::waitFor([&] { return server->openEventStreams() == kHealthy + kStuck; }, 3s));
    EXPECT_EQ(hb::test::rawRequest(server->listeningPort(), request).status, 503) << "one over the cap";

    const QByteArray reload = "17\r\nevent: reload\ndata: 1\n\n\r\n";
    std::vector<qsizetype> received(kHealthy, 0);
    const qsizetype expected = qsizetype(kBroadcasts) * reload.size();
    for (int i = 0; i < kBroadcasts; ++i) {
        server->broadcastReload();
        if (i % 50 == 49) { // readers keep up as phones would
            for (int h = 0; h < kHealthy; ++h)
                received[h] += healthy[h]->read(2ms).size();
        }
    }
    for (int h = 0; h < kHealthy; ++h) {
        QElapsedTimer timer;
        timer.start();
        while (received[h] < expected && timer.elapsed() < 5000)
            received[h] += healthy[h]->read(100ms, expected - received[h]).size();
        EXPECT_EQ(received[h], expected) << "stream " << h;
    }
    EXPECT_TRUE(hb::test::waitFor([&] { return server->openEventStreams() == kHealthy; }, 5s))
        << "stuck streams dropped, open: " << server->openEventStreams();

    // How long one reload takes to reach every healthy stream once the stuck ones are gone:
    // a figure for docs/reliability.md (target 100 ms), not a verdict.
    std::vector<double> delivery;
    for (int round = 0; round < 20; ++round) {
        QElapsedTimer timer;
        timer.start();
        server->broadcastReload();
        int reached = 0;
        for (auto& stream : healthy)
            reached += stream->read(1s, reload.size()) == reload ? 1 : 0;
        delivery.push_back(double(timer.nsecsElapsed()) / 1e6);
        EXPECT_EQ(reached, kHealthy);
    }
    std::sort(delivery.begin(), delivery.end());
    std::printf("one reload to all %d healthy streams: median %.2f ms, slowest of 20 %.2f ms\n", kHealthy,
                delivery[delivery.size() / 2], delivery.back());

    for (int fd : stuck)
        ::close(fd);
}
