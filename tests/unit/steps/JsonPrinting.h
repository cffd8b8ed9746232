#pragma once
// Readable gtest failure messages for JSON values.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <ostream>

inline void PrintTo(const QJsonObject& object, std::ostream* out) {
    *out << QJsonDocument(object).toJson(QJsonDocument::Compact).constData();
}

inline void PrintTo(const QJsonArray& array, std::ostream* out) {
    *out << QJsonDocument(array).toJson(QJsonDocument::Compact).constData();
}
