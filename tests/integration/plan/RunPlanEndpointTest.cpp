#include "PlanTestSupport.h"

#include <atomic>
#include <thread>

using namespace hb;
using namespace hb::test;

namespace {

class RunPlanEndpointTest : public ::testing::Test {
  protected:
    void SetUp() override {
        harness.store().saveConfig(configWithApps());
        token = harness.pairToken();
        ASSERT_FALSE(token.isEmpty());
        harness.fake().clearCalls();
    }

    RawResponse runPlan(const QByteArray& body) {
        return harness.request("POST", "/api/run-plan", body, token);
    }

    /// The actions the fake was asked to perform, without the shortcut listings of the checks.
    QStringList actions() {
        QStringList calls = harness.fake().calls();
        calls.removeAll(QStringLiteral("listShortcuts"));
        return calls;
    }

    ApiHarness harness;
    QString token;
};

TEST_F(RunPlanEndpointTest, AnyRefusedStepRunsNothing) {
    const char* const refused[] = {
        R"({"type":"App","value":"Calculator"})",
        R"({"type":"app","value":5})",
        R"({"type":"app","value":"Files"})",
        R"({"type":"url","value":"ftp://example.com"})",
        R"({"type":"url","value":"example.com"})",
        R"({"type":"url","value":"file:///etc/passwd"})",
        R"({"type":"shortcut","value":"Missing"})",
        R"({"type":"gesture","value":"lock"})",
        R"({"value":"spotlight"})",
        R"({"type":"gesture"})",
        R"({"type":"gesture","value":null})",
        R"({"type":"run","value":"rm -rf /"})",
    };
    for (const char* step : refused) {
        const QByteArray body = QByteArray(R"({"steps":[{"type":"gesture","value":"spotlight"},)") + step +
                                R"(,{"type":"app","value":"Calculator"}]})";
        const RawResponse response = runPlan(body);
        EXPECT_EQ(response.status, 400) << step;
        EXPECT_EQ(response.json(), parsedObject(R"({"ok":false,"error":"Invalid step"})")) << step;
    }
    EXPECT_TRUE(actions().isEmpty()) << actions().join(u',').toStdString();
}

TEST_F(RunPlanEndpointTest, ListsThatAreNotArraysOfObjectsRunNothingAndSucceed) {
    const QByteArray bodies[] = {R"({"steps":[]})", "{}", "not json", R"({"steps":"spotlight"})",
                                 R"({"steps":[{"type":"gesture","value":"spotlight"},"spotlight"]})"};
    for (const QByteArray& body : bodies) {
        const RawResponse response = runPlan(body);
        EXPECT_EQ(response.status, 200) << body.constData();
        EXPECT_EQ(response.json(), parsedObject(R"({"ok":true,"ran":0})")) << body.constData();
    }
    EXPECT_TRUE(actions().isEmpty());
}

TEST_F(RunPlanEndpointTest, StepsRunInOrderWithAPauseAfterEachWhileOtherRequestsAreServed) {
    // "Ghost" is allowed but not installed: its launch fails, the run goes on and counts it.
    const QByteArray body = R"({"steps":[{"type":"app","value":"Ghost"},{"type":"shortcut","value":"Focus"},
                                         {"type":"url","value":"https://example.com/x"}]})";
    std::atomic_bool finished{false};
    RawResponse ran;
    qint64 elapsed = 0;
    std::thread runner([&] {
        QElapsedTimer timer;
        timer.start();
        ran = runPlan(body);
        elapsed = timer.elapsed();
        finished = true;
    });
    ASSERT_TRUE(waitFor([&] { return !actions().isEmpty(); }));
    const RawResponse meanwhile = runPlan("{}");
    const bool answeredDuringRun = !finished;
    runner.join();

    EXPECT_EQ(meanwhile.json(), parsedObject(R"({"ok":true,"ran":0})"));
    EXPECT_TRUE(answeredDuringRun) << "another request waited for the run";
    EXPECT_EQ(ran.json(), parsedObject(R"({"ok":true,"ran":3})"));
    EXPECT_GE(elapsed, 1200) << "0.4 s after each of the three steps";
    EXPECT_EQ(actions(), (QStringList{QStringLiteral("launchApp:Ghost"), QStringLiteral("runShortcut:Focus"),
                                      QStringLiteral("openURL:https://example.com/x")}));
}

} // namespace
