#include "server/PeerCredentials.h"

#include <QFile>
#include <QList>
#include <cstring>

namespace hb::server {
namespace {

/// One endpoint as /proc/net/tcp* writes it: the address's bytes in network order, printed
/// 32 bits at a time as the host reads them, then ":" and the port, all in upper-case hex.
QByteArray procEndpoint(const quint8* bytes, int length, quint16 port) {
    QByteArray text;
    for (int i = 0; i < length; i += 4) {
        quint32 word = 0;
        std::memcpy(&word, bytes + i, 4);
        text += QByteArray::number(word, 16).rightJustified(8, '0');
    }
    return (text + ':' + QByteArray::number(port, 16).rightJustified(4, '0')).toUpper();
}

QByteArray procEndpoint4(quint32 address, quint16 port) {
    const quint8 bytes[4] = {quint8(address >> 24), quint8(address >> 16), quint8(address >> 8),
                             quint8(address)};
    return procEndpoint(bytes, 4, port);
}

/// The address as an IPv6 socket sees it: IPv4 addresses in their mapped form.
QByteArray procEndpoint6(const QHostAddress& address, quint16 port) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    Q_IPV6ADDR bytes = address.toIPv6Address();
    if (isV4) {
        bytes = Q_IPV6ADDR{};
        bytes[10] = bytes[11] = 0xff;
        for (int i = 0; i < 4; ++i)
            bytes[12 + i] = quint8(v4 >> (24 - 8 * i));
    }
    return procEndpoint(bytes.c, 16, port);
}

/// The client's socket as one row of a table: its local end is our peer, its remote end is us.
struct ClientRow {
    const char* table;
    QByteArray local;
    QByteArray remote;
};

std::optional<uid_t> searchTable(const ClientRow& row) {
    QFile table(QString::fromLatin1(row.table));
    if (!table.open(QIODevice::ReadOnly))
        return std::nullopt;
    // /proc files report size 0, so QFile::atEnd() turns true whenever the read buffer runs
    // dry and a line-by-line loop sees only the first chunk of a long table: read to EOF.
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) { // line 0: column titles
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid ...
        if (fields.size() < 8 || fields[1] != row.local || fields[2] != row.remote)
            continue;
        bool ok = false;
        const uint uid = fields[7].toUInt(&ok);
        if (ok)
            return uid_t(uid);
    }
    return std::nullopt;
}

/// The IPv4 form of an IPv4 or IPv4-mapped IPv6 address.
std::optional<quint32> asIPv4(const QHostAddress& address) {
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? std::optional<quint32>(v4) : std::nullopt;
}

} // namespace

std::optional<uid_t> loopbackPeerUid(const Request& request) {
    const auto peer4 = asIPv4(request.peerAddress);
    const auto local4 = asIPv4(request.localAddress);
    // An IPv4 client is an IPv4 socket (tcp) or an IPv6 one speaking to a mapped address
    // (tcp6); an IPv6 client is only ever in tcp6.
    QList<ClientRow> rows;
    if (peer4 && local4)
        rows.append({"/proc/net/tcp", procEndpoint4(*peer4, request.peerPort),
                     procEndpoint4(*local4, request.localPort)});
    if (bool(peer4) == bool(local4))
        rows.append({"/proc/net/tcp6", procEndpoint6(request.peerAddress, request.peerPort),
                     procEndpoint6(request.localAddress, request.localPort)});
    for (const ClientRow& row : rows) {
        if (auto uid = searchTable(row))
            return uid;
    }
    return std::nullopt;
}

} // namespace hb::server
