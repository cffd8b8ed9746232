// The step gate, step lists and running steps: the one owner of these rules.
#include "steps/Steps.h"
#include "actions/platform/fake/FakePlatform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace hb;
using hb::test::parsed;

namespace {

class StepsTest : public ::testing::Test {
  protected:
    actions::FakePlatform fake;
    actions::Platform platform = fake.platform();
    QSet<QString> allowed{QStringLiteral("Calculator"), QStringLiteral("Not Installed")};
    steps::StepEnvironment environment{[this] { return allowed; }, &platform};
};

} // namespace

TEST_F(StepsTest, StepAllowedFollowsEachTypesRule) {
    const std::pair<const char*, bool> rows[] = {
        {R"({"type":"app","value":"Calculator","colour":"red","label":{"x":1}})", true},
        {R"({"type":"App","value":"Calculator"})", false},
        {R"({"type":"app","value":"Files"})", false}, // installed, not on a tile
        {R"({"type":"app","value":"calculator"})", false},
        {R"({"type":"app","value":["Calculator"]})", false},
        {R"({"type":"type","value":"hello"})", false},
        {R"({"type":"url","value":"HTTP://example.com"})", true},
        {R"({"type":"url","value":"file:///etc/passwd"})", false},
        {R"({"type":"url","value":"example.com:8080"})", false},
        {R"({"type":"shortcut","value":"Backup"})", true},
        {R"({"type":"shortcut","value":"backup"})", false},
        {R"({"type":"gesture","value":"lock_screen"})", true},
        {R"({"type":"gesture","value":"lock"})", false},
    };
    for (const auto& [step, accepted] : rows)
        EXPECT_EQ(steps::stepAllowed(parsed(step), environment), accepted) << step;
    EXPECT_FALSE(
        steps::stepAllowed(parsed(R"({"type":"app","value":"Calculator"})"), steps::StepEnvironment{}));
    fake.shortcuts = {QStringLiteral("Focus")}; // the lists are read afresh on every check
    allowed.clear();
    EXPECT_FALSE(steps::stepAllowed(parsed(rows[0].first), environment));
    EXPECT_FALSE(steps::stepAllowed(parsed(rows[9].first), environment));
}

TEST_F(StepsTest, RunStepActsOnlyOnAllowedStepsAndReportsTheActionsResult) {
    EXPECT_TRUE(steps::runStep(parsed(R"({"type":"app","value":"Calculator"})"), environment));
    EXPECT_TRUE(steps::runStep(parsed(R"({"type":"url","value":"https://example.com"})"), environment));
    EXPECT_TRUE(steps::runStep(parsed(R"({"type":"shortcut","value":"Focus"})"), environment));
    EXPECT_FALSE(steps::runStep(parsed(R"({"type":"app","value":"Files"})"), environment));
    EXPECT_FALSE(steps::runStep(parsed(R"({"type":"app","value":"Not Installed"})"), environment));
    fake.actionsSucceed = false;
    EXPECT_FALSE(steps::runStep(parsed(R"({"type":"gesture","value":"spotlight"})"), environment));
    QStringList actions = fake.calls();
    actions.removeAll(QStringLiteral("listShortcuts"));
    EXPECT_EQ(
        actions,
        (QStringList{QStringLiteral("launchApp:Calculator"), QStringLiteral("openURL:https://example.com"),
                     QStringLiteral("runShortcut:Focus"), QStringLiteral("launchApp:Not Installed"),
                     QStringLiteral("runGesture:spotlight")}));
}

TEST_F(StepsTest, ListsAreArraysOfObjectsAcceptableOnlyWhenEveryStepIs) {
    const std::pair<const char*, int> rows[] = {{R"({})", 0},
                                                {R"({"steps":{"type":"app"}})", 0},
                                                {R"({"steps":[{},null]})", 0},
                                                {R"({"steps":[{"type":"app"},{"x":1}]})", 2}};
    for (const auto& [body, size] : rows)
        EXPECT_EQ(steps::stepList(parsed(body)).size(), size) << body;
    const QJsonObject good = parsed(R"({"type":"gesture","value":"spotlight"})");
    const QJsonObject bad = parsed(R"({"type":"gesture","value":"lock"})");
    EXPECT_TRUE(steps::allStepsAllowed({}, environment));
    EXPECT_FALSE(steps::allStepsAllowed({good, bad, good}, environment));
}
