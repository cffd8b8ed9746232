#include "StoreFixture.h"

namespace hb::test {
namespace {

using StoreFlows = StoreFixture;

QJsonObject parse(const char* text) {
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

QJsonArray steps(const char* value) {
    return QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("url")},
                                  {QStringLiteral("value"), QString::fromUtf8(value)}}};
}

QJsonArray pagesOf(store::Store& s) {
    return s.snapshotConfig().value(QStringLiteral("pages")).toArray();
}

TEST_F(StoreFlows, FirstFlowAppendsAFlowsPage) {
    store::Store& s = open();
    s.addFlow(QStringLiteral("Morning"), QStringLiteral("\u2600"), steps("https://news.example"));
    const QJsonArray pages = pagesOf(s);
    ASSERT_EQ(pages.size(), 2);
    EXPECT_EQ(pages.at(0).toObject().value(QStringLiteral("name")), QStringLiteral("Apps"));
    const QJsonObject expected{
        {QStringLiteral("name"), QStringLiteral("Flows")},
        {QStringLiteral("icon"), QStringLiteral("\u26A1")},
        {QStringLiteral("tiles"),
         QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("flow")},
                                {QStringLiteral("label"), QStringLiteral("Morning")},
                                {QStringLiteral("emoji"), QStringLiteral("\u2600")},
                                {QStringLiteral("steps"), steps("https://news.example")}}}}};
    EXPECT_EQ(pages.at(1).toObject(), expected);
    EXPECT_EQ(readObject(configPath()), s.snapshotConfig());
}

TEST_F(StoreFlows, SameLabelTwiceGivesTwoTilesAndRemoveTakesBoth) {
    store::Store& s = open();
    s.addFlow(QStringLiteral("Go"), QStringLiteral("1"), steps("https://a.example"));
    s.addFlow(QStringLiteral("Go"), QStringLiteral("2"), steps("https://b.example"));
    s.addFlow(QStringLiteral("Stay"), QStringLiteral("3"), steps("https://c.example"));
    EXPECT_EQ(pagesOf(s).at(1).toObject().value(QStringLiteral("tiles")).toArray().size(), 3);
    s.removeFlow(QStringLiteral("Go"));
    const QJsonArray tiles = pagesOf(s).at(1).toObject().value(QStringLiteral("tiles")).toArray();
    ASSERT_EQ(tiles.size(), 1);
    EXPECT_EQ(tiles.at(0).toObject().value(QStringLiteral("label")), QStringLiteral("Stay"));
    EXPECT_EQ(readObject(configPath()), s.snapshotConfig());
}

TEST_F(StoreFlows, RemoveWithUnknownLabelRewritesTheFileUnchanged) {
    store::Store& s = open();
    s.addFlow(QStringLiteral("Go"), QStringLiteral("1"), steps("https://a.example"));
    const QJsonObject before = s.snapshotConfig();
    writeFile(configPath(), "stale");
    s.removeFlow(QStringLiteral("Nothing"));
    EXPECT_EQ(s.snapshotConfig(), before);
    EXPECT_EQ(readObject(configPath()), before);
}

TEST_F(StoreFlows, PagesThatAreNotAllObjects) {
    store::Store& s = open();
    s.saveConfig(parse(R"({"pages":[{"name":"Flows","tiles":[{"label":"Go"}]},3],"settings":{}})"));
    writeFile(configPath(), "untouched");
    s.removeFlow(QStringLiteral("Go"));
    EXPECT_EQ(readFile(configPath()), "untouched") << "nothing changes and nothing is written";
    EXPECT_EQ(pagesOf(s).size(), 2);

    s.addFlow(QStringLiteral("New"), QStringLiteral("x"), QJsonArray());
    const QJsonArray pages = pagesOf(s);
    ASSERT_EQ(pages.size(), 1);
    EXPECT_EQ(pages.at(0).toObject().value(QStringLiteral("name")), QStringLiteral("Flows"));
}

TEST_F(StoreFlows, TwoFlowsPagesAndOtherPages) {
    store::Store& s = open();
    s.saveConfig(parse(R"({"pages":[
        {"name":"Other","tiles":[{"type":"flow","label":"Go"}]},
        {"name":"Flows","tiles":[{"type":"app","label":"Go","value":"Files"},{"type":"flow","label":"Keep"}]},
        {"name":"Flows"},
        {"name":"Flows","tiles":"broken"}],"settings":{}})"));
    s.addFlow(QStringLiteral("Go"), QStringLiteral("x"), QJsonArray());
    EXPECT_EQ(pagesOf(s).at(1).toObject().value(QStringLiteral("tiles")).toArray().size(), 3)
        << "added to the first";

    s.removeFlow(QStringLiteral("Go"));
    const QJsonArray pages = pagesOf(s);
    EXPECT_EQ(pages.at(0).toObject().value(QStringLiteral("tiles")).toArray().size(), 1)
        << "other page untouched";
    const QJsonArray first = pages.at(1).toObject().value(QStringLiteral("tiles")).toArray();
    ASSERT_EQ(first.size(), 1) << "a matching tile of another type goes too";
    EXPECT_EQ(first.at(0).toObject().value(QStringLiteral("label")), QStringLiteral("Keep"));
    EXPECT_EQ(pages.at(2).toObject().value(QStringLiteral("tiles")), QJsonValue(QJsonArray()));
    EXPECT_EQ(pages.at(3).toObject().value(QStringLiteral("tiles")), QJsonValue(QJsonArray()));
}

} // namespace
} // namespace hb::test
