#pragma once
#include <QString>
#include <cstdint>
#include <optional>

namespace hb::env {

/// The variable's value, or nothing when it is not set (an empty value is returned as empty).
std::optional<QString> get(const char* name);

/// The variable's value when set and non-empty, else `fallback`.
QString getOr(const char* name, const QString& fallback);

/// Strict port parsing: optional "+", ASCII digits only, 0..65535; "-" only before a zero value.
std::optional<std::uint16_t> parsePort(const QString& text);

/// The port from HB_PORT, 8788 when unset or unparsable.
std::uint16_t portFromEnvironment();

/// Strict signed 64-bit decimal: optional sign, one or more ASCII digits, nothing else.
std::optional<std::int64_t> parseInt64(const QString& text);

inline constexpr std::uint16_t kDefaultPort = 8788;

} // namespace hb::env
