#include "actions/platform/fake/FakePlatform.h"
#include "steps/Planner.h"
#include "unit/steps/JsonPrinting.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace hb;

namespace {

/// A Messages API body whose content blocks are the given JSON fragments.
QByteArray reply(const QByteArray& content) {
    return R"({"id":"msg_1","type":"message","role":"assistant","content":)" + content + "}";
}

/// One text block carrying `text` (JSON-escaped here).
QByteArray textBlock(const QString& text) {
    return QJsonDocument(
               QJsonObject{{QStringLiteral("type"), QStringLiteral("text")}, {QStringLiteral("text"), text}})
        .toJson(QJsonDocument::Compact);
}

QByteArray textReply(const QString& text) {
    return reply("[" + textBlock(text) + "]");
}

struct BodyCase {
    const char* name;
    QByteArray body;
    const char* expected; // the whole planner result, as JSON
};

class PlanResultTest : public ::testing::Test {
  protected:
    actions::FakePlatform fake;
    actions::Platform platform = fake.platform();
    steps::StepEnvironment environment{[] { return QSet<QString>{QStringLiteral("Calculator")}; }, &platform};
};

TEST_F(PlanResultTest, ReadsTheReplyBodyIntoAResult) {
    const QString spotlight = QStringLiteral(R"({"type":"gesture","value":"spotlight"})");
    const QString nine = QStringLiteral(R"({"steps":[)") + QStringList(9, spotlight).join(u',') + u"]}";
    const BodyCase cases[] = {
        {"plain object", textReply(QStringLiteral(R"({"steps":[{"type":"app","value":"Calculator"}]})")),
         R"({"ok":true,"steps":[{"type":"app","value":"Calculator"}]})"},
        {"prose and code fence around the object",
         textReply(QStringLiteral("Sure! Here you go:\n```json\n{\"steps\":[{\"type\":\"gesture\",\"value\":"
                                  "\"spotlight\",\"label\":\"Search\"}]}\n```\nEnjoy.")),
         R"({"ok":true,"steps":[{"type":"gesture","value":"spotlight","label":"Search"}]})"},
        {"refused steps dropped, order and extra members kept",
         textReply(QStringLiteral(
             R"({"steps":[{"type":"app","value":"Files"},{"type":"url","value":"ftp://x.org"},)"
             R"({"type":"shortcut","value":"Focus","why":1},{"type":"app","value":"Calculator"}]})")),
         R"({"ok":true,"steps":[{"type":"shortcut","value":"Focus","why":1},{"type":"app","value":"Calculator"}]})"},
        {"every step refused is an empty plan",
         textReply(QStringLiteral(R"({"steps":[{"type":"app","value":"x"}]})")), R"({"ok":true,"steps":[]})"},
        {"empty steps", textReply(QStringLiteral(R"({"steps":[]})")), R"({"ok":true,"steps":[]})"},
        {"non-text block first",
         reply(R"([{"type":"tool_use","id":"t","name":"x","input":{}},)" +
               textBlock(QStringLiteral(R"({"steps":[{"type":"gesture","value":"minimize"}]})")) + "]"),
         R"({"ok":true,"steps":[{"type":"gesture","value":"minimize"}]})"},
        {"only the first text block is read",
         reply("[" + textBlock(QStringLiteral("thinking...")) + "," +
               textBlock(QStringLiteral(R"({"steps":[]})")) + "]"),
         R"({"ok":false,"error":"parse_failed"})"},
        {"two objects side by side", textReply(QStringLiteral(R"({"steps":[]} {"steps":[]})")),
         R"({"ok":false,"error":"parse_failed"})"},
        {"last brace before the first", textReply(QStringLiteral("} no plan {")),
         R"({"ok":false,"error":"parse_failed"})"},
        {"lone closing brace", textReply(QStringLiteral("}")), R"({"ok":false,"error":"parse_failed"})"},
        {"no brace at all", textReply(QStringLiteral("I cannot help with that.")),
         R"({"ok":false,"error":"parse_failed"})"},
        {"object without steps", textReply(QStringLiteral(R"({"plan":[]})")),
         R"({"ok":false,"error":"parse_failed"})"},
        {"steps holding text", textReply(QStringLiteral(R"({"steps":["open calculator"]})")),
         R"({"ok":false,"error":"parse_failed"})"},
        {"steps not an array", textReply(QStringLiteral(R"({"steps":{"type":"app"}})")),
         R"({"ok":false,"error":"parse_failed"})"},
        {"cut text not JSON", textReply(QStringLiteral("{steps: [oops]}")),
         R"({"ok":false,"error":"parse_failed"})"},
        {"error body", R"({"type":"error","error":{"type":"overloaded_error","message":"Overloaded"}})",
         R"({"ok":false,"error":"plan_failed"})"},
        {"empty body", "", R"({"ok":false,"error":"plan_failed"})"},
        {"body not JSON", "<html>Bad Gateway</html>", R"({"ok":false,"error":"plan_failed"})"},
        {"body an array", "[1,2]", R"({"ok":false,"error":"plan_failed"})"},
        {"empty content", reply("[]"), R"({"ok":false,"error":"plan_failed"})"},
        {"content not an array", reply(R"({"text":"{}"})"), R"({"ok":false,"error":"plan_failed"})"},
        {"content holding text", reply(R"(["{\"steps\":[]}"])"), R"({"ok":false,"error":"plan_failed"})"},
        {"no text in any block", reply(R"([{"type":"image"},{"type":"text","text":7}])"),
         R"({"ok":false,"error":"plan_failed"})"},
    };
    for (const BodyCase& row : cases) {
        const QJsonObject expected = QJsonDocument::fromJson(row.expected).object();
        EXPECT_EQ(steps::planResultFromBody(row.body, environment), expected) << row.name;
    }
    const QJsonObject all = steps::planResultFromBody(textReply(nine), environment);
    EXPECT_EQ(all.value(u"steps").toArray().size(), 9) << "no limit on the number of steps";
}

TEST(SystemPrompt, IsTheExactTextForTheThreeLists) {
    const QString expected = QStringLiteral(
        "You plan a short, ordered sequence of desktop actions from the user's intent. Reply with ONLY a "
        "JSON "
        "object of the form {\"steps\":[{\"type\":\"app|url|shortcut|gesture\",\"value\":\"...\",\"label\":"
        "\"...\"}]}.\nValid apps: Calculator, Files.\nValid shortcuts: Zeta, Alpha.\nValid gestures: "
        "minimize, "
        "hide_others, mission_control, app_windows, show_desktop, spotlight, lock_screen, launchpad.\nFor "
        "\"url\" "
        "steps, value is a full https URL. Only use items from those lists. Max 6 steps.");
    const QStringList gestures{QStringLiteral("minimize"),        QStringLiteral("hide_others"),
                               QStringLiteral("mission_control"), QStringLiteral("app_windows"),
                               QStringLiteral("show_desktop"),    QStringLiteral("spotlight"),
                               QStringLiteral("lock_screen"),     QStringLiteral("launchpad")};
    EXPECT_EQ(steps::systemPrompt({QStringLiteral("Calculator"), QStringLiteral("Files")},
                                  {QStringLiteral("Zeta"), QStringLiteral("Alpha")}, gestures),
              expected);
}

TEST(SystemPrompt, AnEmptyListLeavesItsHeadingFollowedByTheFullStop) {
    const QString expected = QStringLiteral(
        "You plan a short, ordered sequence of desktop actions from the user's intent. Reply with ONLY a "
        "JSON "
        "object of the form {\"steps\":[{\"type\":\"app|url|shortcut|gesture\",\"value\":\"...\",\"label\":"
        "\"...\"}]}.\nValid apps: .\nValid shortcuts: .\nValid gestures: .\nFor \"url\" steps, value is a "
        "full "
        "https URL. Only use items from those lists. Max 6 steps.");
    EXPECT_EQ(steps::systemPrompt({}, {}, {}), expected);
}

TEST(SortedByCodePoint, OrdersCharactersBeyondTheBasicPlaneLast) {
    // UTF-16 unit order would put the emoji (a surrogate pair, 0xD83D...) before U+FF01.
    const QString emoji = QStringLiteral("\U0001F600 Smile");
    const QString fullwidth = QStringLiteral("\uFF01 Bang");
    const QStringList sorted = steps::sortedByCodePoint(
        {emoji, fullwidth, QStringLiteral("b"), QStringLiteral("B"), QStringLiteral("\u00C4rger")});
    EXPECT_EQ(sorted, (QStringList{QStringLiteral("B"), QStringLiteral("b"), QStringLiteral("\u00C4rger"),
                                   fullwidth, emoji}));
}

} // namespace
