// "/api/icon" and "/api/shortcuts" over real HTTP against the FakePlatform.
#include "support/api/ApiHarness.h"

#include <QJsonArray>
#include <gtest/gtest.h>

using hb::test::ApiHarness;
using hb::test::RawResponse;

namespace {

const QByteArray kPngBytes = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray("fake image data");

bool isEmpty404(const RawResponse& response) {
    return response.status == 404 &&
           response.headers.value(QStringLiteral("content-type")) == QStringLiteral("text/plain") &&
           response.headers.value(QStringLiteral("content-length")) == QStringLiteral("0") &&
           response.body.isEmpty();
}

} // namespace

TEST(IconEndpoint, AnswersThePngOrAnEmpty404) {
    ApiHarness harness;
    harness.fake().setIcon(QStringLiteral("Calculator"), kPngBytes);
    harness.fake().setIcon(QStringLiteral("Text Editor"), kPngBytes + "2");
    const QString token = harness.pairToken();

    for (const char* target : {"/api/icon", "/api/icon?", "/api/icon?app=", "/api/icon?app=Nope",
                               "/api/icon?name=Calculator", "/api/icon?app=calculator"}) {
        EXPECT_TRUE(isEmpty404(harness.remote("GET", target))) << target;
        EXPECT_TRUE(isEmpty404(harness.remote("GET", target, {}, token))) << target << " with a token";
    }
    const struct {
        const char* target;
        QByteArray png;
    } rows[] = {
        {"/api/icon?app=Calculator", kPngBytes},
        {"/api/icon?app=Text%20Editor", kPngBytes + "2"},
        {"/api/icon?other=1&app=Calculator", kPngBytes},
    };
    for (const auto& row : rows) {
        for (const char* method : {"GET", "POST"}) {
            const RawResponse response = harness.remote(method, row.target);
            EXPECT_EQ(response.status, 200) << row.target;
            EXPECT_EQ(response.headers.value(QStringLiteral("content-type")), QStringLiteral("image/png"));
            EXPECT_EQ(response.body, row.png) << row.target;
        }
    }
}

TEST(ShortcutsEndpoint, ListsForTheMachineItselfOrATokenHolder) {
    ApiHarness harness;
    const QString token = harness.pairToken();
    const QJsonObject expected{
        {QStringLiteral("ok"), true},
        {QStringLiteral("shortcuts"), QJsonArray{QStringLiteral("Backup"), QStringLiteral("Focus")}}};
    EXPECT_EQ(harness.request("GET", "/api/shortcuts").json(), expected);
    EXPECT_EQ(harness.remote("GET", "/api/shortcuts", {}, token).json(), expected);
    const RawResponse refused = harness.remote("GET", "/api/shortcuts");
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(refused.body, QByteArray(R"({"ok":false})"));

    harness.fake().setShortcuts({});
    const RawResponse empty = harness.request("POST", "/api/shortcuts");
    EXPECT_EQ(empty.body, QByteArray(R"({"ok":true,"shortcuts":[]})"));
}
