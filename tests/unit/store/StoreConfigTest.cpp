#include "StoreFixture.h"

namespace hb::test {
namespace {

using StoreConfig = StoreFixture;

QJsonObject parse(const char* text) {
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

TEST_F(StoreConfig, WithoutAnySourceTheDefaultIsWrittenPretty) {
    store::Store& s = open();
    EXPECT_EQ(s.snapshotConfig(), store::Store::defaultConfig());
    EXPECT_EQ(readObject(configPath()), store::Store::defaultConfig());
    EXPECT_TRUE(readFile(configPath()).contains("\n    \"pages\""));
    const QJsonObject apps = s.snapshotConfig().value(QStringLiteral("pages")).toArray().at(0).toObject();
    EXPECT_EQ(apps.value(QStringLiteral("icon")).toString(), QStringLiteral("\U0001F680"));
    EXPECT_FALSE(s.relayEnabled());
}

TEST_F(StoreConfig, ResourceConfigurationIsSanitisedAndBecomesTheUsersFile) {
    writeFile(resources() + QStringLiteral("/config.json"), R"({"pages":{},"theme":"dark"})");
    store::Store& s = open();
    const QJsonObject expected{{QStringLiteral("pages"), QJsonArray()},
                               {QStringLiteral("settings"), store::Store::defaultSettings()},
                               {QStringLiteral("theme"), QStringLiteral("dark")}};
    EXPECT_EQ(s.snapshotConfig(), expected);
    EXPECT_EQ(readObject(configPath()), expected);
}

TEST_F(StoreConfig, UsersFileIsTakenAsItStandsAndNotRewritten) {
    writeFile(resources() + QStringLiteral("/config.json"), R"({"pages":[{"name":"Shipped"}]})");
    const QByteArray user = R"({"pages":[],"settings":{"columns":6}})";
    writeFile(configPath(), user);
    store::Store& s = open();
    EXPECT_EQ(s.snapshotConfig(), parse(R"({"pages":[],"settings":{"columns":6}})"));
    EXPECT_EQ(readFile(configPath()), user);

    writeFile(configPath(), R"({"pages":[]})");
    EXPECT_EQ(open().snapshotConfig().value(QStringLiteral("settings")).toObject(),
              store::Store::defaultSettings());
    EXPECT_EQ(readFile(configPath()), R"({"pages":[]})") << "completed in memory only";
}

TEST_F(StoreConfig, DamagedUsersFileIsReplacedByTheNextSource) {
    for (const QByteArray& damaged : {QByteArray("{\"pages\": ["), QByteArray(""), QByteArray("[1,2]")}) {
        writeFile(configPath(), damaged);
        EXPECT_EQ(open().snapshotConfig(), store::Store::defaultConfig()) << damaged.constData();
        EXPECT_EQ(readObject(configPath()), store::Store::defaultConfig());
    }
    writeFile(resources() + QStringLiteral("/config.json"), R"({"pages":[],"settings":{"labels":false}})");
    writeFile(configPath(), "not json");
    EXPECT_EQ(open().snapshotConfig(), parse(R"({"pages":[],"settings":{"labels":false}})"));
}

TEST_F(StoreConfig, SaveReplacesTheWholeDocumentAndKeepsUnknownKeys) {
    store::Store& s = open();
    const QJsonObject document = parse(R"({"pages":[{"name":"P","x":{"y":[1,{"z":null}]},
        "tiles":[{"type":"app","value":"Files","extra":true}]}],
        "settings":{"columns":3,"future":"kept"},"top":1.5})");
    s.saveConfig(document);
    EXPECT_EQ(s.snapshotConfig(), document);
    EXPECT_EQ(readObject(configPath()), document);
    EXPECT_EQ(open().snapshotConfig(), document);
}

TEST_F(StoreConfig, SaveCompletesPagesAndSettings) {
    store::Store& s = open();
    s.saveConfig(parse(R"({"pages":{"a":1},"settings":{"relayEnabled":true}})"));
    EXPECT_EQ(s.snapshotConfig().value(QStringLiteral("pages")), QJsonValue(QJsonArray()));
    EXPECT_TRUE(s.relayEnabled());
    s.saveConfig(parse(R"({"pages":[]})"));
    EXPECT_EQ(s.snapshotConfig().value(QStringLiteral("settings")),
              QJsonValue(store::Store::defaultSettings()));
    EXPECT_FALSE(s.relayEnabled());
    s.saveConfig(QJsonObject());
    EXPECT_EQ(s.snapshotConfig(),
              parse(R"({"pages":[],"settings":{"columns":4,"iconScale":1.12,"labels":true}})"));
}

struct SanitizeCase {
    const char* name;
    const char* input;
    const char* expected;
};

class StoreSanitize : public ::testing::TestWithParam<SanitizeCase> {};

TEST_P(StoreSanitize, OnlyPagesAndSettingsAreTouched) {
    EXPECT_EQ(store::Store::sanitize(parse(GetParam().input)), parse(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Documents, StoreSanitize,
    ::testing::Values(SanitizeCase{"empty", "{}",
                                   R"({"pages":[],"settings":{"columns":4,"iconScale":1.12,"labels":true}})"},
                      SanitizeCase{"pagesString", R"({"pages":"x","settings":{}})",
                                   R"({"pages":[],"settings":{}})"},
                      SanitizeCase{"pagesOfAnything", R"({"pages":[1,"a",null],"settings":{}})",
                                   R"({"pages":[1,"a",null],"settings":{}})"},
                      SanitizeCase{"settingsArray", R"({"pages":[],"settings":[]})",
                                   R"({"pages":[],"settings":{"columns":4,"iconScale":1.12,"labels":true}})"},
                      SanitizeCase{"settingsNotFilledIn", R"({"pages":[],"settings":{"columns":99}})",
                                   R"({"pages":[],"settings":{"columns":99}})"}),
    [](const auto& info) { return std::string(info.param.name); });

struct RelayCase {
    const char* name;
    const char* settings;
    bool enabled;
};

class StoreRelaySwitch : public StoreFixture, public ::testing::WithParamInterface<RelayCase> {};

TEST_P(StoreRelaySwitch, OnlyBooleansAndExactlyOneOrZeroCount) {
    store::Store& s = open();
    const QByteArray document = QByteArray(R"({"pages":[],"settings":)") + GetParam().settings + '}';
    s.saveConfig(parse(document.constData()));
    EXPECT_EQ(s.relayEnabled(), GetParam().enabled);
}

INSTANTIATE_TEST_SUITE_P(Values, StoreRelaySwitch,
                         ::testing::Values(RelayCase{"true", R"({"relayEnabled":true})", true},
                                           RelayCase{"false", R"({"relayEnabled":false})", false},
                                           RelayCase{"one", R"({"relayEnabled":1})", true},
                                           RelayCase{"oneDotZero", R"({"relayEnabled":1.0})", true},
                                           RelayCase{"zero", R"({"relayEnabled":0})", false},
                                           RelayCase{"two", R"({"relayEnabled":2})", false},
                                           RelayCase{"half", R"({"relayEnabled":0.5})", false},
                                           RelayCase{"string", R"({"relayEnabled":"true"})", false},
                                           RelayCase{"null", R"({"relayEnabled":null})", false},
                                           RelayCase{"absent", R"({})", false},
                                           RelayCase{"settingsNotObject", R"([true])", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StoreConfig, AllowedAppsCollectsAppTilesOnce) {
    store::Store& s = open();
    s.saveConfig(parse(R"({"pages":[
        {"tiles":[{"type":"app","value":"Files"},{"type":"app","value":7},{"type":"app"},
                  {"type":"url","value":"https://x"},{"type":"APP","value":"Caps"}]},
        {"tiles":[{"type":"app","value":"Files"},{"type":"app","value":"Terminal"}]},
        {"tiles":[{"type":"app","value":"Skipped"},"not an object"]},
        {"name":"no tiles"}]})"));
    EXPECT_EQ(s.allowedApps(), (QSet<QString>{QStringLiteral("Files"), QStringLiteral("Terminal")}));

    s.saveConfig(parse(R"({"pages":[{"tiles":[{"type":"app","value":"Files"}]},3]})"));
    EXPECT_TRUE(s.allowedApps().isEmpty()) << "one page that is not an object hides them all";
}

} // namespace
} // namespace hb::test
