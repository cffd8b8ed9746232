#include "core/Env.h"

#include <cstdlib>
#include <limits>

namespace hb::env {

std::optional<QString> get(const char* name) {
    const char* value = std::getenv(name);
    if (!value)
        return std::nullopt;
    return QString::fromUtf8(value);
}

QString getOr(const char* name, const QString& fallback) {
    const auto value = get(name);
    return value && !value->isEmpty() ? *value : fallback;
}

std::optional<std::int64_t> parseInt64(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i >= text.size())
        return std::nullopt;
    // Accumulate as a negative number so that INT64_MIN fits.
    std::int64_t value = 0;
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (kMin + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == kMin)
            return std::nullopt;
        value = -value;
    }
    return value;
}

std::optional<std::uint16_t> parsePort(const QString& text) {
    if (text.isEmpty())
        return std::nullopt;
    const auto value = parseInt64(text);
    if (!value)
        return std::nullopt;
    if (text.startsWith(u'-'))
        return *value == 0 ? std::optional<std::uint16_t>(0) : std::nullopt;
    if (*value < 0 || *value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(*value);
}

std::uint16_t portFromEnvironment() {
    const auto text = get("HB_PORT");
    if (!text)
        return kDefaultPort;
    return parsePort(*text).value_or(kDefaultPort);
}

} // namespace hb::env
