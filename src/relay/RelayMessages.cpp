#include "relay/RelayMessages.h"

#include "core/Json.h"

#include <QJsonObject>
#include <QStringDecoder>
#include <QUrl>
#include <array>
#include <cctype>
#include <string_view>

namespace hb::relay {
namespace {

constexpr qsizetype kMaxMethodBytes = 32;
constexpr qsizetype kMaxPathChars = 8 * 1024;

// Framing and hop-by-hop fields belong to the replay's own connection, never to the phone.
constexpr std::array kUnforwardedHeaders = {
    "host", "content-length", "transfer-encoding", "connection", "keep-alive",      "upgrade",
    "te",   "trailer",        "proxy-connection",  "expect",     kRelayMarkerHeader};

bool isForwardable(const QByteArray& lowerName) {
    for (const char* name : kUnforwardedHeaders) {
        if (lowerName == name)
            return false;
    }
    return true;
}

bool isSafeHeaderValue(const QString& value) {
    for (const QChar c : value) {
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

// "headers" is used only when it is an object whose every value is a string.
QList<QPair<QByteArray, QByteArray>> readHeaders(const QJsonValue& value) {
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!value.isObject())
        return headers;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString())
            return {};
    }
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QByteArray name = it.key().toUtf8();
        const QString text = it.value().toString();
        if (!isHttpToken(name) || !isSafeHeaderValue(text) || !isForwardable(name.toLower()))
            continue;
        headers.append({name, text.toUtf8()});
    }
    return headers;
}

} // namespace

bool isHttpToken(const QByteArray& text) {
    static constexpr std::string_view kSymbols = "!#$%&'*+-.^_`|~";
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && kSymbols.find(c) == std::string_view::npos)
            return false;
    }
    return true;
}

bool isSafeReplayPath(const QString& path) {
    if (!path.startsWith(u'/') || path.startsWith(QStringLiteral("//")) || path.size() > kMaxPathChars)
        return false;
    for (const QChar c : path) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f || c == u'#' || c == u'\\')
            return false;
    }
    for (qsizetype i = path.indexOf(u'%'); i >= 0; i = path.indexOf(u'%', i + 1)) {
        if (i + 2 >= path.size() || !isxdigit(path[i + 1].toLatin1()) || !isxdigit(path[i + 2].toLatin1()))
            return false;
    }
    return QUrl(QStringLiteral("http://127.0.0.1") + path, QUrl::StrictMode).isValid();
}

ParsedMessage parseRequestMessage(const QString& text) {
    ParsedMessage parsed;
    const auto object = json::parseObject(text.toUtf8());
    if (!object)
        return parsed;
    const QJsonValue reqId = object->value(u"reqId");
    const QJsonValue method = object->value(u"method");
    const QJsonValue path = object->value(u"path");
    if (!reqId.isString() || !method.isString() || !path.isString())
        return parsed;

    RelayedRequest& request = parsed.request;
    request.reqId = reqId.toString();
    request.method = method.toString().toUtf8();
    request.path = path.toString();
    if (request.method.size() > kMaxMethodBytes || !isHttpToken(request.method) ||
        !isSafeReplayPath(request.path)) {
        parsed.verdict = MessageVerdict::Refuse;
        return parsed;
    }
    request.headers = readHeaders(object->value(u"headers"));
    if (const QJsonValue body = object->value(u"body"); body.isString())
        request.body = body.toString().toUtf8();
    parsed.verdict = MessageVerdict::Replay;
    return parsed;
}

bool isUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(bytes);
    return !decoder.hasError();
}

QByteArray replyMessage(const QString& reqId, int status, const QString& contentType,
                        const QByteArray& body) {
    QJsonObject headers;
    if (!contentType.isNull())
        headers.insert(QStringLiteral("Content-Type"), contentType);
    QJsonObject reply{{QStringLiteral("reqId"), reqId},
                      {QStringLiteral("status"), status},
                      {QStringLiteral("headers"), headers},
                      {QStringLiteral("body"), QString()}};
    if (isUtf8(body)) {
        reply.insert(QStringLiteral("body"), QString::fromUtf8(body));
    } else {
        reply.insert(QStringLiteral("bodyBase64"), QString::fromLatin1(body.toBase64()));
    }
    return json::compact(reply);
}

} // namespace hb::relay
