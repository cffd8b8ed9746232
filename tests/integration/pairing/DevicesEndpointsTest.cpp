// "/api/devices" and named pairing over real sockets: the wire shape, and that a revoked
// phone is refused while the others keep working.
#include "support/api/ApiHarness.h"

#include <QJsonArray>
#include <atomic>
#include <gtest/gtest.h>

namespace hb::test {
namespace {

QJsonObject deviceNamed(ApiHarness& api, const QString& token, const QString& name) {
    for (const QJsonValue& device :
         api.remote("GET", "/api/devices", {}, token).json()[u"devices"].toArray()) {
        if (device[u"name"] == name)
            return device.toObject();
    }
    return {};
}

int statusWith(ApiHarness& api, const QString& token) {
    return api.remote("GET", "/api/config", {}, token).status;
}

// Faults: names or via lost on the way to the store; the pairing answers changed; a token in
// the list; contacts not noted; the wrong phone revoked; a revoked token still accepted; a
// rename not kept; an unknown id reported as done; a phone revoking itself keeping its token.
TEST(DevicesEndpoint, TwoNamedPhonesListedRenamedAndRevoked) {
    const QDateTime start(QDate(2026, 5, 1), QTime(8, 0), Qt::UTC);
    std::atomic<int> minutes = 0;
    ApiHarness::Options options;
    options.now = [&] { return start.addSecs(60 * minutes.load()); };
    ApiHarness api(options);
    const QByteArray pin = api.store().pinValue().toUtf8();
    const RawResponse paired =
        api.remote("POST", "/api/pair", R"({"name":"Anna's phone","pin":")" + pin + "\"}");
    EXPECT_EQ(paired.json().keys(), (QStringList{QStringLiteral("ok"), QStringLiteral("token")}));
    const QString anna = paired.json()[u"token"].toString();
    const QByteArray code = api.store().mintCode().toUtf8();
    const QString ben = api.request("POST", "/api/pair-code", R"({"name":" Ben ","code":")" + code + "\"}",
                                    {}, {{"x-hb-relay", "1"}})
                            .json()[u"token"]
                            .toString();

    const RawResponse list = api.remote("GET", "/api/devices", {}, anna);
    EXPECT_FALSE(list.body.contains(anna.toUtf8()) || list.body.contains(ben.toUtf8()));
    EXPECT_EQ(list.json()[u"devices"].toArray().size(), 2);
    const QJsonObject annaEntry = deviceNamed(api, anna, QStringLiteral("Anna's phone"));
    EXPECT_EQ(annaEntry.keys().join(u' '), QStringLiteral("current id lastSeen name pairedAt via"));
    EXPECT_EQ(annaEntry[u"current"], true);
    EXPECT_EQ(annaEntry[u"via"], QStringLiteral("lan"));
    const QJsonObject benEntry = deviceNamed(api, anna, QStringLiteral("Ben"));
    EXPECT_EQ(benEntry[u"current"], false);
    EXPECT_EQ(benEntry[u"via"], QStringLiteral("relay"));
    EXPECT_TRUE(QDateTime::fromString(benEntry[u"pairedAt"].toString(), Qt::ISODate).isValid());
    const QByteArray benId = benEntry[u"id"].toString().toUtf8();

    minutes = 2; // the gate notes each contact and its road
    EXPECT_EQ(statusWith(api, ben), 200);
    const QJsonObject seen = deviceNamed(api, anna, QStringLiteral("Ben"));
    EXPECT_EQ(seen[u"via"], QStringLiteral("lan"));
    EXPECT_EQ(QDateTime::fromString(seen[u"lastSeen"].toString(), Qt::ISODate), options.now());

    const QByteArray rename = R"({"name":"Ben's","rename":")" + benId + "\"}";
    EXPECT_EQ(api.remote("POST", "/api/devices", rename, anna).status, 200);
    EXPECT_FALSE(deviceNamed(api, ben, QStringLiteral("Ben's")).isEmpty());

    const int reloads = api.reloads();
    const QByteArray revoke = R"({"revoke":")" + benId + "\"}";
    expectAnswer(api.remote("POST", "/api/devices", revoke, anna), 200, parsed(R"({"ok":true})"));
    EXPECT_EQ(api.reloads(), reloads + 1); // an open revoked phone learns of it at once
    EXPECT_EQ(statusWith(api, ben), 401);
    EXPECT_EQ(statusWith(api, anna), 200);
    for (const QByteArray& change : {revoke, rename})
        expectAnswer(api.remote("POST", "/api/devices", change, anna), 404, kNotOk);
    EXPECT_EQ(api.remote("GET", "/api/devices").status, 401);

    const QString other = api.pairToken();
    EXPECT_EQ(api.remote("POST", "/api/devices", field("revoke", store::Store::deviceId(anna)), anna).status,
              200);
    EXPECT_EQ(statusWith(api, anna), 401);
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
        const QByteArray pair = R"({"name":"  ","pin":")" + api.store().pinValue().toUtf8() + "\"}";
        const QString token = api.request("POST", "/api/pair", pair, {}, {{"user-agent", row.userAgent}},
                                          QHostAddress(QStringLiteral("127.0.0.2")))
                                  .json()[u"token"]
                                  .toString();
        EXPECT_FALSE(deviceNamed(api, token, QString::fromUtf8(row.label)).isEmpty()) << row.label;
        api.store().removeToken(token);
    }
}

} // namespace
} // namespace hb::test
