#include "PlanTestSupport.h"

using namespace hb;
using namespace hb::test;

namespace {

const char* const kSteps = R"([{"type":"app","value":"Calculator","label":"Calc","extra":[1]},
                              {"type":"gesture","value":"spotlight"}])";

class FlowsEndpointTest : public ::testing::Test {
  protected:
    void SetUp() override {
        harness.store().saveConfig(configWithApps());
        token = harness.pairToken();
        ASSERT_FALSE(token.isEmpty());
    }

    RawResponse flows(const QByteArray& method, const QByteArray& body) {
        return harness.request(method, "/api/flows", body, token);
    }

    /// Tiles of every page named "Flows".
    QJsonArray flowTiles() {
        QJsonArray tiles;
        for (const QJsonValue& page : harness.store().snapshotConfig().value(u"pages").toArray()) {
            if (page[QStringLiteral("name")] == QStringLiteral("Flows")) {
                for (const QJsonValue& tile : page[QStringLiteral("tiles")].toArray())
                    tiles.append(tile);
            }
        }
        return tiles;
    }

    ApiHarness harness;
    QString token;
};

TEST_F(FlowsEndpointTest, AddingAndRemovingFlowsReloadsEveryOpenStream) {
    EventStream first(harness.port());
    EventStream second(harness.port());
    ASSERT_TRUE(first.opened() && second.opened());

    const RawResponse added = flows("POST", QByteArray(R"({"steps":)") + kSteps + "}");
    EXPECT_EQ(added.status, 200);
    EXPECT_EQ(added.json(), parsedObject(R"({"ok":true})"));
    EXPECT_TRUE(first.waitForReloads(1));
    EXPECT_TRUE(second.waitForReloads(1));
    const QJsonObject expectedTile{{QStringLiteral("type"), QStringLiteral("flow")},
                                   {QStringLiteral("label"), QStringLiteral("Flow")},
                                   {QStringLiteral("emoji"), QStringLiteral("\u26A1")},
                                   {QStringLiteral("steps"), QJsonDocument::fromJson(kSteps).array()}};
    EXPECT_EQ(flowTiles(), QJsonArray{expectedTile}) << "defaults, steps stored unchanged";

    // Present but empty texts are kept, not replaced by the defaults; any method but DELETE adds.
    EXPECT_EQ(flows("PUT", QByteArray(R"({"label":"","emoji":"","steps":)") + kSteps + "}").status, 200);
    EXPECT_TRUE(first.waitForReloads(2));
    ASSERT_EQ(flowTiles().size(), 2);
    EXPECT_EQ(flowTiles()[1][QStringLiteral("label")], QStringLiteral(""));
    EXPECT_EQ(flowTiles()[1][QStringLiteral("emoji")], QStringLiteral(""));

    const RawResponse removed = flows("DELETE", R"({"label":"Flow"})");
    EXPECT_EQ(removed.json(), parsedObject(R"({"ok":true})"));
    EXPECT_TRUE(first.waitForReloads(3));
    EXPECT_TRUE(second.waitForReloads(3));
    EXPECT_EQ(flowTiles().size(), 1);

    // Removing a label no flow has still answers ok and reloads.
    EXPECT_EQ(flows("DELETE", R"({"label":"Nobody"})").json(), parsedObject(R"({"ok":true})"));
    EXPECT_TRUE(second.waitForReloads(4));
}

TEST_F(FlowsEndpointTest, RefusedFlowsAnswerInvalidFlowStoreNothingAndSendNoReload) {
    EventStream stream(harness.port());
    ASSERT_TRUE(stream.opened());
    const QJsonObject before = harness.store().snapshotConfig();
    const struct {
        const char* name;
        QByteArray body;
    } cases[] = {
        {"empty list", R"({"label":"x","steps":[]})"},
        {"no steps", R"({"label":"x"})"},
        {"body not JSON", "steps=1"},
        {"text among the steps", R"({"steps":[{"type":"gesture","value":"spotlight"},"spotlight"]})"},
        {"one refused step",
         R"({"steps":[{"type":"gesture","value":"spotlight"},{"type":"app","value":"Files"}]})"},
        {"ftp address", R"({"steps":[{"type":"url","value":"ftp://example.com"}]})"},
    };
    for (const auto& row : cases) {
        const RawResponse response = flows("POST", row.body);
        EXPECT_EQ(response.status, 400) << row.name;
        EXPECT_EQ(response.json(), parsedObject(R"({"ok":false,"error":"Invalid flow"})")) << row.name;
    }
    EXPECT_EQ(harness.store().snapshotConfig(), before);

    // A change afterwards reloads once: the refusals before it sent nothing.
    ASSERT_EQ(flows("DELETE", "{}").status, 200);
    ASSERT_TRUE(stream.waitForReloads(1));
    EXPECT_FALSE(stream.waitForReloads(2, std::chrono::milliseconds(300)));
    EXPECT_EQ(harness.reloads(), 1);
}

} // namespace
