#include "relay-service/PhoneExchange.h"

#include "core/Json.h"

#include <QJsonObject>
#include <QUrl>
#include <array>

namespace hb::relay::service {
namespace {

constexpr qsizetype kMaxRelayIdChars = 64;
constexpr int kMinStatus = 100;
constexpr int kMaxStatus = 599;
const QString kPhonePrefix = QStringLiteral("/phone/");
constexpr std::array kForwardedHeaders = {"x-hb-token", "content-type", "accept"};

bool isSafeFieldValue(QByteArrayView value) {
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f)
            return false;
    }
    return true;
}

} // namespace

bool isValidRelayId(QStringView id) {
    if (id.isEmpty() || id.size() > kMaxRelayIdChars)
        return false;
    for (const QChar c : id) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                        u == '-' || u == '_' || u == '.';
        if (!ok)
            return false;
    }
    return true;
}

namespace {

QByteArray encodedQuery(const QHash<QString, QString>& query) {
    QStringList names = query.keys();
    names.sort();
    QByteArray out;
    for (const QString& name : std::as_const(names)) {
        out += out.isEmpty() ? '?' : '&';
        out += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(query.value(name));
    }
    return out;
}

} // namespace

PhoneTarget phoneTarget(const QString& path, const QHash<QString, QString>& query) {
    PhoneTarget result;
    if (!path.startsWith(kPhonePrefix))
        return result;
    const qsizetype idEnd = path.indexOf(u'/', kPhonePrefix.size());
    const QString id = path.mid(kPhonePrefix.size(), idEnd < 0 ? -1 : idEnd - kPhonePrefix.size());
    if (!isValidRelayId(id))
        return result;
    result.relayId = id;
    if (idEnd < 0) {
        result.kind = PhoneTarget::Kind::Redirect;
        result.location = QUrl::toPercentEncoding(path, "/") + '/' + encodedQuery(query);
    } else {
        result.kind = PhoneTarget::Kind::Forward;
        result.rest = QUrl::toPercentEncoding(path.mid(idEnd), "/") + encodedQuery(query);
    }
    return result;
}

bool isForwardedHeader(const QByteArray& lowerName) {
    for (const char* name : kForwardedHeaders) {
        if (lowerName == name)
            return true;
    }
    return false;
}

QByteArray requestMessage(const QString& reqId, const server::Request& request, const QByteArray& rest) {
    QJsonObject headers;
    for (auto it = request.headers.begin(); it != request.headers.end(); ++it) {
        if (isForwardedHeader(it.key().toLatin1()))
            headers.insert(it.key(), it.value());
    }
    return json::compact({{QStringLiteral("reqId"), reqId},
                          {QStringLiteral("method"), request.method},
                          {QStringLiteral("path"), QString::fromLatin1(rest)},
                          {QStringLiteral("headers"), headers},
                          {QStringLiteral("body"), QString::fromUtf8(request.body)}});
}

AgentAnswer parseAgentReply(const QString& text) {
    AgentAnswer answer;
    const auto object = json::parseObject(text.toUtf8());
    if (!object || !object->value(u"reqId").isString())
        return answer;
    answer.reqId = object->value(u"reqId").toString();
    answer.valid = true;
    const QJsonValue status = object->value(u"status");
    const bool statusOk = status.isDouble() && json::isIntegral(status) && status.toDouble() >= kMinStatus &&
                          status.toDouble() <= kMaxStatus;
    if (!statusOk)
        return answer;
    answer.status = status.toInt();
    const QJsonValue type = object->value(u"headers").toObject().value(u"Content-Type");
    if (type.isString() && isSafeFieldValue(type.toString().toUtf8()))
        answer.contentType = type.toString().toUtf8();
    const QJsonValue base64 = object->value(u"bodyBase64");
    if (base64.isString() && !base64.toString().isEmpty()) {
        const auto decoded = QByteArray::fromBase64Encoding(base64.toString().toLatin1(),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return answer;
        answer.body = decoded.decoded;
    } else {
        answer.body = object->value(u"body").toString().toUtf8();
    }
    answer.usable = true;
    return answer;
}

} // namespace hb::relay::service
