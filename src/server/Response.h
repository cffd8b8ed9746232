#pragma once
#include <QByteArray>
#include <QByteArrayView>

namespace hb::server {

/// "OK" for 200, "No Content" for 204, "ERR" for everything else.
QByteArrayView reasonPhrase(int status);

/// Status line, Content-Type (unless empty), Content-Length, `extraHead` (whole lines, each ending in CR LF),
/// "Connection: close", blank line, body.
QByteArray responseBytes(int status, QByteArrayView contentType, QByteArrayView body,
                         QByteArrayView extraHead = {});

/// The head that turns a connection into an event stream (129 bytes).
QByteArray eventStreamHead();

} // namespace hb::server
