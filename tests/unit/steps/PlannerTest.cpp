// The planner: the Messages API request it sends (to a loopback HttpServer), how it reads
// replies into a result, its prompt, failures and concurrency.
#include "steps/Planner.h"
#include "actions/platform/fake/FakePlatform.h"
#include "support/TestSupport.h"

#include <QMutex>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace hb;
using test::HttpServer;
using test::modelText;
using test::parsed;

namespace {

/// Collects completions from whatever thread calls them.
struct Results {
    QMutex mutex;
    QList<QJsonObject> list;
    std::atomic<int> count = 0;
    steps::Planner::Completion completion() {
        return [this](const QJsonObject& result) {
            QMutexLocker lock(&mutex);
            list.append(result);
            ++count;
        };
    }
    QList<QJsonObject> waitFor(int wanted) {
        test::waitFor([&] { return count >= wanted; }, std::chrono::seconds(15));
        QMutexLocker lock(&mutex);
        return list;
    }
};

const QJsonObject kPlanFailed = parsed(R"({"ok":false,"error":"plan_failed"})");
const QJsonObject kParseFailed = parsed(R"({"ok":false,"error":"parse_failed"})");
const QJsonObject kNoSteps = parsed(R"({"ok":true,"steps":[]})");

class PlannerTest : public ::testing::Test {
  protected:
    void SetUp() override { qputenv("ANTHROPIC_API_KEY", "sk-test-1"); }
    void TearDown() override {
        qunsetenv("ANTHROPIC_API_KEY");
        qunsetenv("ANTHROPIC_BASE_URL");
    }
    actions::FakePlatform fake;
    actions::Platform platform = fake.platform();
    const QSet<QString> apps{QStringLiteral("Text Editor"), QStringLiteral("Calculator"),
                             QStringLiteral("\U0001F600 Smile"), QStringLiteral("\uFF01 Bang"),
                             QStringLiteral("calc")};
    steps::StepEnvironment environment{[this] { return apps; }, &platform};
};

} // namespace

// Catches: a request of the wrong shape, steps the gate refuses handed on, key or base address
// read once instead of on every call, a request sent without a key, application names sorted by
// UTF-16 unit (which puts an emoji, a surrogate pair, before U+FF01).
TEST_F(PlannerTest, SendsTheMessagesRequestAndHandsOnOnlyAllowedSteps) {
    HttpServer api([](const HttpServer::Request&) {
        return modelText(
            QStringLiteral("Here is the plan:\n```json\n{\"steps\":[{\"type\":\"app\",\"value\":"
                           "\"Calculator\",\"label\":\"Calc\"},{\"type\":\"app\",\"value\":\"Files\"},"
                           "{\"type\":\"gesture\",\"value\":\"show_desktop\"}]}\n```"));
    });
    steps::Planner planner(environment); // no base in the options: ANTHROPIC_BASE_URL decides
    qputenv("ANTHROPIC_BASE_URL", (api.url() + u'/').toUtf8());
    Results results;
    const QString intent = QStringLiteral("  open the calculator \u00E9\U0001F600 ");
    planner.planWithClaude(intent, results.completion());
    EXPECT_EQ(results.waitFor(1).value(0), parsed(R"({"ok":true,"steps":[
        {"type":"app","value":"Calculator","label":"Calc"},{"type":"gesture","value":"show_desktop"}]})"));
    qputenv("ANTHROPIC_API_KEY", "sk-test-2");
    qputenv("ANTHROPIC_BASE_URL", api.url(QStringLiteral("/proxy")).toUtf8());
    planner.planWithClaude(intent, results.completion());
    results.waitFor(2);
    qputenv("ANTHROPIC_API_KEY", "");
    QList<QJsonObject> seen; // answered on the calling thread, before returning
    planner.planWithClaude(intent, [&seen](const QJsonObject& result) { seen.append(result); });
    EXPECT_EQ(seen, QList<QJsonObject>{parsed(R"({"ok":false,"error":"no_key"})")});

    ASSERT_EQ(api.requests().size(), 2);
    const HttpServer::Request request = api.requests().value(0);
    EXPECT_EQ(request.method + ' ' + request.target, "POST /v1/messages");
    EXPECT_EQ(request.headers.value("x-api-key"), "sk-test-1");
    EXPECT_EQ(api.requests().value(1).headers.value("x-api-key"), "sk-test-2");
    EXPECT_EQ(api.requests().value(1).target, "/proxy/v1/messages");
    EXPECT_EQ(request.headers.value("anthropic-version"), "2023-06-01");
    EXPECT_EQ(request.headers.value("content-type"), "application/json");
    QJsonObject body = request.json();
    const QString system = body.take(u"system").toString();
    EXPECT_EQ(body, parsed(R"({"model":"claude-opus-4-8","max_tokens":1024,
        "messages":[{"role":"user","content":"  open the calculator \u00e9\ud83d\ude00 "}]})"));
    EXPECT_TRUE(system.contains(
        u"Valid apps: Calculator, Text Editor, calc, \uFF01 Bang, \U0001F600 Smile.\nValid shortcuts: " +
        fake.shortcuts.join(QStringLiteral(", ")) + u".\nValid gestures: minimize, hide_others,"))
        << system.toStdString();
}

TEST_F(PlannerTest, ReadsTheReplyBodyIntoAResult) {
    const auto text = [](const char* t) { return modelText(QString::fromUtf8(t)).body; };
    const std::pair<QByteArray, QJsonObject> rows[] = {
        {R"({"content":[{"type":"tool_use"},{"type":"text","text":"{\"steps\":[]}"}]})", kNoSteps},
        // only the first text block is read
        {R"({"content":[{"type":"text","text":"hmm"},{"type":"text","text":"{\"steps\":[]}"}]})",
         kParseFailed},
        {text("} no plan {"), kParseFailed},
        {text(R"({"steps":["open calculator"]})"), kParseFailed},
        {R"({"type":"error","error":{"type":"overloaded_error"}})", kPlanFailed},
        {"<html>Bad Gateway</html>", kPlanFailed},
    };
    for (const auto& [body, expected] : rows)
        EXPECT_EQ(steps::planResultFromBody(body, environment), expected) << body.constData();
}

// Catches: a failure left unanswered or answered twice, the key followed to another host, an
// unbounded reply read whole, an error status discarding a plan, plans left pending when the
// planner goes away.
TEST_F(PlannerTest, FailuresOverHttpEndThePlanOnce) {
    HttpServer elsewhere;
    const struct {
        const char* name;
        HttpServer::Reply reply;
        QJsonObject expected;
    } rows[] = {
        {"plan with status 500", modelText(QStringLiteral(R"({"steps":[]})"), 500), kNoSteps},
        {"oversized reply",
         modelText(QString(int(steps::kMaxPlanReplyBytes), u'x') + QStringLiteral(R"({"steps":[]})")),
         kPlanFailed},
        {"redirect elsewhere",
         {307, {}, "application/json", "Location: " + elsewhere.url().toUtf8() + "/v1/messages\r\n"},
         kPlanFailed},
        {"no answer within the time-out", {200, {}, "application/json", {}, true}, kPlanFailed},
    };
    for (const auto& row : rows) {
        HttpServer api([&row](const HttpServer::Request&) { return row.reply; });
        steps::Planner planner(environment, {api.url(), std::chrono::seconds(1)});
        Results results;
        planner.planWithClaude(QStringLiteral("x"), results.completion());
        EXPECT_EQ(results.waitFor(1), QList<QJsonObject>{row.expected}) << row.name;
    }
    EXPECT_TRUE(elsewhere.requests().isEmpty()) << "the key went to another host";

    HttpServer silent([](const HttpServer::Request&) {
        return HttpServer::Reply{200, {}, "application/json", {}, true};
    });
    Results results;
    {
        steps::Planner refused(environment, {QStringLiteral("http://127.0.0.1:%1").arg(test::freePort())});
        steps::Planner pending(environment, {silent.url()});
        refused.planWithClaude(QStringLiteral("x"), results.completion());
        pending.planWithClaude(QStringLiteral("x"), results.completion());
        ASSERT_TRUE(test::waitFor([&] { return silent.requests().size() == 1; }));
        pending.planWithClaude(QStringLiteral("y"), results.completion());
        results.waitFor(1);
    }
    EXPECT_EQ(results.waitFor(3), QList<QJsonObject>(3, kPlanFailed));
}

// Replies are held until all five requests arrived: plans sent one at a time never end.
TEST_F(PlannerTest, FivePlansFromThreadsWithoutEventLoopsAreInFlightAtOnce) {
    HttpServer api([](const HttpServer::Request&) { return modelText(QStringLiteral("{\"steps\":[]}")); }, 5);
    steps::Planner planner(environment, {api.url()});
    Results results;
    std::vector<std::thread> callers;
    for (int i = 0; i < 5; ++i)
        callers.emplace_back([&] { planner.planWithClaude(QStringLiteral("x"), results.completion()); });
    for (std::thread& caller : callers)
        caller.join();
    EXPECT_EQ(results.waitFor(5), QList<QJsonObject>(5, kNoSteps));
}
