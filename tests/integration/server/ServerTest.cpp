#include "server/Server.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QThread>
#include <arpa/inet.h>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using hb::server::Request;
using hb::server::Responder;
using hb::server::Server;
using hb::server::ServerOptions;
using hb::test::RawClient;
using hb::test::rawRequest;

namespace {

/// A server on a kernel-chosen port whose handler echoes what it saw, with special paths.
class EchoServer {
  public:
    explicit EchoServer(std::function<void(ServerOptions&)> adjust = {}) {
        ServerOptions options;
        options.port = 0;
        options.publicDir = QStringLiteral(HB_RESOURCES_DIR "/public");
        options.handler = [this](const Request& request, Responder responder) { handle(request, responder); };
        if (adjust)
            adjust(options);
        server = std::make_unique<Server>(options);
        server->start();
        EXPECT_TRUE(server->waitUntilListening(5s));
    }
    ~EchoServer() { server->stop(); }

    quint16 port() const { return server->listeningPort(); }

    std::atomic<int> routed{0};
    std::unique_ptr<Server> server;

  private:
    void handle(const Request& request, const Responder& responder) {
        routed.fetch_add(1);
        if (request.path == QStringLiteral("/events"))
            return responder.openEventStream();
        if (request.path == QStringLiteral("/slow"))
            QThread::msleep(1500);
        if (request.path == QStringLiteral("/file"))
            return responder.serveStatic(QStringLiteral("/"));
        if (request.path == QStringLiteral("/silent"))
            return; // never answered: the connection must still close
        responder.json(QJsonObject{{QStringLiteral("local"), request.isLocal},
                                   {QStringLiteral("method"), request.method},
                                   {QStringLiteral("path"), request.path},
                                   {QStringLiteral("body"), QString::fromUtf8(request.body)}});
    }
};

int holdPort(quint16 port) {
    const int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    const int off = 0;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_addr = in6addr_any;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

quint16 freePort() {
    const int fd = holdPort(0);
    sockaddr_in6 address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin6_port);
}

} // namespace

TEST(Server, AnswersOnceWithExactBytesAndCloses) {
    EchoServer echo;
    const auto response = rawRequest(echo.port(), "OPTIONS-NOT /p?x=1 HTTP/1.1\r\nHost: a\r\n\r\n");
    ASSERT_TRUE(response.ok);
    EXPECT_TRUE(response.closed);
    EXPECT_EQ(response.head,
              QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: ") +
                  QByteArray::number(response.body.size()) + "\r\nConnection: close");
    EXPECT_EQ(response.json().value(QStringLiteral("method")).toString(), QStringLiteral("OPTIONS-NOT"));
    const auto file = rawRequest(echo.port(), "GET /file HTTP/1.1\r\n\r\n");
    EXPECT_EQ(file.headers.value(QStringLiteral("content-type")), QStringLiteral("text/html"));
}

TEST(Server, BodyArrivingInPiecesIsRoutedOnceComplete) {
    EchoServer echo;
    RawClient client(echo.port());
    client.send("POST /p HTTP/1.1\r\nContent-Length: 5\r\n\r\nabc");
    EXPECT_TRUE(client.read(300ms).isEmpty());
    client.send("de");
    const QByteArray reply = client.read(3s);
    EXPECT_TRUE(reply.contains("\"body\":\"abcde\""));
    EXPECT_EQ(echo.routed.load(), 1);
}

TEST(Server, PeerClosingBeforeTheBodyIsNeverRouted) {
    EchoServer echo;
    {
        RawClient client(echo.port());
        client.send("POST /p HTTP/1.1\r\nContent-Length: 5\r\n\r\nabc");
    }
    QThread::msleep(300);
    EXPECT_EQ(echo.routed.load(), 0);
    EXPECT_TRUE(hb::test::waitFor([&] { return echo.server->openConnections() == 0; }, 3s));
}

TEST(Server, LoopbackAddressesAreLocalOthersAreNot) {
    EchoServer echo;
    const QByteArray get = "GET /x HTTP/1.1\r\n\r\n";
    const auto local = [&](const QHostAddress& to, const QHostAddress& from) {
        return rawRequest(echo.port(), get, 3s, to, from).json().value(QStringLiteral("local")).toBool();
    };
    EXPECT_TRUE(local(QHostAddress(QStringLiteral("127.0.0.1")), QHostAddress()));
    EXPECT_TRUE(local(QHostAddress(QStringLiteral("::1")), QHostAddress()));
    EXPECT_TRUE(local(QHostAddress(QStringLiteral("::ffff:127.0.0.1")), QHostAddress()));
    EXPECT_FALSE(local(QHostAddress(QStringLiteral("127.0.0.1")), QHostAddress(QStringLiteral("127.0.0.2"))));
}

TEST(Server, LimitsAnswerAndClose) {
    EchoServer echo;
    const auto big = rawRequest(echo.port(), "GET / HTTP/1.1\r\nX: " + QByteArray(20000, 'a') + "\r\n\r\n");
    EXPECT_EQ(big.status, 431);
    const auto body = rawRequest(echo.port(), "POST / HTTP/1.1\r\nContent-Length: 4194305\r\n\r\n");
    EXPECT_EQ(body.status, 413);
    const auto negative = rawRequest(echo.port(), "POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\n");
    EXPECT_EQ(negative.status, 400);
    EXPECT_EQ(echo.routed.load(), 0);
}

TEST(Server, SlowClientsAreClosedAtTheirDeadlines) {
    EchoServer echo([](ServerOptions& options) {
        options.limits.headerTimeout = 300ms;
        options.limits.bodyIdleTimeout = 300ms;
    });
    RawClient header(echo.port());
    header.send("GET / HTTP/1.1\r\n");
    RawClient body(echo.port());
    body.send("POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nab");
    EXPECT_TRUE(header.waitClosed(2s));
    EXPECT_TRUE(body.waitClosed(2s));
    RawClient silent(echo.port());
    silent.send("GET /silent HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(silent.waitClosed(2s)) << "an unanswered request must not hang";
}

TEST(Server, OldestHalfRequestIsEvictedAtTheConnectionCap) {
    EchoServer echo([](ServerOptions& options) {
        options.ioThreads = 1;
        options.limits.maxConnections = 3;
    });
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 3; ++i) {
        idle.push_back(std::make_unique<RawClient>(echo.port()));
        idle.back()->send("GET / HTT");
        QThread::msleep(50);
    }
    const auto response = rawRequest(echo.port(), "GET /x HTTP/1.1\r\n\r\n");
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(idle.front()->waitClosed(2s));
}

TEST(Server, SlowRouteDoesNotDelayOtherConnections) {
    EchoServer echo;
    RawClient slow(echo.port());
    slow.send("GET /slow HTTP/1.1\r\n\r\n");
    QElapsedTimer timer;
    timer.start();
    const auto fast = rawRequest(echo.port(), "GET /fast HTTP/1.1\r\n\r\n");
    EXPECT_EQ(fast.status, 200);
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_TRUE(slow.read(5s).startsWith("HTTP/1.1 200 OK"));
}

TEST(Server, QuickAnswersDoNotWaitForBusyWorkers) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> blocked{0};
    ServerOptions options;
    options.port = 0;
    options.publicDir = QStringLiteral(HB_RESOURCES_DIR "/public");
    options.workerThreads = 2;
    options.handler = [&](const Request& request, Responder responder) {
        if (request.path == QStringLiteral("/block")) {
            blocked.fetch_add(1);
            released.wait();
            return responder.send(200, "text/plain", "done");
        }
        responder.serveStatic(QStringLiteral("/"));
    };
    options.answersAtOnce = [](const Request& request) { return request.path == QStringLiteral("/page"); };
    Server server(options);
    server.start();
    ASSERT_TRUE(server.waitUntilListening(5s));

    // Every worker is held by an action; the page still comes at once.
    RawClient first(server.listeningPort());
    RawClient second(server.listeningPort());
    first.send("GET /block HTTP/1.1\r\n\r\n");
    second.send("GET /block HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(hb::test::waitFor([&] { return blocked.load() == 2; }, 3s));
    const auto page = rawRequest(server.listeningPort(), "GET /page HTTP/1.1\r\n\r\n", 2s);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.headers.value(QStringLiteral("content-type")), QStringLiteral("text/html"));
    release.set_value();
    EXPECT_TRUE(first.read(3s).endsWith("done"));
    EXPECT_TRUE(second.read(3s).endsWith("done"));
    server.stop();
}

TEST(Server, ARequestReadToItsEndIsClosedWithoutWaitingForTheClient) {
    EchoServer echo;
    // Read to its exact end: the server closes without waiting for the client to.
    RawClient clean(echo.port());
    clean.send("POST /p HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi");
    EXPECT_TRUE(clean.waitClosed(3s));
    // (A lingering close would hold the connection for 2 s.)
    EXPECT_TRUE(hb::test::waitFor([&] { return echo.server->openConnections() == 0; }, 1s));
}

TEST(Server, SeveralIoThreadsShareTheListeningSocket) {
    const int before = hb::test::openDescriptors();
    {
        EchoServer echo([](ServerOptions& options) { options.ioThreads = 3; });
        std::atomic<int> answered{0};
        std::vector<std::thread> clients;
        for (int c = 0; c < 6; ++c) {
            clients.emplace_back([&] {
                for (int i = 0; i < 40; ++i)
                    answered += rawRequest(echo.port(), "GET /file HTTP/1.1\r\n\r\n", 5s).status == 200;
            });
        }
        for (auto& client : clients)
            client.join();
        EXPECT_EQ(answered.load(), 240);
        EXPECT_TRUE(hb::test::waitFor([&] { return echo.server->openConnections() == 0; }, 3s));
    }
    // The listening socket's duplicates (and the threads' own descriptors) go with the server.
    EXPECT_TRUE(hb::test::waitFor([&] { return hb::test::openDescriptors() <= before; }, 3s))
        << hb::test::openDescriptors() << " descriptors open, " << before << " before";
}

TEST(Server, EventStreamsReceiveBroadcastsAndDeadOnesAreDropped) {
    EchoServer echo([](ServerOptions& options) { options.limits.maxEventStreams = 2; });
    const QByteArray expectedOpen =
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n"
        "Connection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n"
        "d\r\n: connected\n\n\r\n";
    RawClient first(echo.port());
    RawClient second(echo.port());
    first.send("GET /events HTTP/1.1\r\n\r\n");
    second.send("GET /events HTTP/1.1\r\n\r\n");
    EXPECT_EQ(first.read(3s, expectedOpen.size()), expectedOpen);
    EXPECT_EQ(second.read(3s, expectedOpen.size()), expectedOpen);

    const auto overCap = rawRequest(echo.port(), "GET /events HTTP/1.1\r\n\r\n");
    EXPECT_EQ(overCap.status, 503);

    echo.server->broadcastReload();
    const QByteArray reload = "17\r\nevent: reload\ndata: 1\n\n\r\n";
    EXPECT_EQ(first.read(3s, reload.size()), reload);
    EXPECT_EQ(second.read(3s, reload.size()), reload);

    ::shutdown(second.fd(), SHUT_RDWR);
    EXPECT_TRUE(hb::test::waitFor([&] { return echo.server->openEventStreams() == 1; }, 3s));
    echo.server->broadcastReload();
    EXPECT_EQ(first.read(3s, reload.size()), reload);
}

TEST(Server, BusyPortIsBoundOnceFreed) {
    const quint16 port = freePort();
    const int holder = holdPort(port);
    ASSERT_GE(holder, 0);
    std::thread release([holder] {
        std::this_thread::sleep_for(3s);
        ::close(holder);
    });
    ServerOptions options;
    options.port = port;
    options.handler = [](const Request&, Responder responder) { responder.send(200, "text/plain", "up"); };
    Server server(options);
    server.start();
    EXPECT_FALSE(server.waitUntilListening(2s));
    EXPECT_TRUE(server.waitUntilListening(10s));
    release.join();
    EXPECT_EQ(rawRequest(port, "GET / HTTP/1.1\r\n\r\n").body, QByteArray("up"));
    server.stop();
}

TEST(Server, GivesUpAfterTheLastAttempt) {
    const quint16 port = freePort();
    const int holder = holdPort(port);
    ServerOptions options;
    options.port = port;
    options.bindAttempts = 3;
    options.bindInterval = 100ms;
    Server server(options);
    server.start();
    EXPECT_FALSE(server.waitUntilListening(1s));
    ::close(holder);
    EXPECT_FALSE(server.waitUntilListening(500ms)) << "no attempt after the last one";
    server.stop();
}
