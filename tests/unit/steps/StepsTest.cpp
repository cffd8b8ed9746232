#include "steps/Steps.h"
#include "actions/platform/fake/FakePlatform.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace hb;

namespace {

QJsonObject object(const char* json) {
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

class StepsTest : public ::testing::Test {
  protected:
    actions::FakePlatform fake;
    actions::Platform platform = fake.platform();
    QSet<QString> allowed{QStringLiteral("Calculator"), QStringLiteral("Not Installed")};
    steps::StepEnvironment environment{[this] { return allowed; }, &platform};
};

struct GateCase {
    const char* name;
    const char* step;
    bool allowed;
};

const GateCase kGateCases[] = {
    {"allowed app", R"({"type":"app","value":"Calculator"})", true},
    {"type with capital refused", R"({"type":"App","value":"Calculator"})", false},
    {"installed app outside the allowed set", R"({"type":"app","value":"Files"})", false},
    {"app name compared exactly", R"({"type":"app","value":"calculator"})", false},
    {"number value app", R"({"type":"app","value":5})", false},
    {"number value url", R"({"type":"url","value":5})", false},
    {"number value gesture", R"({"type":"gesture","value":5})", false},
    {"null value", R"({"type":"shortcut","value":null})", false},
    {"array value", R"({"type":"app","value":["Calculator"]})", false},
    {"missing value", R"({"type":"url"})", false},
    {"missing type", R"({"value":"Calculator"})", false},
    {"type not text", R"({"type":1,"value":"Calculator"})", false},
    {"unknown type", R"({"type":"type","value":"hello"})", false},
    {"https address", R"({"type":"url","value":"https://example.com/a?b=c"})", true},
    {"scheme in capitals", R"({"type":"url","value":"HTTP://example.com"})", true},
    {"mailto refused", R"({"type":"url","value":"mailto:a@example.com"})", false},
    {"ftp refused", R"({"type":"url","value":"ftp://example.com/file"})", false},
    {"file refused", R"({"type":"url","value":"file:///etc/passwd"})", false},
    {"javascript refused", R"j({"type":"url","value":"javascript:history.back()"})j", false},
    {"bare host refused", R"({"type":"url","value":"example.com"})", false},
    {"host and port refused", R"({"type":"url","value":"example.com:8080"})", false},
    {"listed shortcut", R"({"type":"shortcut","value":"Backup"})", true},
    {"shortcut compared exactly", R"({"type":"shortcut","value":"backup"})", false},
    {"lock_screen gesture", R"({"type":"gesture","value":"lock_screen"})", true},
    {"lock is no gesture", R"({"type":"gesture","value":"lock"})", false},
    {"label missing is fine", R"({"type":"gesture","value":"spotlight"})", true},
    {"label of any kind ignored", R"({"type":"gesture","value":"spotlight","label":{"x":[1]}})", true},
    {"extra keys ignored", R"({"type":"app","value":"Calculator","colour":"red"})", true},
};

TEST_F(StepsTest, StepAllowedFollowsEachTypesRule) {
    for (const GateCase& row : kGateCases)
        EXPECT_EQ(steps::stepAllowed(object(row.step), environment), row.allowed) << row.name;
}

TEST_F(StepsTest, ListsOfShortcutsAndAppsAreReadAfreshOnEveryCheck) {
    const QJsonObject shortcut = object(R"({"type":"shortcut","value":"Backup"})");
    const QJsonObject app = object(R"({"type":"app","value":"Calculator"})");
    ASSERT_TRUE(steps::stepAllowed(shortcut, environment));
    ASSERT_TRUE(steps::stepAllowed(app, environment));
    fake.shortcuts = {QStringLiteral("Focus")};
    allowed.clear();
    EXPECT_FALSE(steps::stepAllowed(shortcut, environment));
    EXPECT_FALSE(steps::stepAllowed(app, environment));
}

TEST_F(StepsTest, RunStepDispatchesEachTypeToItsAction) {
    EXPECT_TRUE(steps::runStep(object(R"({"type":"app","value":"Calculator"})"), environment));
    EXPECT_TRUE(steps::runStep(object(R"({"type":"url","value":"https://example.com"})"), environment));
    EXPECT_TRUE(steps::runStep(object(R"({"type":"shortcut","value":"Focus"})"), environment));
    EXPECT_TRUE(steps::runStep(object(R"({"type":"gesture","value":"spotlight","label":"S"})"), environment));
    const QStringList expected{QStringLiteral("launchApp:Calculator"),
                               QStringLiteral("openURL:https://example.com"),
                               QStringLiteral("runShortcut:Focus"), QStringLiteral("runGesture:spotlight")};
    QStringList actions = fake.calls();
    actions.removeAll(QStringLiteral("listShortcuts"));
    EXPECT_EQ(actions, expected);
}

TEST_F(StepsTest, RunStepRefusesWithoutActingAndReportsTheActionsFailure) {
    EXPECT_FALSE(steps::runStep(object(R"({"type":"app","value":"Files"})"), environment));
    EXPECT_FALSE(steps::runStep(object(R"({"type":"url","value":"ftp://example.com"})"), environment));
    EXPECT_TRUE(fake.calls().isEmpty());

    // Allowed but not installed: passes the gate, the launch does not resolve.
    EXPECT_FALSE(steps::runStep(object(R"({"type":"app","value":"Not Installed"})"), environment));
    fake.actionsSucceed = false;
    EXPECT_FALSE(steps::runStep(object(R"({"type":"gesture","value":"spotlight"})"), environment));
    EXPECT_EQ(fake.calls(), (QStringList{QStringLiteral("launchApp:Not Installed"),
                                         QStringLiteral("runGesture:spotlight")}));
}

TEST_F(StepsTest, WithoutPlatformOrAppSetNothingPasses) {
    const steps::StepEnvironment empty;
    EXPECT_FALSE(steps::stepAllowed(object(R"({"type":"app","value":"Calculator"})"), empty));
    EXPECT_FALSE(steps::stepAllowed(object(R"({"type":"shortcut","value":"Backup"})"), empty));
    EXPECT_FALSE(steps::runStep(object(R"({"type":"gesture","value":"spotlight"})"), empty));
}

struct ListCase {
    const char* name;
    const char* body;
    int size;
};

const ListCase kListCases[] = {
    {"no steps member", R"({})", 0},
    {"empty array", R"({"steps":[]})", 0},
    {"not an array", R"({"steps":{"type":"app"}})", 0},
    {"text among objects", R"({"steps":[{"type":"app"},"app"]})", 0},
    {"null among objects", R"({"steps":[{},null]})", 0},
    {"objects kept whole", R"({"steps":[{"type":"app"},{"x":1}]})", 2},
};

TEST(StepList, TakesOnlyArraysOfObjects) {
    for (const ListCase& row : kListCases)
        EXPECT_EQ(steps::stepList(object(row.body)).size(), row.size) << row.name;
}

TEST_F(StepsTest, AListIsAcceptableOnlyWhenEveryStepIs) {
    const QJsonObject good = object(R"({"type":"gesture","value":"spotlight"})");
    const QJsonObject bad = object(R"({"type":"gesture","value":"lock"})");
    EXPECT_TRUE(steps::allStepsAllowed({}, environment));
    EXPECT_TRUE(steps::allStepsAllowed({good, good}, environment));
    EXPECT_FALSE(steps::allStepsAllowed({good, bad, good}, environment));
}

} // namespace
