// The configuration document: its sources, sanitising, saves, the relay switch, the allowed
// applications and flows.
#include "StoreFixture.h"

namespace hb::test {
namespace {

using StoreConfig = StoreFixture;

TEST_F(StoreConfig, SourcesInOrderUserFileThenShippedFileThenDefault) {
    store::Store& s = open();
    EXPECT_EQ(s.snapshotConfig(), store::Store::defaultConfig());
    EXPECT_TRUE(readFile(configPath()).contains("\n    \"pages\"")) << "written pretty";

    writeFile(resources() + QStringLiteral("/config.json"), R"({"pages":{},"theme":"dark"})");
    writeFile(configPath(), "{\"pages\": [");
    const QJsonObject shipped{{QStringLiteral("pages"), QJsonArray()},
                              {QStringLiteral("settings"), store::Store::defaultSettings()},
                              {QStringLiteral("theme"), QStringLiteral("dark")}};
    EXPECT_EQ(open().snapshotConfig(), shipped) << "a damaged user file gives way, sanitised";
    EXPECT_EQ(readObject(configPath()), shipped);

    const QByteArray user = R"({"pages":[]})";
    writeFile(configPath(), user);
    EXPECT_EQ(open().snapshotConfig().value(QStringLiteral("settings")),
              QJsonValue(store::Store::defaultSettings()));
    EXPECT_EQ(readFile(configPath()), user) << "completed in memory only";
}

TEST_F(StoreConfig, SaveReplacesTheWholeDocumentKeepingUnknownKeys) {
    store::Store& s = open();
    const QJsonObject document = parsed(R"({"pages":[{"name":"P","x":{"y":[1,{"z":null}]},
        "tiles":[{"type":"app","value":"Files","extra":true}]}],"settings":{"columns":3,"future":"kept"},"top":1.5})");
    s.saveConfig(document);
    EXPECT_EQ(open().snapshotConfig(), document);
    const struct {
        const char* input;
        const char* expected;
    } rows[] = {
        {"{}", R"({"pages":[],"settings":{"columns":4,"iconScale":1.12,"labels":true}})"},
        {R"({"pages":"x","settings":{}})", R"({"pages":[],"settings":{}})"},
        {R"({"pages":[1,"a",null],"settings":[]})",
         R"({"pages":[1,"a",null],"settings":{"columns":4,"iconScale":1.12,"labels":true}})"},
        {R"({"pages":[],"settings":{"columns":99}})", R"({"pages":[],"settings":{"columns":99}})"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(store::Store::sanitize(parsed(row.input)), parsed(row.expected)) << row.input;
}

TEST_F(StoreConfig, RelaySwitchCountsOnlyTrueAndExactlyOne) {
    store::Store& s = open();
    const struct {
        const char* settings;
        bool enabled;
    } rows[] = {{R"({"relayEnabled":true})", true},
                {R"({"relayEnabled":1.0})", true},
                {R"({"relayEnabled":2})", false},
                {R"({"relayEnabled":"true"})", false},
                {R"([true])", false}};
    for (const auto& row : rows) {
        s.saveConfig(
            QJsonDocument::fromJson(QByteArray(R"({"pages":[],"settings":)") + row.settings + "}").object());
        EXPECT_EQ(s.relayEnabled(), row.enabled) << row.settings;
    }
}

TEST_F(StoreConfig, AllowedAppsAreTheTextValuesOfAppTiles) {
    store::Store& s = open();
    s.saveConfig(parsed(R"({"pages":[
        {"tiles":[{"type":"app","value":"Files"},{"type":"app","value":7},{"type":"APP","value":"Caps"},
                  {"type":"url","value":"https://x"}]},
        {"tiles":[{"type":"app","value":"Terminal"}]},
        {"tiles":[{"type":"app","value":"Skipped"},"a page with a non-object tile is skipped"]}]})"));
    EXPECT_EQ(s.allowedApps(), (QSet<QString>{QStringLiteral("Files"), QStringLiteral("Terminal")}));
    s.saveConfig(parsed(R"({"pages":[{"tiles":[{"type":"app","value":"Files"}]},3]})"));
    EXPECT_TRUE(s.allowedApps().isEmpty()) << "one page that is not an object hides them all";
}

TEST_F(StoreConfig, FlowsGoToTheFirstFlowsPageAndLeaveByLabel) {
    store::Store& s = open();
    const QJsonArray steps{parsed(R"({"type":"url","value":"https://a.example"})")};
    s.addFlow(QStringLiteral("Go"), QStringLiteral("\u2600"), steps);
    const QJsonObject flows = s.snapshotConfig().value(QStringLiteral("pages")).toArray().at(1).toObject();
    EXPECT_EQ(flows.value(QStringLiteral("name")), QJsonValue(QStringLiteral("Flows")));
    EXPECT_EQ(flows.value(QStringLiteral("tiles"))[0][QStringLiteral("steps")], QJsonValue(steps));
    s.saveConfig(parsed(R"({"pages":[
        {"name":"Other","tiles":[{"type":"flow","label":"Go"}]},
        {"name":"Flows","tiles":[{"type":"app","label":"Go","value":"Files"},{"type":"flow","label":"Keep"}]},
        {"name":"Flows","tiles":"broken"}],"settings":{}})"));
    s.addFlow(QStringLiteral("Go"), QStringLiteral("x"), QJsonArray());
    const auto tiles = [&](int page) {
        return s.snapshotConfig().value(QStringLiteral("pages")).toArray().at(page)[QStringLiteral("tiles")];
    };
    EXPECT_EQ(tiles(1).toArray().size(), 3) << "added to the first Flows page";
    s.removeFlow(QStringLiteral("Go"));
    EXPECT_EQ(tiles(0).toArray().size(), 1) << "other pages untouched";
    EXPECT_EQ(tiles(1).toArray(), QJsonArray{parsed(R"({"type":"flow","label":"Keep"})")});
    EXPECT_EQ(tiles(2), QJsonValue(QJsonArray()));
    EXPECT_EQ(readObject(configPath()), s.snapshotConfig());

    s.saveConfig(parsed(R"({"pages":[{"name":"Flows","tiles":[{"label":"Go"}]},3],"settings":{}})"));
    writeFile(configPath(), "untouched");
    s.removeFlow(QStringLiteral("Go"));
    EXPECT_EQ(readFile(configPath()), "untouched") << "pages not all objects: nothing changes";
}

// Fault: flows without limit (a paired phone filling the disk through config.json).
TEST_F(StoreConfig, FlowsAreCappedInNumberAndSize) {
    store::Store& s = open();
    const QJsonArray step{parsed(R"({"type":"url","value":"https://example.com"})")};
    const QJsonArray big{QJsonObject{{QStringLiteral("value"), QString(store::kMaxFlowBytes, u'a')}}};
    EXPECT_EQ(s.addFlow(QStringLiteral("big"), QStringLiteral("x"), big), store::Store::FlowAdded::TooLarge);
    QJsonArray tiles;
    for (int i = 0; i < store::kMaxFlows; ++i)
        tiles.append(QJsonObject{{QStringLiteral("type"), QStringLiteral("flow")},
                                 {QStringLiteral("label"), QString::number(i)},
                                 {QStringLiteral("steps"), step}});
    s.saveConfig(QJsonObject{
        {QStringLiteral("pages"), QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("Flows")},
                                                         {QStringLiteral("tiles"), tiles}}}}});
    EXPECT_EQ(s.addFlow(QStringLiteral("one more"), QStringLiteral("x"), step),
              store::Store::FlowAdded::TooMany);
    s.removeFlow(QStringLiteral("7"));
    EXPECT_EQ(s.addFlow(QStringLiteral("one more"), QStringLiteral("x"), step),
              store::Store::FlowAdded::Added);
}

} // namespace
} // namespace hb::test
