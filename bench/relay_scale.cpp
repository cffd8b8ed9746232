// relay_scale: how many idle agent links one harbly-relay process holds and what each costs, and
// phone requests per second across 1,000 agents, directly and through nginx in front of two nodes.
//
//   build/bench/relay_scale [idle links] [seconds of phone load] [concurrent phones]
//
// Agents and phones are raw non-blocking sockets on one epoll loop (this process's own cost stays
// out of the figures): agents answer pings and reply to every request at once, so the latency shown
// is the relay's own. Load sockets are spread over 127.0.0.2, 127.0.0.3, … for port space.
#include "BenchSupport.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSourcesPerAddress = 20000;

struct Conn {
    int fd = -1;
    bool agent = true;
    bool open = false; ///< agent: handshake answered with 101
    int index = 0;
    QByteArray out;
    QByteArray in;
    Clock::time_point started;
};

class Load {
  public:
    Load() : epoll_(::epoll_create1(EPOLL_CLOEXEC)) {}
    ~Load() {
        for (auto& conn : conns_)
            if (conn)
                ::close(conn->fd);
        ::close(epoll_);
    }

    int openAgents = 0;
    int refusedAgents = 0;
    int phonesDone = 0;
    int phonesOk = 0;
    std::vector<double> latenciesMs;
    bool phonesRunning = false;

    void connectAgent(quint16 port, int index) {
        const QByteArray id = "agent-" + QByteArray::number(index);
        add(port, index, true,
            "GET /mac/ws?id=" + id +
                " HTTP/1.1\r\nHost: relay\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" +
                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
                "x-hb-relay-key: key-" + QByteArray::number(index) + "\r\n\r\n");
    }
    void startPhone(quint16 port, int agents) {
        const int index = nextPhone_++ % agents;
        add(port, index, false,
            "GET /phone/agent-" + QByteArray::number(index) +
                "/api/ping HTTP/1.1\r\nHost: relay\r\nConnection: close\r\n\r\n");
    }
    void closeAll() {
        for (auto& conn : conns_) {
            if (conn) {
                ::close(conn->fd);
                conn.reset();
            }
        }
        openAgents = 0;
    }
    /// Runs the loop until `done` holds or `limit` passes.
    template <typename F>
    void run(F done, std::chrono::milliseconds limit, quint16 phonePort = 0, int agents = 0) {
        const auto end = Clock::now() + limit;
        epoll_event events[256];
        while (!done() && Clock::now() < end) {
            const int n = ::epoll_wait(epoll_, events, 256, 50);
            for (int i = 0; i < n; ++i)
                step(int(events[i].data.u32), events[i].events, phonePort, agents);
        }
    }

  private:
    void add(quint16 port, int index, bool agent, QByteArray request) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return;
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(0x7f000002 + quint32(sources_++ / kSourcesPerAddress));
        ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
        auto conn = std::make_unique<Conn>();
        conn->fd = fd;
        conn->agent = agent;
        conn->index = index;
        conn->out = std::move(request);
        conn->started = Clock::now();
        quint32 slot = 0;
        if (!free_.empty()) {
            slot = free_.back();
            free_.pop_back();
            conns_[slot] = std::move(conn);
        } else {
            slot = quint32(conns_.size());
            conns_.push_back(std::move(conn));
        }
        epoll_event event{};
        event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP;
        event.data.u32 = slot;
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
    }

    void drop(quint32 slot) {
        ::close(conns_[slot]->fd);
        conns_[slot].reset();
        free_.push_back(slot);
    }

    void send(Conn& conn) {
        while (!conn.out.isEmpty()) {
            const ssize_t n = ::send(conn.fd, conn.out.constData(), size_t(conn.out.size()), MSG_NOSIGNAL);
            if (n <= 0)
                return;
            conn.out.remove(0, n);
        }
    }

    // A client frame: FIN, `opcode`, masked with a zero key (allowed, and the payload stays as is).
    static QByteArray frame(int opcode, const QByteArray& payload) {
        QByteArray out(1, char(0x80 | opcode));
        if (payload.size() < 126) {
            out += char(0x80 | payload.size());
        } else {
            out += char(0x80 | 126);
            out += char(payload.size() >> 8);
            out += char(payload.size() & 0xff);
        }
        out += QByteArray(4, '\0') + payload;
        return out;
    }

    void agentFrames(Conn& conn) {
        while (conn.in.size() >= 2) {
            const int opcode = conn.in[0] & 0x0f;
            qsizetype length = conn.in[1] & 0x7f;
            qsizetype header = 2;
            if (length == 126) {
                if (conn.in.size() < 4)
                    return;
                length = (quint8(conn.in[2]) << 8) | quint8(conn.in[3]);
                header = 4;
            } else if (length == 127) {
                return; // never sent by the relay for these requests
            }
            if (conn.in.size() < header + length)
                return;
            const QByteArray payload = conn.in.mid(header, length);
            conn.in.remove(0, header + length);
            if (opcode == 0x9) {
                conn.out += frame(0xA, payload);
            } else if (opcode == 0x1) {
                const qsizetype at = payload.indexOf("\"reqId\":\"") + 9;
                const QByteArray reqId = payload.mid(at, payload.indexOf('"', at) - at);
                conn.out += frame(
                    0x1,
                    R"({"reqId":")" + reqId +
                        R"(","status":200,"headers":{"Content-Type":"application/json"},"body":"{\"ok\":true}"})");
            }
        }
        send(conn);
    }

    void step(quint32 slot, quint32 events, quint16 phonePort, int agents) {
        if (slot >= conns_.size() || !conns_[slot])
            return;
        Conn& conn = *conns_[slot];
        if (events & EPOLLOUT)
            send(conn);
        char buffer[16384];
        bool closed = (events & (EPOLLERR | EPOLLHUP)) != 0;
        while (events & (EPOLLIN | EPOLLRDHUP)) {
            const ssize_t n = ::recv(conn.fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                conn.in.append(buffer, n);
                continue;
            }
            closed = closed || n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            break;
        }
        if (conn.agent) {
            if (!conn.open && conn.in.contains("\r\n\r\n")) {
                conn.open = conn.in.startsWith("HTTP/1.1 101");
                conn.in.remove(0, conn.in.indexOf("\r\n\r\n") + 4);
                conn.open ? ++openAgents : ++refusedAgents;
            }
            if (conn.open)
                agentFrames(conn);
            if (closed) {
                if (conn.open)
                    --openAgents;
                drop(slot);
            }
            return;
        }
        if (!closed)
            return;
        ++phonesDone;
        if (conn.in.startsWith("HTTP/1.1 200")) {
            ++phonesOk;
            latenciesMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - conn.started).count());
        }
        drop(slot);
        if (phonesRunning)
            startPhone(phonePort, agents);
    }

    int epoll_;
    std::vector<std::unique_ptr<Conn>> conns_;
    std::vector<quint32> free_;
    int sources_ = 0;
    int nextPhone_ = 0;
};

struct Node {
    QProcess process;
    quint16 port = 0;
    bool start(const QString& stateDir) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HB_RELAY_PORT"), QStringLiteral("0"));
        environment.insert(QStringLiteral("HB_RELAY_STATE_DIR"), stateDir);
        environment.insert(QStringLiteral("HB_RELAY_LINK_RATE"), QStringLiteral("0"));
        environment.insert(QStringLiteral("HB_RELAY_REQUEST_RATE"), QStringLiteral("0"));
        environment.insert(QStringLiteral("HB_RELAY_PROXY"), QStringLiteral("127.0.0.1"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/harbly-relay"), {});
        if (!process.waitForReadyRead(10'000))
            return false;
        const QByteArray line = process.readLine().trimmed();
        port = line.mid(line.lastIndexOf(':') + 1).toUShort();
        return port != 0;
    }
    ~Node() {
        process.terminate();
        process.waitForFinished(5000);
    }
};

// Links `count` agents (in batches, so that handshakes do not pile up); the number that opened.
int linkAgents(Load& load, quint16 port, int count) {
    constexpr int kBatch = 500;
    for (int started = 0; started < count; started += kBatch) {
        for (int i = started; i < std::min(count, started + kBatch); ++i)
            load.connectAgent(port, i);
        const int target = std::min(count, started + kBatch);
        load.run([&] { return load.openAgents + load.refusedAgents >= target; }, std::chrono::seconds(30));
        if (load.openAgents + load.refusedAgents < target)
            break; // the relay stopped keeping up: report what there is
    }
    return load.openAgents;
}

struct Throughput {
    double perSecond = 0;
    double p50 = 0;
    double p99 = 0;
    int failed = 0;
};

Throughput phoneLoad(Load& load, quint16 port, int agents, int phones, int seconds) {
    load.latenciesMs.clear();
    load.phonesDone = load.phonesOk = 0;
    load.phonesRunning = true;
    for (int i = 0; i < phones; ++i)
        load.startPhone(port, agents);
    QElapsedTimer timer;
    timer.start();
    load.run([] { return false; }, std::chrono::seconds(seconds), port, agents);
    load.phonesRunning = false;
    const double elapsed = timer.elapsed() / 1000.0;
    const int ok = load.phonesOk;
    load.run([&] { return false; }, std::chrono::milliseconds(500)); // let the last ones finish
    return {ok / elapsed, hb::bench::percentile(load.latenciesMs, 0.5),
            hb::bench::percentile(load.latenciesMs, 0.99), load.phonesDone - load.phonesOk};
}

QByteArray nginxConfig(const QString& dir, quint16 port, quint16 a, quint16 b) {
    return QStringLiteral(R"(user root; daemon off; worker_processes 1; pid %1/nginx.pid;
events { worker_connections 8192; }
http {
    access_log off;
    client_body_temp_path %1/body; proxy_temp_path %1/proxy; fastcgi_temp_path %1/fastcgi;
    uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;
    map $http_upgrade $connection_upgrade { default upgrade; '' close; }
    map $uri $phone_id { ~^/phone/(?<id>[^/]+) $id; default ""; }
    map $phone_id $relay_id { "" $arg_id; default $phone_id; }
    upstream relays { hash $relay_id consistent; server 127.0.0.1:%3; server 127.0.0.1:%4; }
    server {
        listen 127.0.0.1:%2;
        location / {
            proxy_pass http://relays; proxy_http_version 1.1;
            proxy_set_header Upgrade $http_upgrade; proxy_set_header Connection $connection_upgrade;
            proxy_set_header X-Real-IP $remote_addr; proxy_read_timeout 1d;
        }
    }
})")
        .arg(dir)
        .arg(port)
        .arg(a)
        .arg(b)
        .toUtf8();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    const int wanted = argc > 1 ? std::atoi(argv[1]) : 50000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 5;
    const int phones = argc > 3 ? std::atoi(argv[3]) : 64;
    constexpr int kLoadAgents = 1000;

    QTemporaryDir dir;
    Node node;
    if (!node.start(dir.path() + QStringLiteral("/owners"))) {
        std::fprintf(stderr, "relay_scale: cannot start harbly-relay\n");
        return 1;
    }
    std::printf("descriptor limit: %llu per process (the relay's cap follows it)\n",
                static_cast<unsigned long long>(limit.rlim_cur));
    std::printf("| measure | value |\n|---|---|\n");
    Load load;
    const long before = hb::bench::residentKiB(node.process.processId());
    const int linked = linkAgents(load, node.port, std::min<int>(wanted, int(limit.rlim_cur) - 200));
    load.run([] { return false; }, std::chrono::seconds(2)); // settle
    const long after = hb::bench::residentKiB(node.process.processId());
    std::printf("| idle agents linked (asked %d, refused %d) | %d |\n", wanted, load.refusedAgents, linked);
    std::printf("| relay resident memory, before → after | %.1f MiB → %.1f MiB |\n", before / 1024.0,
                after / 1024.0);
    std::printf("| resident memory per link | %.1f KiB |\n", linked ? double(after - before) / linked : 0.0);
    std::printf("| 50,000 links at that rate | %.0f MiB |\n",
                linked ? (before + double(after - before) / linked * 50000) / 1024.0 : 0.0);
    load.closeAll();
    load.run([] { return false; }, std::chrono::seconds(2));

    Load direct;
    linkAgents(direct, node.port, kLoadAgents);
    const Throughput one = phoneLoad(direct, node.port, kLoadAgents, phones, seconds);
    std::printf("| phone requests/s across %d agents, %d phones at once (failed) | %.0f (%d) |\n",
                kLoadAgents, phones, one.perSecond, one.failed);
    std::printf("| added latency p50 / p99 at that load | %.2f ms / %.2f ms |\n", one.p50, one.p99);
    direct.closeAll();

    Node a, b;
    QTemporaryDir shared;
    if (!a.start(shared.path()) || !b.start(shared.path()))
        return 1;
    const quint16 port = quint16(20000 + (::getpid() % 20000));
    QFile config(dir.path() + QStringLiteral("/nginx.conf"));
    if (!config.open(QIODevice::WriteOnly))
        return 1;
    config.write(nginxConfig(dir.path(), port, a.port, b.port));
    config.close();
    QProcess nginx;
    nginx.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    nginx.start(QStringLiteral("/usr/sbin/nginx"),
                {QStringLiteral("-p"), dir.path(), QStringLiteral("-c"), config.fileName(),
                 QStringLiteral("-e"), dir.path() + QStringLiteral("/error.log")});
    if (!nginx.waitForStarted(5000))
        return 1;
    ::usleep(500'000);
    Load balanced;
    const int viaNginx = linkAgents(balanced, port, kLoadAgents);
    const Throughput two = phoneLoad(balanced, port, kLoadAgents, phones, seconds);
    std::printf("| through nginx, two nodes: agents linked | %d |\n", viaNginx);
    std::printf("| through nginx, two nodes: phone requests/s (failed) | %.0f (%d) |\n", two.perSecond,
                two.failed);
    std::printf("| through nginx, two nodes: latency p50 / p99 | %.2f ms / %.2f ms |\n", two.p50, two.p99);
    balanced.closeAll();
    nginx.terminate();
    nginx.waitForFinished(5000);
    return 0;
}
