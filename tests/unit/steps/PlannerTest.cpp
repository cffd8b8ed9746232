#include "steps/Planner.h"
#include "actions/platform/fake/FakePlatform.h"
#include "support/TestSupport.h"
#include "unit/steps/FakeMessagesApi.h"
#include "unit/steps/JsonPrinting.h"

#include <QJsonArray>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace hb;
using test::FakeMessagesApi;
using test::FakeReply;
using test::RecordedRequest;

namespace {

/// Collects completions from whatever thread calls them.
class Results {
  public:
    steps::Planner::Completion completion() {
        return [this](const QJsonObject& result) {
            QMutexLocker lock(&mutex_);
            results_.append(result);
        };
    }
    QList<QJsonObject> all() const {
        QMutexLocker lock(&mutex_);
        return results_;
    }
    bool waitFor(int count, std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        return test::waitFor([&] { return all().size() >= count; }, limit);
    }

  private:
    mutable QMutex mutex_;
    QList<QJsonObject> results_;
};

QJsonObject failed(const char* code) {
    return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), QString::fromLatin1(code)}};
}

class PlannerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedKey_ = qgetenv("ANTHROPIC_API_KEY");
        savedBase_ = qgetenv("ANTHROPIC_BASE_URL");
        qputenv("ANTHROPIC_API_KEY", "sk-test-1");
        qunsetenv("ANTHROPIC_BASE_URL");
    }
    void TearDown() override {
        qputenv("ANTHROPIC_API_KEY", savedKey_);
        qputenv("ANTHROPIC_BASE_URL", savedBase_);
    }

    steps::Planner::Options at(const FakeMessagesApi& api,
                               std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return steps::Planner::Options{api.baseUrl(), timeout};
    }

    actions::FakePlatform fake;
    actions::Platform platform = fake.platform();
    steps::StepEnvironment environment{
        [] {
            return QSet<QString>{QStringLiteral("Text Editor"), QStringLiteral("Calculator")};
        },
        &platform};

  private:
    QByteArray savedKey_;
    QByteArray savedBase_;
};

const char* const kExpectedPrompt =
    "You plan a short, ordered sequence of desktop actions from the user's intent. Reply with ONLY a JSON "
    "object "
    "of the form {\"steps\":[{\"type\":\"app|url|shortcut|gesture\",\"value\":\"...\",\"label\":\"...\"}]}.\n"
    "Valid apps: Calculator, Text Editor.\nValid shortcuts: Backup, Focus.\nValid gestures: minimize, "
    "hide_others, "
    "mission_control, app_windows, show_desktop, spotlight, lock_screen, launchpad.\nFor \"url\" steps, "
    "value is a "
    "full https URL. Only use items from those lists. Max 6 steps.";

TEST_F(PlannerTest, SendsTheMessagesRequestAndHandsOnOnlyAllowedSteps) {
    FakeMessagesApi api([](const RecordedRequest&) {
        return FakeMessagesApi::modelText(QStringLiteral(
            "Here is the "
            "plan:\n```json\n{\"steps\":[{\"type\":\"app\",\"value\":\"Calculator\",\"label\":\"Calc\"},"
            "{\"type\":\"app\",\"value\":\"Files\"},{\"type\":\"url\",\"value\":\"ftp://example.com\"},"
            "{\"type\":\"gesture\",\"value\":\"show_desktop\"}]}\n```"));
    });
    steps::Planner planner(environment, at(api));
    Results results;
    const QString intent = QStringLiteral("  open the calculator, then show the desktop \u00E9\U0001F600 ");
    planner.planWithClaude(intent, results.completion());
    ASSERT_TRUE(results.waitFor(1));

    EXPECT_EQ(results.all().value(0), QJsonDocument::fromJson(R"({"ok":true,"steps":[
        {"type":"app","value":"Calculator","label":"Calc"},{"type":"gesture","value":"show_desktop"}]})")
                                          .object());
    ASSERT_EQ(api.requests().size(), 1);
    const RecordedRequest request = api.requests().value(0);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/v1/messages");
    EXPECT_EQ(request.headers.value("x-api-key"), "sk-test-1");
    EXPECT_EQ(request.headers.value("anthropic-version"), "2023-06-01");
    EXPECT_EQ(request.headers.value("content-type"), "application/json");
    EXPECT_FALSE(request.body.contains('\n')) << "compact JSON";

    const QJsonObject body = request.json();
    EXPECT_EQ(body.keys(), (QStringList{QStringLiteral("max_tokens"), QStringLiteral("messages"),
                                        QStringLiteral("model"), QStringLiteral("system")}));
    EXPECT_EQ(body.value(u"model").toString(), QStringLiteral("claude-opus-4-8"));
    EXPECT_EQ(body.value(u"max_tokens").toVariant(), QVariant(qlonglong(1024)));
    EXPECT_EQ(body.value(u"system").toString(), QString::fromUtf8(kExpectedPrompt));
    const QJsonArray messages{
        QJsonObject{{QStringLiteral("role"), QStringLiteral("user")}, {QStringLiteral("content"), intent}}};
    EXPECT_EQ(body.value(u"messages").toArray(), messages);
}

TEST_F(PlannerTest, NoKeyAnswersOnTheCallingThreadBeforeReturningAndSendsNothing) {
    FakeMessagesApi api(
        [](const RecordedRequest&) { return FakeMessagesApi::modelText(QStringLiteral("{}")); });
    steps::Planner planner(environment, at(api));
    for (const char* key : {static_cast<const char*>(nullptr), ""}) {
        if (key)
            qputenv("ANTHROPIC_API_KEY", key);
        else
            qunsetenv("ANTHROPIC_API_KEY");
        QList<QJsonObject> seen;
        planner.planWithClaude(QStringLiteral("lock"),
                               [&seen](const QJsonObject& result) { seen.append(result); });
        EXPECT_EQ(seen, QList<QJsonObject>{failed("no_key")});
    }
    QThread::msleep(200);
    EXPECT_TRUE(api.requests().isEmpty());
}

TEST_F(PlannerTest, KeyAndBaseAddressAreReadOnEveryCall) {
    FakeMessagesApi api(
        [](const RecordedRequest&) { return FakeMessagesApi::modelText(QStringLiteral("{\"steps\":[]}")); });
    steps::Planner planner(environment); // no base in the options: ANTHROPIC_BASE_URL decides
    Results results;
    qputenv("ANTHROPIC_BASE_URL", (api.baseUrl() + u'/').toUtf8());
    planner.planWithClaude(QStringLiteral("a"), results.completion());
    ASSERT_TRUE(results.waitFor(1));
    qputenv("ANTHROPIC_API_KEY", "sk-test-2");
    planner.planWithClaude(QStringLiteral("b"), results.completion());
    ASSERT_TRUE(results.waitFor(2));
    ASSERT_EQ(api.requests().size(), 2);
    EXPECT_EQ(api.requests().value(0).target, "/v1/messages");
    EXPECT_EQ(api.requests().value(0).headers.value("x-api-key"), "sk-test-1");
    EXPECT_EQ(api.requests().value(1).headers.value("x-api-key"), "sk-test-2");
}

TEST_F(PlannerTest, ReplyIsJudgedByItsBodyNotItsStatus) {
    struct Case {
        const char* name;
        FakeReply reply;
        QJsonObject expected;
    };
    const Case cases[] = {
        {"error body with status 500",
         FakeReply{500, R"({"type":"error","error":{"type":"api_error","message":"Internal"}})", false, {}},
         failed("plan_failed")},
        {"plan with status 500", FakeMessagesApi::modelText(QStringLiteral(R"({"steps":[]})"), 500),
         QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("steps"), QJsonArray()}}},
        {"no body with status 200", FakeReply{200, {}, false, {}}, failed("plan_failed")},
        {"two objects side by side",
         FakeMessagesApi::modelText(QStringLiteral(R"({"steps":[]}{"steps":[]})")), failed("parse_failed")},
        {"closing brace first", FakeMessagesApi::modelText(QStringLiteral("} {")), failed("parse_failed")},
    };
    for (const Case& row : cases) {
        FakeMessagesApi api([&row](const RecordedRequest&) { return row.reply; });
        steps::Planner planner(environment, at(api));
        Results results;
        planner.planWithClaude(QStringLiteral("x"), results.completion());
        ASSERT_TRUE(results.waitFor(1)) << row.name;
        EXPECT_EQ(results.all(), QList<QJsonObject>{row.expected}) << row.name;
    }
}

TEST_F(PlannerTest, OversizedRepliesAndRedirectsElsewhereEndPlanFailed) {
    const QString padding(int(steps::kMaxPlanReplyBytes), u'x');
    FakeMessagesApi huge([&padding](const RecordedRequest&) {
        return FakeMessagesApi::modelText(padding + QStringLiteral(R"({"steps":[]})"));
    });
    FakeMessagesApi elsewhere(
        [](const RecordedRequest&) { return FakeMessagesApi::modelText(QStringLiteral("{\"steps\":[]}")); });
    FakeMessagesApi redirecting([&elsewhere](const RecordedRequest&) {
        return FakeReply{307, {}, false, "Location: " + elsewhere.baseUrl().toUtf8() + "/v1/messages\r\n"};
    });
    for (const FakeMessagesApi* api : {&huge, &redirecting}) {
        steps::Planner planner(environment, at(*api));
        Results results;
        planner.planWithClaude(QStringLiteral("x"), results.completion());
        ASSERT_TRUE(results.waitFor(1));
        EXPECT_EQ(results.all(), QList<QJsonObject>{failed("plan_failed")})
            << (api == &huge ? "huge" : "redirect");
    }
    EXPECT_TRUE(elsewhere.requests().isEmpty()) << "the key went to another host";
}

TEST_F(PlannerTest, UnreachableOrSilentApiEndsPlanFailed) {
    quint16 closedPort = 0;
    {
        FakeMessagesApi gone([](const RecordedRequest&) { return FakeReply{}; });
        closedPort = gone.port();
    }
    FakeMessagesApi silent([](const RecordedRequest&) { return FakeReply{200, {}, true, {}}; });
    steps::Planner refused(environment, {QStringLiteral("http://127.0.0.1:") + QString::number(closedPort),
                                         std::chrono::seconds(10)});
    steps::Planner waiting(environment, at(silent, std::chrono::seconds(1)));
    Results results;
    refused.planWithClaude(QStringLiteral("x"), results.completion());
    waiting.planWithClaude(QStringLiteral("x"), results.completion());
    ASSERT_TRUE(results.waitFor(2, std::chrono::seconds(15)));
    EXPECT_EQ(results.all(), (QList<QJsonObject>{failed("plan_failed"), failed("plan_failed")}));
    EXPECT_EQ(silent.requests().size(), 1);
}

TEST_F(PlannerTest, FivePlansFromThreadsWithoutEventLoopsAreInFlightAtOnce) {
    // Replies are held until all five requests have arrived: a planner that sent them one at a
    // time would never be answered.
    FakeMessagesApi api(
        [](const RecordedRequest& request) {
            const QString intent = request.json().value(u"messages")[0][QStringLiteral("content")].toString();
            return FakeMessagesApi::modelText(QStringLiteral(R"({"steps":[{"type":"shortcut","value":")") +
                                              intent + QStringLiteral(R"("}]})"));
        },
        5);
    steps::Planner planner(environment, at(api));
    Results results;
    std::vector<std::thread> callers;
    const QStringList intents{QStringLiteral("Backup"), QStringLiteral("Focus"), QStringLiteral("Backup"),
                              QStringLiteral("Nope"), QStringLiteral("Focus")};
    for (const QString& intent : intents)
        callers.emplace_back(
            [&planner, &results, intent] { planner.planWithClaude(intent, results.completion()); });
    for (std::thread& caller : callers)
        caller.join();
    ASSERT_TRUE(results.waitFor(5));
    int withStep = 0;
    for (const QJsonObject& result : results.all()) {
        EXPECT_TRUE(result.value(u"ok").toBool());
        withStep += int(result.value(u"steps").toArray().size());
    }
    EXPECT_EQ(withStep, 4) << "the shortcut that does not exist is dropped";
    EXPECT_EQ(api.requests().size(), 5);
}

TEST_F(PlannerTest, PlansPendingWhenThePlannerGoesAwayEndExactlyOnce) {
    FakeMessagesApi silent([](const RecordedRequest&) { return FakeReply{200, {}, true, {}}; });
    Results results;
    {
        steps::Planner planner(environment, at(silent));
        planner.planWithClaude(QStringLiteral("x"), results.completion());
        ASSERT_TRUE(test::waitFor([&] { return silent.requests().size() == 1; }));
        planner.planWithClaude(QStringLiteral("y"), results.completion());
    }
    EXPECT_EQ(results.all(), (QList<QJsonObject>{failed("plan_failed"), failed("plan_failed")}));
}

} // namespace
