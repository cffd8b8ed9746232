// The real server (its I/O threads, reader and worker pool) on the port given as the first
// argument, until stdin closes: paths under /api/ get {"ok":true} from the worker pool, as
// the agent's actions do; other GETs are files of the folder given as the second argument,
// answered on the I/O thread as the agent's pages are. Prints its resident memory whenever a
// line arrives on stdin. Driven by bench/server.sh.
#include "BenchSupport.h"
#include "server/Server.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonObject>
#include <QSocketNotifier>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    hb::server::ServerOptions options;
    options.port = argc > 1 ? quint16(std::atoi(argv[1])) : 0;
    options.ioThreads = qEnvironmentVariableIntValue("HB_IO_THREADS"); // 0: the default (one)
    options.publicDir = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const auto isApi = [](const hb::server::Request& request) {
        return request.path.startsWith(QStringLiteral("/api/"));
    };
    options.handler = [isApi](const hb::server::Request& request, hb::server::Responder responder) {
        if (isApi(request))
            responder.json(QJsonObject{{QStringLiteral("ok"), true}});
        else
            responder.serveStatic(request.path);
    };
    options.answersAtOnce = [isApi](const hb::server::Request& request) { return !isApi(request); };
    hb::server::Server server(options);
    server.start();
    if (!server.waitUntilListening(std::chrono::seconds(5))) {
        std::fprintf(stderr, "could not listen\n");
        return 1;
    }
    std::printf("listening %u rss_kib %ld\n", server.listeningPort(), hb::bench::residentKiB());
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[64];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        std::printf("rss_kib %ld\n", hb::bench::residentKiB());
        std::fflush(stdout);
    });
    const int status = app.exec();
    server.stop();
    return status;
}
