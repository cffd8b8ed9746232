#pragma once
#include <QHostAddress>
#include <QString>
#include <chrono>
#include <optional>

namespace hb::relay::service {

/// Everything the relay service can be told; limits have their defaults here.
struct ServiceOptions {
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 9000;
    QString certPath; ///< PEM certificate (chain); with keyPath, serve HTTPS/WSS directly
    QString keyPath;  ///< PEM private key
    QString stateDir; ///< where identifier bindings are kept; empty: in memory only
    /// A balancer in front: for connections from this address the client is the one named in
    /// "X-Real-IP" (per-address limits apply to it).
    QHostAddress trustedProxy;

    std::chrono::milliseconds replyTimeout{15'000};    ///< phone waits this long for the agent (then 504)
    std::chrono::milliseconds headerTimeout{10'000};   ///< to receive a request head
    std::chrono::milliseconds bodyIdleTimeout{10'000}; ///< silence allowed while a body arrives
    std::chrono::milliseconds writeTimeout{10'000};    ///< to deliver an answer before the socket is dropped
    /// Agents are pinged this often; a link that leaves one ping unanswered is dropped.
    std::chrono::milliseconds pingInterval{30'000};
    qsizetype maxHeaderBytes = 16 * 1024;
    qint64 maxBodyBytes = 4 * 1024 * 1024;
    qint64 maxMessageBytes = 8 * 1024 * 1024; ///< WebSocket messages, either way
    int maxInFlightPerAgent = 64;
    // The program derives these two from its descriptor limit and memory (deriveCaps).
    int maxAgents = 1000;
    int maxConnections = 4096; ///< open TCP connections, agents' included
    /// Per client address: new agent links and phone requests per second, with bursts of twice
    /// that; 0 switches the limit off.
    int linksPerSecond = 10;
    int requestsPerSecond = 50;
};

/// Connection and agent caps for a process allowed `descriptors` open files and `memoryBytes` of
/// memory: a few descriptors stay in reserve, and each agent link is counted at its measured cost.
void deriveCaps(ServiceOptions& options, qint64 descriptors, qint64 memoryBytes);

/// Reads HB_RELAY_PORT, HB_RELAY_LISTEN, HB_RELAY_CERT, HB_RELAY_KEY, HB_RELAY_STATE_DIR,
/// HB_RELAY_PROXY, HB_RELAY_LINK_RATE, HB_RELAY_REQUEST_RATE and HB_RELAY_MEMORY_MB; raises the
/// open-file limit to its hard limit and derives the caps from it. Nothing, with `error` set, when
/// a variable is unusable.
std::optional<ServiceOptions> optionsFromEnvironment(QString* error);

} // namespace hb::relay::service
