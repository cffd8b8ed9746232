// Latency under hostile load, as figures: a normal client's p50/p99 while 1,000 slow-header and
// 1,000 idle connections are held open, and how long one reload takes to reach 60 event streams.
// The pass/fail side (every hostile connection closed, service continues) is the flood test's.
//   build/bench/flood_bench [connections]
#include "BenchSupport.h"
#include "server/Server.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using hb::test::RawClient;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int connections = argc > 1 ? std::atoi(argv[1]) : 1000;
    hb::server::ServerOptions options;
    options.port = 0;
    options.limits.headerTimeout = 2s;
    options.handler = [](const hb::server::Request& request, hb::server::Responder responder) {
        if (request.path == QStringLiteral("/events"))
            return responder.openEventStream();
        responder.json(QJsonObject{{QStringLiteral("ok"), true}});
    };
    hb::server::Server server(options);
    server.start();
    server.waitUntilListening(5s);
    const quint16 port = server.listeningPort();

    std::atomic<bool> done{false};
    std::vector<double> millis;
    std::thread prober([&] {
        while (!done) {
            QElapsedTimer timer;
            timer.start();
            hb::test::rawRequest(port, "GET /probe HTTP/1.1\r\n\r\n", 5s);
            millis.push_back(double(timer.nsecsElapsed()) / 1e6);
            std::this_thread::sleep_for(20ms);
        }
    });
    std::vector<std::unique_ptr<RawClient>> hostile;
    for (int i = 0; i < 2 * connections; ++i)
        hostile.push_back(std::make_unique<RawClient>(port));
    const QByteArray header = "GET / HTTP/1.1\r\nX-Slow: ";
    for (int tick = 0; tick < 10; ++tick) {
        for (int i = 0; i < connections; ++i)
            hostile[size_t(i)]->send(header.mid(tick % header.size(), 1));
        std::this_thread::sleep_for(250ms);
    }
    done = true;
    prober.join();
    std::printf(
        "normal client through %d slow + %d idle connections: %zu answers, p50 %.2f ms, p99 %.2f ms\n",
        connections, connections, millis.size(), hb::bench::percentile(millis, 0.5),
        hb::bench::percentile(millis, 0.99));
    hostile.clear();

    constexpr int kStreams = 60;
    const QByteArray reload = "17\r\nevent: reload\ndata: 1\n\n\r\n";
    std::vector<std::unique_ptr<RawClient>> streams;
    for (int i = 0; i < kStreams; ++i) {
        streams.push_back(std::make_unique<RawClient>(port));
        streams.back()->send("GET /events HTTP/1.1\r\n\r\n");
        streams.back()->read(3s, 128);
    }
    std::vector<double> delivery;
    for (int round = 0; round < 20; ++round) {
        QElapsedTimer timer;
        timer.start();
        server.broadcastReload();
        for (auto& stream : streams)
            stream->read(1s, reload.size());
        delivery.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("one reload to all %d streams: median %.2f ms, slowest of 20 %.2f ms\n", kStreams,
                hb::bench::percentile(delivery, 0.5), hb::bench::percentile(delivery, 1.0));
    server.stop();
    return 0;
}
