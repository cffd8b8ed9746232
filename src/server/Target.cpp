#include "server/Target.h"

#include <QStringDecoder>
#include <optional>

namespace hb::server {
namespace {

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}

bool isUnreserved(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

bool isSubDelim(char c) {
    switch (c) {
    case '!':
    case '$':
    case '&':
    case '\'':
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case ';':
    case '=':
        return true;
    default:
        return false;
    }
}

bool isPathChar(char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@' || c == '/';
}

/// Every character is allowed by `allowed`, or is a well-formed escape.
template <typename Allowed> bool wellFormed(QByteArrayView text, Allowed allowed) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))
                return false;
            i += 2;
        } else if (!allowed(c)) {
            return false;
        }
    }
    return true;
}

bool isSchemeStart(QByteArrayView target, qsizetype& colon) {
    if (target.isEmpty() || !((target[0] | 0x20) >= 'a' && (target[0] | 0x20) <= 'z'))
        return false;
    for (qsizetype i = 1; i < target.size(); ++i) {
        const char c = target[i];
        if (c == ':') {
            colon = i;
            return true;
        }
        const bool ok = ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                        c == '-' || c == '.';
        if (!ok)
            return false;
    }
    return false;
}

bool isAuthorityChar(char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@' || c == '[' || c == ']';
}

} // namespace

std::optional<QString> percentDecode(QByteArrayView text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]))
                return std::nullopt;
            bytes.append(char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            bytes.append(text[i]);
        }
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return decoded;
}

Target parseTarget(const QByteArray& target) {
    const Target rejected{QString::fromUtf8(target), {}};
    QByteArrayView rest(target);

    // Absolute form: scheme ":" ["//" authority] path
    qsizetype colon = -1;
    if (isSchemeStart(rest, colon)) {
        rest = rest.sliced(colon + 1);
        if (rest.startsWith("//")) {
            rest = rest.sliced(2);
            qsizetype end = 0;
            while (end < rest.size() && rest[end] != '/' && rest[end] != '?' && rest[end] != '#')
                ++end;
            if (!wellFormed(rest.first(end), isAuthorityChar))
                return rejected;
            rest = rest.sliced(end);
        }
    }

    QByteArrayView fragment;
    if (const qsizetype hash = rest.indexOf('#'); hash >= 0) {
        fragment = rest.sliced(hash + 1);
        rest = rest.first(hash);
    }
    QByteArrayView query;
    bool hasQuery = false;
    if (const qsizetype question = rest.indexOf('?'); question >= 0) {
        query = rest.sliced(question + 1);
        rest = rest.first(question);
        hasQuery = true;
    }
    const auto queryChar = [](char c) { return isPathChar(c) || c == '?'; };
    if (!wellFormed(rest, isPathChar) || !wellFormed(query, queryChar) || !wellFormed(fragment, queryChar))
        return rejected;

    const auto path = percentDecode(rest);
    if (!path)
        return rejected;
    Target result{*path, {}};
    if (!hasQuery)
        return result;
    qsizetype start = 0;
    while (start <= query.size()) {
        qsizetype end = query.indexOf('&', start);
        if (end < 0)
            end = query.size();
        const QByteArrayView item = query.sliced(start, end - start);
        start = end + 1;
        const qsizetype equals = item.indexOf('=');
        if (equals < 0)
            continue;
        const auto name = percentDecode(item.first(equals));
        const auto value = percentDecode(item.sliced(equals + 1));
        if (!name || !value)
            return rejected;
        result.query.insert(*name, *value);
    }
    return result;
}

} // namespace hb::server
