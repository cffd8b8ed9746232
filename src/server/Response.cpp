#include "server/Response.h"

#include "server/Server.h"

namespace hb::server {

QByteArrayView reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    default:
        return "ERR";
    }
}

QByteArray responseBytes(int status, QByteArrayView contentType, QByteArrayView body,
                         QByteArrayView extraHead) {
    QByteArray out;
    out.reserve(96 + contentType.size() + extraHead.size() + body.size());
    out += "HTTP/1.1 ";
    out += QByteArray::number(status);
    out += ' ';
    out += reasonPhrase(status);
    if (!contentType.isEmpty()) {
        out += "\r\nContent-Type: ";
        out += contentType;
    }
    out += "\r\nContent-Length: ";
    out += QByteArray::number(body.size());
    out += "\r\n";
    out += extraHead;
    out += "Connection: close\r\n\r\n";
    out += body;
    return out;
}

QByteArray eventStreamHead() {
    return QByteArrayLiteral("HTTP/1.1 200 OK\r\n"
                             "Content-Type: text/event-stream\r\n"
                             "Cache-Control: no-cache\r\n"
                             "Connection: keep-alive\r\n"
                             "Transfer-Encoding: chunked\r\n"
                             "\r\n");
}

QByteArray sseChunk(const QByteArray& message) {
    return QByteArray::number(message.size(), 16) + "\r\n" + message + "\r\n";
}

} // namespace hb::server
