// "/api/plan", "/api/run-plan" and "/api/flows" over real HTTP: answers, order and reloads.
// Which steps pass belongs to the steps' and planner's unit tests.
#include "store/Store.h"
#include "support/api/ApiHarness.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <thread>

using namespace hb::test;

namespace {

const char* const kApps = R"({"pages":[{"name":"Apps","tiles":[{"type":"app","value":"Calculator"},
                             {"type":"app","value":"Ghost"}]}],"settings":{}})";

class PlanEndpoints : public ::testing::Test {
  protected:
    void SetUp() override {
        qputenv("ANTHROPIC_API_KEY", "sk-e2e");
        ApiHarness::Options options;
        options.plannerBaseUrl = messages.url();
        harness = std::make_unique<ApiHarness>(options);
        harness->store().saveConfig(parsed(kApps));
        token = harness->pairToken();
        harness->fake().clearCalls();
    }
    void TearDown() override { qunsetenv("ANTHROPIC_API_KEY"); }
    RawResponse post(const char* path, const QByteArray& body) {
        return harness->request("POST", path, body, token);
    }
    QStringList actions() {
        QStringList calls = harness->fake().calls();
        calls.removeAll(QStringLiteral("listShortcuts"));
        return calls;
    }

    HttpServer messages{[](const HttpServer::Request&) {
        return modelText(
            QStringLiteral("Here:\n```json\n{\"steps\":[{\"type\":\"app\",\"value\":\"Calculator\"},"
                           "{\"type\":\"app\",\"value\":\"Terminal\"},"
                           "{\"type\":\"shortcut\",\"value\":\"Backup\"}]}\n```"));
    }};
    std::unique_ptr<ApiHarness> harness;
    QString token;
};

} // namespace

TEST_F(PlanEndpoints, PlanAnswersOnlyTheAllowedStepsAndRunsNothing) {
    const RawResponse planned = post("/api/plan", R"({"intent":"calculate and back up"})");
    EXPECT_EQ(planned.json(), parsed(R"({"ok":true,"steps":[{"type":"app","value":"Calculator"},
                                          {"type":"shortcut","value":"Backup"}]})"));
    EXPECT_TRUE(actions().isEmpty());
    messages.setAnswer([](const HttpServer::Request&) {
        HttpServer::Reply reply;
        reply.status = 500;
        return reply;
    });
    EXPECT_EQ(post("/api/plan", "{}").json(), parsed(R"({"ok":false,"error":"plan_failed"})"));
}

// Which lists pass is the steps' unit test; here a refused list answers 400 and runs nothing.
TEST_F(PlanEndpoints, RunPlanRunsAllOrNothing) {
    expectAnswer(post("/api/run-plan",
                      R"({"steps":[{"type":"app","value":"Calculator"},{"type":"app","value":"Files"}]})"),
                 400, parsed(R"({"ok":false,"error":"Invalid step"})"));
    EXPECT_TRUE(actions().isEmpty()) << actions().join(u',').toStdString();
}

TEST_F(PlanEndpoints, StepsRunInOrderWithAPauseWhileOtherRequestsAreServed) {
    // "Ghost" is allowed but not installed: its launch fails, the run goes on and counts it.
    RawResponse ran;
    qint64 elapsed = 0;
    std::atomic_bool finished{false};
    std::thread runner([&] {
        QElapsedTimer timer;
        timer.start();
        ran = post("/api/run-plan",
                   R"({"steps":[{"type":"app","value":"Ghost"},{"type":"shortcut","value":"Focus"},
                                       {"type":"url","value":"https://example.com/x"}]})");
        elapsed = timer.elapsed();
        finished = true;
    });
    ASSERT_TRUE(waitFor([&] { return !actions().isEmpty(); }));
    EXPECT_EQ(post("/api/run-plan", "{}").json(), parsed(R"({"ok":true,"ran":0})"));
    EXPECT_FALSE(finished.load()) << "another request waited for the run";
    runner.join();
    EXPECT_EQ(ran.json(), parsed(R"({"ok":true,"ran":3})"));
    EXPECT_GE(elapsed, 1200) << "0.4 s after each of the three steps";
    EXPECT_EQ(actions(), (QStringList{QStringLiteral("launchApp:Ghost"), QStringLiteral("runShortcut:Focus"),
                                      QStringLiteral("openURL:https://example.com/x")}));
}

TEST_F(PlanEndpoints, FlowsAreAddedAndRemovedWithAReloadAndRefusedWithout) {
    EventStream page(harness->port());
    ASSERT_TRUE(page.opened());
    expectAnswer(post("/api/flows", R"({"steps":[{"type":"url","value":"ftp://x"}]})"), 400,
                 parsed(R"({"ok":false,"error":"Invalid flow"})"));
    const QByteArray large = R"({"steps":[{"type":"app","value":"Calculator"}],"label":")" +
                             QByteArray(hb::store::kMaxFlowBytes, 'a') + "\"}";
    expectAnswer(post("/api/flows", large), 400,
                 parsed(R"x({"ok":false,"error":"Flow too large (at most 32 KiB)"})x"));
    EXPECT_EQ(post("/api/flows", R"({"steps":[{"type":"app","value":"Calculator"}]})").json(),
              parsed(R"({"ok":true})"));
    EXPECT_TRUE(page.waitForReloads(1));
    EXPECT_TRUE(harness->store()
                    .snapshotConfig()
                    .value(QStringLiteral("pages"))
                    .toArray()
                    .last()[QStringLiteral("name")] == QStringLiteral("Flows"));
    EXPECT_EQ(harness->request("DELETE", "/api/flows", R"({"label":"Flow"})", token).json(),
              parsed(R"({"ok":true})"));
    EXPECT_TRUE(page.waitForReloads(2));
    EXPECT_EQ(harness->reloads(), 2) << "the refused flows sent no reload";
}
