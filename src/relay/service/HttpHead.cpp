#include "relay/service/HttpHead.h"

#include <QList>
#include <algorithm>

namespace hb::relay::service {
namespace {

bool isTokenChar(char c) {
    static constexpr QByteArrayView kSymbols = "!#$%&'*+-.^_`|~";
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || kSymbols.contains(c);
}

bool isToken(QByteArrayView text) {
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

bool hasControlChars(QByteArrayView text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f)
            return true;
    }
    return false;
}

// Strict decimal, no sign, checked against `max` digit by digit so it cannot overflow.
qint64 parseLength(QByteArrayView text, qint64 max) {
    if (text.isEmpty())
        return -1;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        if (value <= max)
            value = value * 10 + (c - '0');
    }
    return std::min(value, max + 1);
}

bool parseRequestLine(QByteArrayView line, HttpHead& head) {
    if (line.contains('\n'))
        return false;
    const QList<QByteArray> parts = line.toByteArray().split(' ');
    if (parts.size() != 3 || !isToken(parts[0]) || !parts[1].startsWith('/') || hasControlChars(parts[1]))
        return false;
    head.method = parts[0];
    head.target = parts[1];
    if (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0")
        head.error = parts[2].startsWith("HTTP/") ? 505 : 400;
    return true;
}

bool parseField(QByteArrayView line, HttpHead& head) {
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0 || !isToken(line.first(colon)))
        return false; // also refuses obsolete line folding (a leading space)
    const QByteArray name = line.first(colon).toByteArray().toLower();
    const QByteArray value = line.sliced(colon + 1).toByteArray().trimmed();
    if (hasControlChars(value))
        return false;
    if (name == "content-length" && head.fields.contains(name) && head.fields.value(name) != value)
        return false;
    if (head.fields.contains(name) && name != "content-length")
        head.fields[name] += ", " + value;
    else
        head.fields.insert(name, value);
    return true;
}

} // namespace

bool HttpHead::isWebSocketUpgrade() const {
    return method == "GET" && field("upgrade").toLower() == "websocket";
}

HttpHead parseHead(QByteArrayView head, qint64 maxBody) {
    HttpHead parsed;
    // Lines end in CRLF; a bare LF left inside a line fails the checks below.
    qsizetype lineEnd = head.indexOf("\r\n");
    bool ok = parseRequestLine(lineEnd < 0 ? head : head.first(lineEnd), parsed);
    while (ok && lineEnd >= 0) {
        const qsizetype start = lineEnd + 2;
        lineEnd = head.indexOf("\r\n", start);
        ok = parseField(head.sliced(start, (lineEnd < 0 ? head.size() : lineEnd) - start), parsed);
    }
    if (!ok) {
        parsed.error = 400;
        return parsed;
    }
    if (parsed.fields.contains("transfer-encoding"))
        parsed.error = 501; // bodies are accepted with Content-Length only
    if (parsed.fields.contains("content-length")) {
        parsed.contentLength = parseLength(parsed.field("content-length"), maxBody);
        if (parsed.contentLength < 0)
            parsed.error = 400;
        else if (parsed.contentLength > maxBody)
            parsed.error = 413;
    }
    return parsed;
}

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 408:
        return "Request Timeout";
    case 413:
        return "Content Too Large";
    case 423:
        return "Locked";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Status";
    }
}

QByteArray httpResponse(int status, const QByteArray& contentType, const QByteArray& body,
                        const QByteArray& extraHead, bool withBody) {
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (!contentType.isEmpty())
        out += "Content-Type: " + contentType + "\r\n";
    // Relayed answers carry tokens and the relay address: never cached, never sniffed, no referrer.
    out +=
        "Content-Length: " + QByteArray::number(body.size()) +
        "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\n" +
        extraHead + "Connection: close\r\n\r\n";
    if (withBody)
        out += body;
    return out;
}

} // namespace hb::relay::service
