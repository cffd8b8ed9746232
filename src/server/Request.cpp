#include "server/Request.h"

namespace hb::server {

bool isLoopbackPeer(const QHostAddress& address) {
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4); // also unwraps ::ffff:a.b.c.d
    if (isV4)
        return v4 == 0x7F000001u;
    QHostAddress unscoped(address);
    unscoped.setScopeId(QString());
    return unscoped == QHostAddress(QHostAddress::LocalHostIPv6);
}

} // namespace hb::server
