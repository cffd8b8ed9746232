// The action endpoints over real HTTP against the recording FakePlatform.
#include "support/api/ApiHarness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

using hb::test::ApiHarness;
using hb::test::RawResponse;
using namespace Qt::StringLiterals;

namespace {

const QString kLong = QStringLiteral("Allow Harbly to send keystrokes on this desktop, then try again.");
const QString kShort = kLong;

QJsonObject parse(const char* json) {
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

class ActionEndpoints : public ::testing::Test {
  protected:
    void SetUp() override {
        token = harness.pairToken();
        ASSERT_EQ(token.size(), 48);
    }
    /// POST with the token; the answer's JSON, after checking the status is 200.
    QJsonObject post(const char* path, const QByteArray& body) {
        const RawResponse response = harness.remote("POST", path, body, token);
        EXPECT_EQ(response.status, 200) << path << ' ' << body.constData();
        return response.json();
    }
    QStringList calls() { return harness.fake().calls(); }
    void addAppTile(const QString& app) {
        const QJsonObject tile{{QStringLiteral("type"), QStringLiteral("app")},
                               {QStringLiteral("value"), app}};
        const QJsonObject page{{QStringLiteral("name"), QStringLiteral("Apps")},
                               {QStringLiteral("tiles"), QJsonArray{tile}}};
        QJsonObject config = harness.store().snapshotConfig();
        config.insert(QStringLiteral("pages"), QJsonArray{page});
        harness.store().saveConfig(config);
    }

    ApiHarness harness;
    QString token;
};

} // namespace

// A refused request does nothing: no action is run, from the machine itself or elsewhere.
TEST_F(ActionEndpoints, RefusedWithoutAValidTokenAndRunNothing) {
    addAppTile(QStringLiteral("Calculator"));
    harness.fake().clearCalls();
    for (const char* path : {"/api/launch", "/api/url", "/api/shortcut", "/api/gesture", "/api/media",
                             "/api/volume", "/api/system", "/api/clipboard", "/api/type"}) {
        const QByteArray body =
            R"({"app":"Calculator","url":"https://a.b","name":"Backup","value":"spotlight",
                                    "action":"sleep","text":"x","level":10})";
        for (const RawResponse& response :
             {harness.request("POST", path, body), harness.remote("POST", path, body),
              harness.remote("POST", path, body, QString(48, u'a')), harness.request("GET", path)}) {
            EXPECT_EQ(response.status, 401) << path;
            EXPECT_EQ(response.body, QByteArray(R"({"ok":false})")) << path;
        }
        EXPECT_EQ(harness.remote("POST", path, body, token).status, 200) << path;
    }
    // Only the nine requests with the token ran their action.
    const QString expected = QStringLiteral("launchApp:Calculator,openURL:https://a.b,runShortcut:Backup,"
                                            "runGesture:spotlight,mediaAction:sleep,setVolume:10,"
                                            "systemAction:sleep,setClipboard:x,typeText:x");
    EXPECT_EQ(calls().join(u','), expected);
}

TEST_F(ActionEndpoints, LaunchOnlyWhatATileAllows) {
    const QByteArray calculator = R"({"app":"Calculator"})";
    EXPECT_EQ(post("/api/launch", calculator), parse(R"({"ok":false})"));
    EXPECT_TRUE(calls().filter(QStringLiteral("launchApp")).isEmpty());

    addAppTile(QStringLiteral("Calculator"));
    EXPECT_EQ(post("/api/launch", calculator), parse(R"({"ok":true})"));
    EXPECT_EQ(calls().filter(QStringLiteral("launchApp")),
              QStringList{QStringLiteral("launchApp:Calculator")});

    harness.fake().clearCalls();
    for (const QByteArray& body : {QByteArray(R"({"app":"calculator"})"), QByteArray(R"({"app":"Files"})"),
                                   QByteArray(R"({"app":""})"), QByteArray(R"({"app":["Calculator"]})"),
                                   QByteArray("{}"), QByteArray("not json")})
        EXPECT_EQ(post("/api/launch", body), parse(R"({"ok":false})")) << body.constData();
    EXPECT_TRUE(calls().isEmpty()) << calls().join(u',').toStdString();

    // Allowed but not installed: tried, and reported as not launched.
    addAppTile(QStringLiteral("Ghost"));
    EXPECT_EQ(post("/api/launch", R"({"app":"Ghost"})"), parse(R"({"ok":false})"));
    EXPECT_EQ(calls(), QStringList{QStringLiteral("launchApp:Ghost")});
}

TEST_F(ActionEndpoints, FieldsAndFallbacksReachTheAction) {
    const struct {
        const char* path;
        const char* body;
        const char* call;
    } rows[] = {
        {"/api/shortcut", R"({"value":"X"})", "runShortcut:X"},
        {"/api/shortcut", R"({"name":"A","value":"B"})", "runShortcut:A"},
        {"/api/shortcut", R"({"name":5,"value":"B"})", "runShortcut:B"},
        {"/api/shortcut", R"({"name":null,"value":"B"})", "runShortcut:B"},
        {"/api/shortcut", R"({"name":""})", "runShortcut:"},
        {"/api/shortcut", "garbage", "runShortcut:"},
        {"/api/gesture", R"({"action":"spotlight"})", "runGesture:spotlight"},
        {"/api/gesture", R"({"value":"mission_control","action":"spotlight"})", "runGesture:mission_control"},
        {"/api/gesture", R"({"value":true,"action":"spotlight"})", "runGesture:spotlight"},
        {"/api/url", R"({"url":"https://example.com/a?b=c"})", "openURL:https://example.com/a?b=c"},
        {"/api/media", R"({"action":"next"})", "mediaAction:next"},
        {"/api/system", R"({"action":"sleep"})", "systemAction:sleep"},
        {"/api/clipboard", R"({"text":"Hé €😀"})", "setClipboard:Hé €😀"},
        {"/api/type", R"({"text":"hello\nworld"})", "typeText:hello\nworld"},
    };
    for (const auto& row : rows) {
        harness.fake().clearCalls();
        post(row.path, row.body);
        EXPECT_EQ(calls(), QStringList{QString::fromUtf8(row.call)}) << row.path << ' ' << row.body;
    }
}

TEST_F(ActionEndpoints, AnswersCarryTheActionsResult) {
    EXPECT_EQ(post("/api/url", R"({"url":"HTTPS://example.com"})"), parse(R"({"ok":true})"));
    EXPECT_EQ(post("/api/url", R"({"url":"mailto:a@b.c"})"), parse(R"({"ok":false})"));
    EXPECT_EQ(post("/api/system", R"({"action":"reboot"})"), parse(R"({"ok":false})"));
    EXPECT_EQ(post("/api/gesture", R"({"value":"spotlight"})"), parse(R"({"ok":true})"));
    // Input is allowed, so a failure carries no message.
    EXPECT_EQ(post("/api/gesture", R"({"value":"no_such_gesture"})"), parse(R"({"ok":false})"));
    EXPECT_EQ(post("/api/media", R"({"action":"rewind"})"), parse(R"({"ok":false})"));
}

TEST_F(ActionEndpoints, AccessibilityMessagesWhenInputIsNotAllowed) {
    harness.fake().trusted = false;
    harness.fake().actionsSucceed = false;
    const struct {
        const char* path;
        const char* body;
        QJsonObject answer;
    } rows[] = {
        {"/api/gesture", R"({"value":"spotlight"})", {{u"ok"_s, false}, {u"error"_s, kLong}}},
        {"/api/media", R"({"action":"play"})", {{u"ok"_s, false}, {u"error"_s, kShort}}},
        {"/api/type", R"({"text":"hi"})", {{u"ok"_s, false}, {u"error"_s, kShort}}},
        {"/api/clipboard", R"({"text":"hi"})", {{u"ok"_s, false}}},
        {"/api/system", R"({"action":"sleep"})", {{u"ok"_s, false}}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(post(row.path, row.body), row.answer) << row.path;
    // The exact bytes the phone shows.
    EXPECT_TRUE(harness.remote("POST", "/api/gesture", "{}", token)
                    .body.contains("Allow Harbly to send keystrokes on this desktop"));
}

TEST_F(ActionEndpoints, VolumeSetRules) {
    const struct {
        const char* name;
        const char* body;
        const char* call;
        const char* answer;
    } rows[] = {
        {"muted wins over level", R"({"muted":true,"level":10})", "setMuted:true",
         R"({"ok":true,"muted":true})"},
        {"unmute", R"({"muted":false})", "setMuted:false", R"({"ok":true,"muted":false})"},
        {"above 100", R"({"level":150})", "setVolume:100", R"({"ok":true,"level":100})"},
        {"fraction cut toward zero", R"({"level":33.9})", "setVolume:33", R"({"ok":true,"level":33})"},
        {"just below 100", R"({"level":99.99})", "setVolume:99", R"({"ok":true,"level":99})"},
        {"negative fraction", R"({"level":-0.5})", "setVolume:0", R"({"ok":true,"level":0})"},
        {"hugely negative", R"({"level":-1e300})", "setVolume:0", R"({"ok":true,"level":0})"},
        {"hugely positive", R"({"level":1e300})", "setVolume:100", R"({"ok":true,"level":100})"},
        {"empty body", "{}", "setVolume:50", R"({"ok":true,"level":50})"},
        {"level as text", R"({"level":"70"})", "setVolume:50", R"({"ok":true,"level":50})"},
        {"level as Boolean", R"({"level":true})", "setVolume:50", R"({"ok":true,"level":50})"},
        {"muted as number", R"({"muted":1,"level":20})", "setVolume:20", R"({"ok":true,"level":20})"},
        {"not JSON", "level=10", "setVolume:50", R"({"ok":true,"level":50})"},
    };
    for (const auto& row : rows) {
        harness.fake().clearCalls();
        EXPECT_EQ(post("/api/volume", row.body), parse(row.answer)) << row.name;
        EXPECT_EQ(calls(), QStringList{QString::fromUtf8(row.call)}) << row.name;
    }
    harness.fake().actionsSucceed = false;
    EXPECT_EQ(post("/api/volume", R"({"level":10})"), parse(R"({"ok":false,"level":10})"));
}

TEST_F(ActionEndpoints, VolumeReadWithAnyOtherMethod) {
    harness.fake().volume = 40;
    harness.fake().muted = true;
    for (const char* method : {"GET", "PUT", "DELETE"}) {
        const RawResponse response = harness.remote(method, "/api/volume", R"({"level":90})", token);
        EXPECT_EQ(response.status, 200) << method;
        EXPECT_EQ(response.json(), parse(R"({"ok":true,"level":40,"muted":true})")) << method;
    }
    EXPECT_TRUE(calls().filter(QStringLiteral("setVolume")).isEmpty());
    // Unreadable: still "ok", with the fallback values.
    harness.fake().volume = -1;
    harness.fake().muted = false;
    EXPECT_EQ(harness.remote("GET", "/api/volume", {}, token).json(),
              parse(R"({"ok":true,"level":-1,"muted":false})"));
}
