#include "server/PeerCredentials.h"

#include <QFile>
#include <QList>

namespace hb::server {
namespace {

/// Port of an "ADDRESS:PORT" field of /proc/net/tcp*, in hex.
std::optional<quint16> fieldPort(QByteArrayView field) {
    const qsizetype colon = field.lastIndexOf(':');
    if (colon < 0)
        return std::nullopt;
    bool ok = false;
    const uint port = field.sliced(colon + 1).toUInt(&ok, 16);
    if (!ok || port > 0xFFFF)
        return std::nullopt;
    return quint16(port);
}

std::optional<uid_t> searchTable(const char* path, quint16 clientPort, quint16 serverPort) {
    QFile table(QString::fromLatin1(path));
    if (!table.open(QIODevice::ReadOnly))
        return std::nullopt;
    // /proc files report size 0, so QFile::atEnd() turns true whenever the read buffer runs
    // dry and a line-by-line loop sees only the first chunk of a long table: read to EOF.
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) { // line 0: column titles
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        // sl local_address rem_address st tx:rx tr:when retrnsmt uid ...
        if (fields.size() < 8)
            continue;
        if (fieldPort(fields[1]) != clientPort || fieldPort(fields[2]) != serverPort)
            continue;
        bool ok = false;
        const uint uid = fields[7].toUInt(&ok);
        if (ok)
            return uid_t(uid);
    }
    return std::nullopt;
}

} // namespace

std::optional<uid_t> loopbackPeerUid(const Request& request) {
    // The client's socket has our peer port as its local port and our port as its remote one.
    if (auto uid = searchTable("/proc/net/tcp", request.peerPort, request.localPort))
        return uid;
    return searchTable("/proc/net/tcp6", request.peerPort, request.localPort);
}

} // namespace hb::server
