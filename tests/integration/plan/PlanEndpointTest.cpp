#include "PlanTestSupport.h"
#include "unit/steps/FakeMessagesApi.h"

using namespace hb;
using namespace hb::test;

namespace {

/// Keeps ANTHROPIC_API_KEY as it was before the test.
class ApiKey {
  public:
    explicit ApiKey(const QByteArray& value) : saved_(qgetenv("ANTHROPIC_API_KEY")) {
        qputenv("ANTHROPIC_API_KEY", value);
    }
    ~ApiKey() { qputenv("ANTHROPIC_API_KEY", saved_); }

  private:
    QByteArray saved_;
};

const QString kSentence = QStringLiteral("Open the calculator, search for my notes and back everything up");

FakeReply planForTheSentence(const RecordedRequest& request) {
    const QJsonArray messages = request.json().value(u"messages").toArray();
    if (messages.size() != 1 || messages[0][QStringLiteral("content")] != kSentence)
        return FakeMessagesApi::modelText(QStringLiteral("I did not understand."));
    return FakeMessagesApi::modelText(QStringLiteral(
        "Here you "
        "go:\n```json\n{\"steps\":[{\"type\":\"app\",\"value\":\"Calculator\",\"label\":\"Calculator\"},"
        "{\"type\":\"gesture\",\"value\":\"spotlight\",\"label\":\"Search\"},"
        "{\"type\":\"app\",\"value\":\"Terminal\",\"label\":\"Not allowed\"},"
        "{\"type\":\"shortcut\",\"value\":\"Backup\",\"label\":\"Back up\"}]}\n```"));
}

TEST(PlanEndpoint, ASentencePlannedAgainstTheApiRunsAsAllowedSteps) {
    ApiKey key("sk-e2e");
    FakeMessagesApi api(planForTheSentence);
    ApiHarness::Options options;
    options.plannerBaseUrl = api.baseUrl();
    ApiHarness harness(options);
    harness.store().saveConfig(configWithApps());
    const QString token = harness.pairToken();

    const RawResponse planned =
        harness.request("POST", "/api/plan", compactJson({{QStringLiteral("intent"), kSentence}}), token);
    EXPECT_EQ(planned.status, 200);
    EXPECT_EQ(planned.json(), parsedObject(R"({"ok":true,"steps":[
        {"type":"app","value":"Calculator","label":"Calculator"},
        {"type":"gesture","value":"spotlight","label":"Search"},
        {"type":"shortcut","value":"Backup","label":"Back up"}]})"));
    ASSERT_EQ(api.requests().size(), 1);
    EXPECT_EQ(api.requests()[0].headers.value("x-api-key"), "sk-e2e");
    EXPECT_TRUE(harness.fake().calls().filter(QStringLiteral(":")).isEmpty()) << "planning runs nothing";

    const QJsonObject run{{QStringLiteral("steps"), planned.json().value(u"steps")}};
    const RawResponse ran = harness.request("POST", "/api/run-plan", compactJson(run), token);
    EXPECT_EQ(ran.json(), parsedObject(R"({"ok":true,"ran":3})"));
    EXPECT_EQ(harness.fake().calls().filter(QStringLiteral(":")),
              (QStringList{QStringLiteral("launchApp:Calculator"), QStringLiteral("runGesture:spotlight"),
                           QStringLiteral("runShortcut:Backup")}));
}

TEST(PlanEndpoint, PlannerFailuresAnswer200WithTheirCode) {
    FakeMessagesApi api([](const RecordedRequest&) {
        return FakeReply{500, R"({"type":"error"})", false, {}};
    });
    ApiHarness::Options options;
    options.plannerBaseUrl = api.baseUrl();
    // The key is set before each agent starts: changing the environment under running
    // threads is a race of its own (reading it at every call is the planner's unit test).
    {
        ApiKey none("");
        ApiHarness harness(options);
        const RawResponse response =
            harness.request("POST", "/api/plan", R"({"intent":"lock"})", harness.pairToken());
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.json(), parsedObject(R"({"ok":false,"error":"no_key"})"));
    }
    ApiKey key("sk-x");
    ApiHarness harness(options);
    const RawResponse response =
        harness.request("POST", "/api/plan", "no body to speak of", harness.pairToken());
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.json(), parsedObject(R"({"ok":false,"error":"plan_failed"})"));
    EXPECT_EQ(api.requests().value(0).json().value(u"messages")[0][QStringLiteral("content")],
              QStringLiteral(""))
        << "a missing intent is sent as the empty text";
}

} // namespace
