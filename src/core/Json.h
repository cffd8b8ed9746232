#pragma once
#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <optional>

namespace hb::json {

/// The member `key` when it is a JSON string, else `fallback`.
QString textField(const QJsonObject& object, const QString& key, const QString& fallback = {});

/// True when `value` is an array whose every element is an object (an empty array is one).
bool isArrayOfObjects(const QJsonValue& value);

/// Parses `bytes` as a JSON object; nothing when it is not valid JSON or not an object.
std::optional<QJsonObject> parseObject(const QByteArray& bytes);

/// Compact serialisation of an object.
QByteArray compact(const QJsonObject& object);

/// True when the JSON number holds an integral value (33 but not 33.9).
bool isIntegral(const QJsonValue& value);

} // namespace hb::json
