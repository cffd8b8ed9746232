#pragma once
#include <QByteArray>
#include <QHash>
#include <QString>
#include <optional>

namespace hb::server {

struct Target {
    QString path;
    QHash<QString, QString> query;
};

/// Splits a request target into its percent-decoded path and query items. The target is
/// checked strictly against RFC 3986: a character outside the allowed sets, an invalid
/// escape or a decoded path that is not UTF-8 rejects it, and then the path is the raw
/// target and the query empty. "+" stays "+"; items without "=" are left out; the last
/// item with a name wins. An absolute-form target ("http://host/x") gives its path.
Target parseTarget(const QByteArray& target);

/// Percent-decodes `text`; nothing when an escape is malformed or the result is not UTF-8.
std::optional<QString> percentDecode(QByteArrayView text);

} // namespace hb::server
