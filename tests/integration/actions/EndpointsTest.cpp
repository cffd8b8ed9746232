// The endpoints over real HTTP against the recording FakePlatform: the wire shape of each answer,
// and which calls each request makes, in which order. The rules behind them have their own owners:
// the gates the gate table; pairing, phone records, flows and the document the store's tests; which
// requests and steps pass the input commands', steps' and planner's unit tests; the endpoints' own
// pure rules the table at the end.
#include "api/Endpoints.h"
#include "actions/Actions.h"
#include "core/Version.h"
#include "store/Store.h"
#include "support/api/ApiHarness.h"

#include <QElapsedTimer>
#include <future>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace hb::test;

namespace {

const QDateTime kStart(QDate(2026, 5, 1), QTime(8, 0), Qt::UTC);

class Endpoints : public ::testing::Test {
  protected:
    void SetUp() override {
        qputenv("ANTHROPIC_API_KEY", "sk-e2e");
        ApiHarness::Options options;
        options.plannerBaseUrl = messages.url();
        options.now = [this] { return kStart.addSecs(60 * minutes.load()); };
        options.customize = [this](hb::api::Context& context) {
            context.heldButtons->limit = std::chrono::milliseconds(200);
            context.openAdmin = [this] { ++opened; };
            context.relayBase = [] { return u"wss://relay.test"_s; };
            context.setRelayEnabled = [this](bool on) { relaySwitch = on; };
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
    int statusWith(const QString& phone) { return api->remote("GET", "/api/config", {}, phone).status; }

    HttpServer messages{[](const HttpServer::Request&) {
        return modelText(u"{\"steps\":[{\"type\":\"app\",\"value\":\"Calculator\"}]}"_s);
    }};
    std::unique_ptr<ApiHarness> api;
    QString token;
    std::atomic<int> minutes{0};
    std::atomic<int> opened{0};
    std::atomic<int> relaySwitch{-1}; ///< the relay switch's last setting (-1: never set)
};

} // namespace

// Faults, beyond each row's call and answer: the volume set by a read; input refused by the desktop
// answered without the hint the phone shows; a refused pointer or key request reaching the desktop,
// or refused without a 400 and an error; an icon answered with a body when missing.
TEST_F(Endpoints, EachRequestMakesItsCallsAndAnswersItsResult) {
    // Path, body, the one call made ("": none at all), answer.
    const std::tuple<const char*, const char*, const char*, const char*> rows[] = {
        {"/api/launch", R"({"app":"Calculator"})", "launchApp:Calculator", R"({"ok":true})"},
        {"/api/launch", R"({"app":"calculator"})", "", R"({"ok":false})"},
        {"/api/shortcut", R"({"name":"A","value":"B"})", "runShortcut:A", R"({"ok":true})"},
        {"/api/shortcut", R"({"name":5,"value":"B"})", "runShortcut:B", R"({"ok":true})"},
        {"/api/gesture", R"({"value":"app_windows","action":"x"})", "runGesture:app_windows",
         R"({"ok":true})"},
        {"/api/url", R"({"url":"HTTPS://a.example/?b=c"})", "openURL:HTTPS://a.example/?b=c",
         R"({"ok":true})"},
        {"/api/url", R"({"url":"mailto:a@b.c"})", "openURL:mailto:a@b.c", R"({"ok":false})"},
        {"/api/media", R"({"action":"next"})", "mediaAction:next", R"({"ok":true})"},
        {"/api/system", R"({"action":"reboot"})", "systemAction:reboot", R"({"ok":false})"},
        {"/api/clipboard", R"({"text":"Hé €😀"})", "setClipboard:Hé €😀", R"({"ok":true})"},
        {"/api/type", R"({"text":"hello\nworld"})", "typeText:hello\nworld", R"({"ok":true})"},
        {"/api/volume", R"({"muted":true,"level":10})", "setMuted:true", R"({"ok":true,"muted":true})"},
        {"/api/volume", R"({"level":33.9})", "setVolume:33", R"({"ok":true,"level":33})"},
    };
    for (const auto& [path, body, expectedCall, answer] : rows) {
        expectAnswer(post(path, body), 200, answer);
        const QString call = QString::fromUtf8(expectedCall);
        EXPECT_EQ(api->fake().calls(), call.isEmpty() ? QStringList() : QStringList{call}) << body;
        api->fake().clearCalls();
    }

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
    const RawResponse missing = api->remote("GET", "/api/icon?name=Text%20Editor");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.raw.right(4), QByteArray("\r\n\r\n")) << "an empty 404";
    EXPECT_EQ(api->request("GET", "/api/shortcuts").body, R"({"ok":true,"shortcuts":["Backup","Focus"]})");
}

// Faults: a button left held when the phone drops off after "down", a long drag cut short while
// the phone still moves, and a release sent although the phone did release it.
TEST_F(Endpoints, AHeldButtonIsReleasedByTheAgentOnceThePhoneFallsSilent) {
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
// holding other requests back; a failed step stopping the run or not counted; an invalid or oversized
// flow saved or announced; a flow not added to the Flows page or not removed by its label; pages not
// told to reload.
TEST_F(Endpoints, PlansAndFlows) {
    const auto calls = [&] { // without the shortcut listings the step gate makes
        QStringList calls = api->fake().calls();
        calls.removeAll(u"listShortcuts"_s);
        return calls;
    };
    EXPECT_EQ(post("/api/plan", R"({"intent":"calculate and back up"})").json(),
              parsed(R"({"ok":true,"steps":[{"type":"app","value":"Calculator"}]})"));
    expectAnswer(post("/api/run-plan",
                      R"({"steps":[{"type":"app","value":"Calculator"},{"type":"app","value":"Files"}]})"),
                 400, R"({"ok":false,"error":"Invalid step"})");
    EXPECT_TRUE(calls().isEmpty()) << "the plan or the refused list ran: "
                                   << calls().join(u',').toStdString();

    // "Ghost" is allowed but not installed: its launch fails, the run goes on and counts it.
    QElapsedTimer timer;
    timer.start();
    auto run = std::async(std::launch::async, [&] {
        return post("/api/run-plan",
                    R"({"steps":[{"type":"app","value":"Ghost"},{"type":"shortcut","value":"Focus"},
                                                 {"type":"url","value":"https://example.com/x"}]})");
    });
    ASSERT_TRUE(waitFor([&] { return !calls().isEmpty(); }));
    EXPECT_EQ(post("/api/run-plan", "{}").json(), parsed(R"({"ok":true,"ran":0})"));
    EXPECT_EQ(run.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
        << "another request waited for the run";
    EXPECT_EQ(run.get().json(), parsed(R"({"ok":true,"ran":3})"));
    EXPECT_GE(timer.elapsed(), 1200) << "0.4 s after each of the three steps";
    EXPECT_EQ(calls(), (QStringList{u"launchApp:Ghost"_s, u"runShortcut:Focus"_s,
                                    u"openURL:https://example.com/x"_s}));

    expectAnswer(post("/api/flows", R"({"steps":[{"type":"url","value":"ftp://x"}]})"), 400,
                 R"({"ok":false,"error":"Invalid flow"})");
    const QByteArray large = R"({"steps":[{"type":"app","value":"Calculator"}],"label":")" +
                             QByteArray(hb::store::kMaxFlowBytes, 'a') + "\"}";
    expectAnswer(post("/api/flows", large), 400,
                 R"x({"ok":false,"error":"Flow too large (at most 32 KiB)"})x");
    expectAnswer(post("/api/flows", R"({"steps":[{"type":"app","value":"Calculator"}]})"), 200,
                 R"({"ok":true})");
    EXPECT_EQ(api->store().snapshotConfig()[u"pages"].toArray().size(), 2) << "the flow not stored";
    expectAnswer(api->request("DELETE", "/api/flows", R"({"label":"Flow"})", token), 200, R"({"ok":true})");
    EXPECT_EQ(api->reloads(), 2) << "one reload for each change, none for the refused flows";
}

// Faults: a pairing answer of another shape; a name or the road lost on the way to the store, or
// an unnamed phone not labelled after its browser; a token in the list; a contact not noted with
// its road; a rename, revoke or "revoke all" answered but not made; an unknown id reported as
// done; open pages not told of a revoke; unpairing keeping the caller's token. The rules behind
// them (PIN, lock, codes, records) are the store's.
TEST_F(Endpoints, PhonesPairAreListedRenamedAndRevoked) {
    api->store().removeToken(token); // this journey counts its own phones
    const QByteArray pin = api->store().pinValue().toUtf8();
    const RawResponse paired =
        api->remote("POST", "/api/pair", R"({"name":"Anna's phone","pin":")" + pin + "\"}");
    EXPECT_EQ(paired.json().keys(), (QStringList{u"ok"_s, u"token"_s}));
    const QString anna = paired.json()[u"token"].toString();
    const QByteArray code = field("code", api->store().mintCode());
    minutes = 1; // the list is oldest first
    const QHash<QByteArray, QByteArray> relayed{{"x-hb-relay", "1"}, {"user-agent", "(iPhone) Safari/604.1"}};
    const QString ben = api->request("POST", "/api/pair-code", code, {}, relayed).json()[u"token"].toString();
    expectAnswer(api->remote("POST", "/api/pair-code", code), 401,
                 R"({"ok":false,"error":"Invalid or expired code"})");

    const RawResponse list = api->remote("GET", "/api/devices", {}, anna);
    EXPECT_FALSE(list.body.contains(anna.toUtf8()) || list.body.contains(ben.toUtf8()));
    const auto phones = [&] {
        return api->remote("GET", "/api/devices", {}, anna).json()[u"devices"].toArray();
    };
    EXPECT_EQ(phones()[0].toObject().keys().join(u' '), u"current id lastSeen name pairedAt via"_s);
    EXPECT_EQ(phones()[0][u"name"], u"Anna's phone"_s);
    EXPECT_EQ(phones()[0][u"via"], u"lan"_s);
    EXPECT_EQ(phones()[0][u"current"], true);
    EXPECT_EQ(phones()[1][u"name"], u"Safari on iPhone"_s);
    EXPECT_EQ(phones()[1][u"via"], u"relay"_s);
    EXPECT_TRUE(QDateTime::fromString(phones()[1][u"pairedAt"].toString(), Qt::ISODate).isValid());
    const QString benId = phones()[1][u"id"].toString();

    minutes = 2; // the gate notes each contact and its road
    EXPECT_EQ(statusWith(ben), 200);
    EXPECT_EQ(phones()[1][u"via"], u"lan"_s);
    EXPECT_EQ(QDateTime::fromString(phones()[1][u"lastSeen"].toString(), Qt::ISODate), kStart.addSecs(120));

    const QByteArray rename = jsonBody({{u"name"_s, u"Ben's"_s}, {u"rename"_s, benId}});
    EXPECT_EQ(api->remote("POST", "/api/devices", rename, anna).status, 200);
    EXPECT_EQ(phones()[1][u"name"], u"Ben's"_s);
    expectAnswer(api->remote("POST", "/api/devices", field("revoke", benId), anna), 200, R"({"ok":true})");
    EXPECT_EQ(api->reloads(), 2) << "each change reloads open pages: a revoked phone learns of it at once";
    EXPECT_EQ(statusWith(ben), 401);
    for (const QByteArray& change : {field("revoke", benId), rename})
        expectAnswer(api->remote("POST", "/api/devices", change, anna), 404, R"({"ok":false})");

    const QString other = api->pairToken();
    expectAnswer(api->remote("POST", "/api/unpair", {}, other), 200, R"({"ok":true})");
    EXPECT_EQ(statusWith(other), 401);
    EXPECT_EQ(statusWith(anna), 200);
    EXPECT_EQ(api->request("POST", "/api/devices", R"({"revokeAll":true})").status, 200);
    EXPECT_EQ(statusWith(anna), 401);

    expectAnswer(api->remote("POST", "/api/pair", "not json"), 401, R"({"ok":false,"error":"Wrong PIN"})");
    while (!api->store().isLocked())
        api->remote("POST", "/api/pair", "{}");
    expectAnswer(api->remote("POST", "/api/pair", field("pin", pin.constData())), 423,
                 R"({"ok":false,"error":"Locked \u2014 too many tries","locked":true})");
}

// Faults: a PIN change answered wrongly or not made; the pairing link not on the LAN address or not
// accepted; the admin summary or the phone's configuration missing a key or naming the wrong host;
// the panel not opened; a saved document altered on the way or not announced to open pages; the
// relay switch not following it.
TEST_F(Endpoints, PanelSetsThePinLinksAPhoneAndSavesTheDocument) {
    expectAnswer(api->request("POST", "/api/set-pin", field("pin", "12a4")), 200, R"({"ok":false})");
    expectAnswer(api->request("POST", "/api/set-pin", field("pin", "0000")), 200, R"({"ok":true})");

    const QJsonObject connect = api->request("GET", "/api/connect").json();
    EXPECT_EQ(connect.keys(), (QStringList{u"ok"_s, u"qr"_s, u"url"_s}));
    EXPECT_TRUE(connect[u"qr"].toString().startsWith(u"data:image/png;base64,"_s));
    const QString url = connect[u"url"].toString();
    EXPECT_EQ(url.chopped(16), u"http://192.168.1.20:%1/?pair="_s.arg(api->port())) << "the LAN address";
    EXPECT_EQ(api->remote("POST", "/api/pair-code", field("code", url.right(16))).status, 200);
    expectAnswer(api->request("POST", "/api/airdrop", "{}"), 200,
                 R"({"ok":false,"error":"Scan the QR code instead."})");
    expectAnswer(api->request("GET", "/api/open-admin"), 200, R"({"ok":true})");
    EXPECT_EQ(opened.load(), 1);

    const QJsonObject admin = api->request("GET", "/api/admin").json();
    EXPECT_EQ(admin.keys().join(u' '),
              u"apps config gestures host ok pin relayQr relayUrl shortcuts version"_s);
    EXPECT_EQ(admin[u"host"], u"testdesk"_s) << "the network host name";
    EXPECT_EQ(admin[u"pin"], u"0000"_s) << "the PIN not changed, or not shown";
    const QString relayUrl = u"https://relay.test/phone/"_s + api->store().relayId();
    EXPECT_EQ(admin[u"relayUrl"], relayUrl);
    EXPECT_EQ(admin[u"relayQr"], hb::actions::qrDataURL(relayUrl + u'/').value_or(QString()));
    const QJsonObject expected{{u"ok"_s, true},
                               {u"config"_s, api->store().snapshotConfig()},
                               {u"version"_s, hb::currentVersion()},
                               {u"host"_s, u"Test Desk"_s},
                               {u"relayUrl"_s, relayUrl},
                               {u"relayEnabled"_s, false}};
    EXPECT_EQ(api->remote("GET", "/api/config", {}, token).json(), expected);

    const QByteArray document =
        R"({"pages":[],"settings":{"relayEnabled":true},"future":{"deep":[1,{"k":null}]}})";
    expectAnswer(api->request("POST", "/api/config", document), 200, R"({"ok":true})");
    EXPECT_EQ(api->reloads(), 1);
    EXPECT_EQ(api->remote("GET", "/api/config", {}, token).json()[u"config"],
              QJsonValue(QJsonDocument::fromJson(document).object()));
    EXPECT_EQ(relaySwitch.load(), 1);
}

// Faults: a level converted to int before it is bounded, rounded instead of cut, or read from
// text; an unnamed phone labelled with the wrong half (Chrome-based browsers also say "Safari",
// Android also says "Linux") or left blank.
TEST(EndpointRules, VolumeLevelAndPhoneLabel) {
    const std::pair<QJsonValue, int> levels[] = {
        {150, 100}, {33.9, 33}, {-5, 0}, {1e300, 100}, {u"70"_s, 50}, {QJsonValue(), 50},
    };
    for (const auto& [value, level] : levels)
        EXPECT_EQ(hb::api::requestedLevel(value), level) << value.toVariant().toString().toStdString();
    const std::pair<const char*, const char*> labels[] = {
        {"Mozilla/5.0 (Linux; Android 14) Chrome/126.0 Mobile Safari/537.36", "Chrome on Android"},
        {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_5) CriOS/126.0 Safari/604.1", "Chrome on iPhone"},
        {"Mozilla/5.0 (Linux; Android 14) SamsungBrowser/25.0 Chrome/121.0 Safari/537.36",
         "Samsung Internet on Android"},
        {"Mozilla/5.0 (X11; Linux x86_64)", "Linux"},
        {"curl/8.0", "Phone"},
    };
    for (const auto& [userAgent, label] : labels)
        EXPECT_EQ(hb::api::userAgentLabel(QString::fromUtf8(userAgent)), QString::fromUtf8(label))
            << userAgent;
}
