#include "relay/service/PhoneExchange.h"

#include "core/Json.h"

#include <QJsonObject>
#include <array>

namespace hb::relay::service {
namespace {

constexpr qsizetype kMaxRelayIdChars = 64;
constexpr int kMinStatus = 100;
constexpr int kMaxStatus = 599;
constexpr QByteArrayView kPhonePrefix = "/phone/";
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

PhoneTarget phoneTarget(const QByteArray& target) {
    PhoneTarget result;
    const qsizetype queryAt = target.indexOf('?');
    const QByteArray path = queryAt < 0 ? target : target.left(queryAt);
    const QByteArray query = queryAt < 0 ? QByteArray() : target.mid(queryAt);
    if (!path.startsWith(kPhonePrefix))
        return result;
    const qsizetype idEnd = path.indexOf('/', kPhonePrefix.size());
    const QString id =
        QString::fromLatin1(path.mid(kPhonePrefix.size(), idEnd < 0 ? -1 : idEnd - kPhonePrefix.size()));
    if (!isValidRelayId(id))
        return result;
    result.relayId = id;
    if (idEnd < 0) {
        result.kind = PhoneTarget::Kind::Redirect;
        result.location = path + '/' + query;
    } else {
        result.kind = PhoneTarget::Kind::Forward;
        result.rest = path.mid(idEnd) + query;
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

QByteArray requestMessage(const QString& reqId, const HttpHead& head, const QByteArray& rest,
                          const QByteArray& body) {
    QJsonObject headers;
    for (auto it = head.fields.begin(); it != head.fields.end(); ++it) {
        if (isForwardedHeader(it.key()))
            headers.insert(QString::fromLatin1(it.key()), QString::fromUtf8(it.value()));
    }
    return json::compact({{QStringLiteral("reqId"), reqId},
                          {QStringLiteral("method"), QString::fromLatin1(head.method)},
                          {QStringLiteral("path"), QString::fromLatin1(rest)},
                          {QStringLiteral("headers"), headers},
                          {QStringLiteral("body"), QString::fromUtf8(body)}});
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
