#pragma once
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QString>

namespace hb::server {

/// One parsed HTTP request. Built once by the reader and never changed.
struct Request {
    QString method = QStringLiteral("GET");
    QString path = QStringLiteral("/"); ///< percent-decoded path of the target
    QHash<QString, QString> query;      ///< decoded query items that carry a value
    QHash<QString, QString> headers;    ///< lower-cased, trimmed names and values
    QByteArray body;
    bool isLocal = false; ///< the peer is a loopback address

    // The socket's endpoints, for checks that need more than the address (peer ownership).
    QHostAddress peerAddress;
    quint16 peerPort = 0;
    QHostAddress localAddress;
    quint16 localPort = 0;

    /// The header's value (name in lower case), or an empty string.
    QString header(const QString& lowerName) const { return headers.value(lowerName); }
    bool hasHeader(const QString& lowerName) const { return headers.contains(lowerName); }
};

/// True for "127.0.0.1", "::1" and "::ffff:127.0.0.1" (zone ignored); nothing else is local.
bool isLoopbackPeer(const QHostAddress& address);

} // namespace hb::server
