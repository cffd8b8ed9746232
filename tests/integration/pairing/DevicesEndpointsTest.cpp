// "/api/devices" and named pairing over real sockets: the wire shape, and that a revoked
// phone is refused while the others keep working.
#include "support/TestSupport.h"
#include "support/api/ApiHarness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <atomic>
#include <gtest/gtest.h>

namespace hb::test {
namespace {

const QHostAddress kPhoneAddress(QStringLiteral("127.0.0.2"));

QJsonObject object(std::initializer_list<std::pair<const char*, QJsonValue>> members) {
    QJsonObject result;
    for (const auto& [key, value] : members)
        result.insert(QLatin1String(key), value);
    return result;
}

QByteArray body(std::initializer_list<std::pair<const char*, QJsonValue>> members) {
    return QJsonDocument(object(members)).toJson(QJsonDocument::Compact);
}

QString text(const QJsonObject& object, const char* key) {
    return object.value(QLatin1String(key)).toString();
}

QJsonArray listed(ApiHarness& api, const QString& token) {
    return api.remote("GET", "/api/devices", {}, token).json().value(QStringLiteral("devices")).toArray();
}

QJsonObject deviceNamed(const QJsonArray& devices, const QString& name) {
    for (const QJsonValue& device : devices) {
        if (text(device.toObject(), "name") == name)
            return device.toObject();
    }
    return {};
}

int statusWith(ApiHarness& api, const QString& token) {
    return api.remote("GET", "/api/config", {}, token).status;
}

// Faults: names or via lost on the way to the store; the pairing answers changed; a token
// (or something that leads back to it) in the list; the wrong phone revoked; a revoked
// token still accepted; a rename not kept; an unknown id reported as done.
TEST(DevicesEndpoint, TwoNamedPhonesListedRenamedAndOneRevoked) {
    const QDateTime start(QDate(2026, 5, 1), QTime(8, 0), Qt::UTC);
    std::atomic<int> minutes = 0;
    ApiHarness::Options options;
    options.now = [&] { return start.addSecs(60 * minutes.load()); };
    ApiHarness api(options);
    const RawResponse paired =
        api.remote("POST", "/api/pair",
                   body({{"pin", api.store().pinValue()}, {"name", QStringLiteral("Anna's phone")}}));
    EXPECT_EQ(paired.json().keys(), (QStringList{QStringLiteral("ok"), QStringLiteral("token")}));
    const QString anna = paired.json().value(QStringLiteral("token")).toString();
    const QString ben =
        api.request("POST", "/api/pair-code",
                    body({{"code", api.store().mintCode()}, {"name", QStringLiteral(" Ben ")}}), {},
                    {{"x-hb-relay", "1"}})
            .json()
            .value(QStringLiteral("token"))
            .toString();

    const RawResponse list = api.remote("GET", "/api/devices", {}, anna);
    EXPECT_FALSE(list.body.contains(anna.toUtf8()) || list.body.contains(ben.toUtf8()));
    const QJsonArray devices = list.json().value(QStringLiteral("devices")).toArray();
    ASSERT_EQ(devices.size(), 2);
    const QJsonObject annaEntry = deviceNamed(devices, QStringLiteral("Anna's phone"));
    const QJsonObject benEntry = deviceNamed(devices, QStringLiteral("Ben"));
    EXPECT_EQ(annaEntry.keys().join(u' '), QStringLiteral("current id lastSeen name pairedAt via"));
    EXPECT_EQ(annaEntry.value(QStringLiteral("current")), QJsonValue(true));
    EXPECT_EQ(text(annaEntry, "via"), QStringLiteral("lan"));
    EXPECT_EQ(benEntry.value(QStringLiteral("current")), QJsonValue(false));
    EXPECT_EQ(text(benEntry, "via"), QStringLiteral("relay"));
    EXPECT_TRUE(QDateTime::fromString(text(benEntry, "pairedAt"), Qt::ISODate).isValid());
    const QString benId = text(benEntry, "id");

    minutes = 2; // the gate notes each contact and its road
    EXPECT_EQ(statusWith(api, ben), 200);
    const QJsonObject seen = deviceNamed(listed(api, anna), QStringLiteral("Ben"));
    EXPECT_EQ(text(seen, "via"), QStringLiteral("lan"));
    EXPECT_EQ(QDateTime::fromString(text(seen, "lastSeen"), Qt::ISODate), options.now());

    const QByteArray rename = body({{"rename", benId}, {"name", QStringLiteral("Ben's")}});
    EXPECT_EQ(api.remote("POST", "/api/devices", rename, anna).status, 200);
    EXPECT_FALSE(deviceNamed(listed(api, ben), QStringLiteral("Ben's")).isEmpty());

    const int reloads = api.reloads();
    EXPECT_EQ(api.remote("POST", "/api/devices", body({{"revoke", benId}}), anna).json(),
              object({{"ok", true}}));
    EXPECT_EQ(api.reloads(), reloads + 1); // an open revoked phone learns of it at once
    EXPECT_EQ(statusWith(api, ben), 401);
    EXPECT_EQ(statusWith(api, anna), 200);

    for (const QByteArray& change : {body({{"revoke", benId}}), rename}) {
        const RawResponse unknown = api.remote("POST", "/api/devices", change, anna);
        EXPECT_EQ(unknown.status, 404);
        EXPECT_EQ(unknown.json(), object({{"ok", false}}));
    }
    EXPECT_EQ(api.remote("GET", "/api/devices").status, 401);
    EXPECT_EQ(api.request("GET", "/api/devices").json().value(QStringLiteral("devices")).toArray().size(), 1);
}

// Fault: a phone that revokes itself keeps a working token, or takes another phone with it.
TEST(DevicesEndpoint, APhoneRevokingItselfIsUnpaired) {
    ApiHarness api;
    const QString self = api.pairToken();
    const QString other = api.pairToken();
    EXPECT_EQ(
        api.remote("POST", "/api/devices", body({{"revoke", store::Store::deviceId(self)}}), self).status,
        200);
    EXPECT_EQ(statusWith(api, self), 401);
    EXPECT_EQ(statusWith(api, other), 200);
}

// Fault: an unnamed phone stored without a name, or a label that names the wrong browser.
TEST(DevicesEndpoint, AnUnnamedPhoneIsLabelledFromItsBrowser) {
    const struct {
        const char* userAgent;
        const char* label;
    } rows[] = {
        {"Mozilla/5.0 (Linux; Android 14) AppleWebKit/537.36 Chrome/126.0 Mobile Safari/537.36",
         "Chrome on Android"},
        {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_5 like Mac OS X) CriOS/126.0 Safari/604.1",
         "Chrome on iPhone"},
        {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_5 like Mac OS X) Version/17.5 Safari/604.1",
         "Safari on iPhone"},
        {"curl/8.0", "Phone"},
    };
    ApiHarness api;
    for (const auto& row : rows) {
        const QByteArray pair = body({{"pin", api.store().pinValue()}, {"name", QStringLiteral("  ")}});
        const QString token =
            api.request("POST", "/api/pair", pair, {}, {{"user-agent", row.userAgent}}, kPhoneAddress)
                .json()
                .value(QStringLiteral("token"))
                .toString();
        EXPECT_FALSE(deviceNamed(listed(api, token), QString::fromUtf8(row.label)).isEmpty()) << row.label;
        api.store().removeToken(token);
    }
}

} // namespace
} // namespace hb::test
