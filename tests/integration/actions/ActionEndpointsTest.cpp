// The action, pointer, key and plan endpoints over real HTTP against the recording FakePlatform:
// which calls each request makes, in which order, and the answer it gets. Token gates belong to
// the gate table; which requests and steps pass, to the input commands', steps' and planner's unit tests.
#include "store/Store.h"
#include "support/api/ApiHarness.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <thread>

using namespace Qt::StringLiterals;
using namespace hb::test;

namespace {

class ActionEndpoints : public ::testing::Test {
  protected:
    void SetUp() override {
        qputenv("ANTHROPIC_API_KEY", "sk-e2e");
        ApiHarness::Options options;
        options.plannerBaseUrl = messages.url();
        options.customize = [](hb::api::Context& context) {
            context.heldButtons->limit = std::chrono::milliseconds(200);
        };
        api = std::make_unique<ApiHarness>(options);
        api->store().saveConfig(
            parsed(R"({"pages":[{"name":"Apps","tiles":[{"type":"app","value":"Calculator"},
                                           {"type":"app","value":"Ghost"}]}],"settings":{}})"));
        token = api->pairToken();
        api->fake().clearCalls();
    }
    void TearDown() override { qunsetenv("ANTHROPIC_API_KEY"); }
    RawResponse post(const char* path, const QByteArray& body) {
        return api->remote("POST", path, body, token);
    }
    /// The calls made so far, without the shortcut listings the step gate makes.
    QStringList calls() {
        QStringList calls = api->fake().calls();
        calls.removeAll(u"listShortcuts"_s);
        return calls;
    }

    HttpServer messages{[](const HttpServer::Request&) {
        return modelText(u"{\"steps\":[{\"type\":\"app\",\"value\":\"Calculator\"}]}"_s);
    }};
    std::unique_ptr<ApiHarness> api;
    QString token;
};

} // namespace

TEST_F(ActionEndpoints, EachRequestMakesItsOneCallAndAnswersItsResult) {
    const struct {
        const char* path;
        const char* body;
        const char* call; // "" = no call at all
        const char* answer;
    } rows[] = {
        {"/api/launch", R"({"app":"Calculator"})", "launchApp:Calculator", R"({"ok":true})"},
        {"/api/launch", R"({"app":"calculator"})", "", R"({"ok":false})"},
        {"/api/shortcut", R"({"name":"A","value":"B"})", "runShortcut:A", R"({"ok":true})"},
        {"/api/shortcut", R"({"name":5,"value":"B"})", "runShortcut:B", R"({"ok":true})"},
        {"/api/gesture", R"({"value":"mission_control","action":"spotlight"})", "runGesture:mission_control",
         R"({"ok":true})"},
        {"/api/gesture", R"({"value":"no_such_gesture"})", "runGesture:no_such_gesture", R"({"ok":false})"},
        {"/api/url", R"({"url":"HTTPS://example.com/a?b=c"})", "openURL:HTTPS://example.com/a?b=c",
         R"({"ok":true})"},
        {"/api/url", R"({"url":"mailto:a@b.c"})", "openURL:mailto:a@b.c", R"({"ok":false})"},
        {"/api/media", R"({"action":"next"})", "mediaAction:next", R"({"ok":true})"},
        {"/api/system", R"({"action":"reboot"})", "systemAction:reboot", R"({"ok":false})"},
        {"/api/clipboard", R"({"text":"Hé €😀"})", "setClipboard:Hé €😀", R"({"ok":true})"},
        {"/api/type", R"({"text":"hello\nworld"})", "typeText:hello\nworld", R"({"ok":true})"},
        {"/api/volume", R"({"muted":true,"level":10})", "setMuted:true", R"({"ok":true,"muted":true})"},
        {"/api/volume", R"({"level":150})", "setVolume:100", R"({"ok":true,"level":100})"},
        {"/api/volume", R"({"level":33.9})", "setVolume:33", R"({"ok":true,"level":33})"},
        {"/api/volume", R"({"level":"70"})", "setVolume:50", R"({"ok":true,"level":50})"},
    };
    for (const auto& row : rows) {
        api->fake().clearCalls();
        expectAnswer(post(row.path, row.body), 200, row.answer);
        const QString call = QString::fromUtf8(row.call);
        EXPECT_EQ(api->fake().calls(), call.isEmpty() ? QStringList() : QStringList{call}) << row.body;
    }
}

// Faults: the volume set by a read; input refused by the desktop answered without the hint the
// phone shows; a refused pointer or key request reaching the desktop, or refused without a 400 and
// an error; icons found loosely or answered with a body when missing; the shortcut list's shape.
TEST_F(ActionEndpoints, ReadsRefusalsAndIcons) {
    for (const auto& [path, body] :
         {std::pair{"/api/key", R"({"key": "XF86PowerOff"})"}, {"/api/pointer", R"({"dx": "1e9"})"}}) {
        const RawResponse answer = post(path, body);
        EXPECT_EQ(answer.status, 400) << body;
        EXPECT_EQ(answer.json()[u"ok"], false) << body;
        EXPECT_FALSE(answer.json()[u"error"].toString().isEmpty()) << body;
    }
    EXPECT_TRUE(api->fake().calls().isEmpty()) << api->fake().calls().join(u' ').toStdString();

    api->fake().volume = 40;
    api->fake().muted = true;
    expectAnswer(api->remote("PUT", "/api/volume", R"({"level":90})", token), 200,
                 R"({"ok":true,"level":40,"muted":true})");
    api->fake().trusted = false;
    api->fake().actionsSucceed = false;
    const QJsonObject refused{{u"ok"_s, false}, {u"error"_s, api->fake().accessHint()}};
    for (const char* path : {"/api/gesture", "/api/media", "/api/type"})
        EXPECT_EQ(post(path, R"({"value":"spotlight","action":"play","text":"hi"})").json(), refused) << path;
    expectAnswer(post("/api/clipboard", R"({"text":"hi"})"), 200, R"({"ok":false})");

    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + "data";
    api->fake().setIcon(u"Text Editor"_s, png);
    const RawResponse icon = api->remote("GET", "/api/icon?other=1&app=Text%20Editor");
    EXPECT_EQ(icon.headers.value(u"content-type"_s), u"image/png"_s);
    EXPECT_EQ(icon.body, png);
    for (const char* target : {"/api/icon", "/api/icon?name=Text%20Editor"}) {
        const RawResponse missing = api->remote("GET", target);
        EXPECT_EQ(missing.status, 404) << target;
        EXPECT_EQ(missing.raw.right(4), QByteArray("\r\n\r\n")) << "an empty 404: " << target;
    }
    EXPECT_EQ(api->request("GET", "/api/shortcuts").body, R"({"ok":true,"shortcuts":["Backup","Focus"]})");
}

// Faults: a button left held when the phone drops off after "down", a long drag cut short while
// the phone still moves, and a release sent although the phone did release it.
TEST_F(ActionEndpoints, AHeldButtonIsReleasedByTheAgentOnceThePhoneFallsSilent) {
    const QString release = u"pointer:button 2 2"_s;
    post("/api/pointer", R"({"button": "left", "action": "down"})");
    post("/api/pointer", R"({"button": "left", "action": "up"})");
    post("/api/pointer", R"({"button": "right", "action": "down"})");
    for (int i = 0; i < 4; ++i) { // 400 ms of dragging, twice the hold limit
        waitFor([] { return false; }, std::chrono::milliseconds(100));
        post("/api/pointer", R"({"dx": 1})");
    }
    EXPECT_FALSE(api->fake().calls().contains(release)) << "released during the drag";
    ASSERT_TRUE(waitFor([&] { return api->fake().calls().contains(release); }));
    waitFor([] { return false; }, std::chrono::milliseconds(400));
    const QString move = u"pointer:move 1,0"_s;
    EXPECT_EQ(api->fake().calls(), (QStringList{u"pointer:button 0 1"_s, u"pointer:button 0 2"_s,
                                                u"pointer:button 2 1"_s, move, move, move, move, release}));
}

// Faults: a plan not answered, or run (which steps pass and failures: the planner's unit test); a
// refused list running its allowed steps; steps out of order, without their pause, or
// holding other requests back; a failed step stopping the run or not counted.
TEST_F(ActionEndpoints, PlansAreAnsweredAndRunInOrder) {
    EXPECT_EQ(post("/api/plan", R"({"intent":"calculate and back up"})").json(),
              parsed(R"({"ok":true,"steps":[{"type":"app","value":"Calculator"}]})"));
    EXPECT_TRUE(calls().isEmpty());
    expectAnswer(post("/api/run-plan",
                      R"({"steps":[{"type":"app","value":"Calculator"},{"type":"app","value":"Files"}]})"),
                 400, R"({"ok":false,"error":"Invalid step"})");
    EXPECT_TRUE(calls().isEmpty()) << calls().join(u',').toStdString();

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
    ASSERT_TRUE(waitFor([&] { return !calls().isEmpty(); }));
    EXPECT_EQ(post("/api/run-plan", "{}").json(), parsed(R"({"ok":true,"ran":0})"));
    EXPECT_FALSE(finished.load()) << "another request waited for the run";
    runner.join();
    EXPECT_EQ(ran.json(), parsed(R"({"ok":true,"ran":3})"));
    EXPECT_GE(elapsed, 1200) << "0.4 s after each of the three steps";
    EXPECT_EQ(calls(), (QStringList{u"launchApp:Ghost"_s, u"runShortcut:Focus"_s,
                                    u"openURL:https://example.com/x"_s}));
}

// Faults: an invalid or oversized flow saved or announced; a flow not added to the Flows page or
// not removed by its label; pages not told to reload.
TEST_F(ActionEndpoints, FlowsAreAddedAndRemovedWithAReloadAndRefusedWithout) {
    expectAnswer(post("/api/flows", R"({"steps":[{"type":"url","value":"ftp://x"}]})"), 400,
                 R"({"ok":false,"error":"Invalid flow"})");
    const QByteArray large = R"({"steps":[{"type":"app","value":"Calculator"}],"label":")" +
                             QByteArray(hb::store::kMaxFlowBytes, 'a') + "\"}";
    expectAnswer(post("/api/flows", large), 400,
                 R"x({"ok":false,"error":"Flow too large (at most 32 KiB)"})x");
    expectAnswer(post("/api/flows", R"({"steps":[{"type":"app","value":"Calculator"}]})"), 200,
                 R"({"ok":true})");
    EXPECT_EQ(api->store().snapshotConfig()[u"pages"].toArray().last()[u"name"], u"Flows"_s);
    expectAnswer(api->request("DELETE", "/api/flows", R"({"label":"Flow"})", token), 200, R"({"ok":true})");
    EXPECT_EQ(api->reloads(), 2) << "one reload for each change, none for the refused flows";
}
