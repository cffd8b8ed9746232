// The action endpoints over real HTTP against the recording FakePlatform: which call each
// request makes and the answer it gets. Token gates belong to the gate table.
#include "support/api/ApiHarness.h"

#include <gtest/gtest.h>

using namespace hb::test;

namespace {

class ActionEndpoints : public ::testing::Test {
  protected:
    void SetUp() override { token = api.pairToken(); }
    RawResponse post(const char* path, const QByteArray& body) {
        return api.remote("POST", path, body, token);
    }
    ApiHarness api;
    QString token;
};

} // namespace

TEST_F(ActionEndpoints, EachRequestMakesItsOneCallAndAnswersItsResult) {
    api.store().saveConfig(
        parsed(R"({"pages":[{"name":"Apps","tiles":[{"type":"app","value":"Calculator"}]}],"settings":{}})"));
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
        api.fake().clearCalls();
        const RawResponse response = post(row.path, row.body);
        EXPECT_EQ(response.status, 200) << row.path << ' ' << row.body;
        EXPECT_EQ(response.json(), parsed(row.answer)) << row.path << ' ' << row.body;
        const QString call = QString::fromUtf8(row.call);
        EXPECT_EQ(api.fake().calls(), call.isEmpty() ? QStringList() : QStringList{call}) << row.body;
    }
}

TEST_F(ActionEndpoints, VolumeIsReadWithAnyOtherMethod) {
    api.fake().volume = 40;
    api.fake().muted = true;
    EXPECT_EQ(api.remote("PUT", "/api/volume", R"({"level":90})", token).json(),
              parsed(R"({"ok":true,"level":40,"muted":true})"));
    EXPECT_TRUE(api.fake().calls().filter(QStringLiteral("setVolume")).isEmpty());
}

TEST_F(ActionEndpoints, InputNotAllowedAnswersWhatToDoOnThisDesktop) {
    api.fake().trusted = false;
    api.fake().actionsSucceed = false;
    const QJsonObject refused{{QStringLiteral("ok"), false},
                              {QStringLiteral("error"), api.fake().accessHint()}};
    for (const char* path : {"/api/gesture", "/api/media", "/api/type"})
        EXPECT_EQ(post(path, R"({"value":"spotlight","action":"play","text":"hi"})").json(), refused) << path;
    EXPECT_EQ(post("/api/clipboard", R"({"text":"hi"})").json(), parsed(R"({"ok":false})"));
}

TEST_F(ActionEndpoints, IconsAndShortcutLists) {
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + "data";
    api.fake().setIcon(QStringLiteral("Text Editor"), png);
    const RawResponse icon = api.remote("GET", "/api/icon?other=1&app=Text%20Editor");
    EXPECT_EQ(icon.headers.value(QStringLiteral("content-type")), QStringLiteral("image/png"));
    EXPECT_EQ(icon.body, png);
    for (const char* target : {"/api/icon", "/api/icon?app=text%20editor", "/api/icon?name=Text%20Editor"}) {
        const RawResponse missing = api.remote("GET", target);
        EXPECT_EQ(missing.status, 404) << target;
        EXPECT_EQ(missing.raw.right(4), QByteArray("\r\n\r\n")) << "an empty 404: " << target;
    }
    EXPECT_EQ(api.request("GET", "/api/shortcuts").body,
              QByteArray(R"({"ok":true,"shortcuts":["Backup","Focus"]})"));
}
