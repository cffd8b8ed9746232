#pragma once
#include "support/TestSupport.h"
#include "support/api/ApiHarness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace hb::test {

inline QByteArray jsonBody(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

inline QByteArray field(const char* key, const QJsonValue& value) {
    return jsonBody(QJsonObject{{QString::fromLatin1(key), value}});
}

inline QByteArray field(const char* key, const char* text) {
    return field(key, QString::fromUtf8(text));
}

inline QJsonObject parsed(const char* json) {
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

/// Status and exact JSON body of an answer, compared as one.
inline void expectAnswer(const RawResponse& response, int status, const QJsonObject& body) {
    EXPECT_EQ(response.status, status) << response.raw.constData();
    EXPECT_EQ(response.json(), body) << response.body.constData();
}

inline const QJsonObject kNotOk{{QStringLiteral("ok"), false}};

} // namespace hb::test
