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
    int maxAgents = 1000;
    int maxConnections = 4096; ///< open phone connections
};

/// Reads HB_RELAY_PORT, HB_RELAY_LISTEN, HB_RELAY_CERT and HB_RELAY_KEY; nothing, with `error` set,
/// when one of them is unusable.
std::optional<ServiceOptions> optionsFromEnvironment(QString* error);

} // namespace hb::relay::service
