// "/api/pointer" and "/api/key" over real HTTP against the recording FakePlatform.
#include "support/api/ApiHarness.h"

#include <gtest/gtest.h>

using hb::test::ApiHarness;
using hb::test::waitFor;

namespace {

ApiHarness::Options shortHold() {
    ApiHarness::Options options;
    options.customize = [](hb::api::Context& context) {
        context.heldButtons->limit = std::chrono::milliseconds(200);
    };
    return options;
}

// Catches refused requests that still reach the desktop, and a refusal that is not a 400
// with an error the phone can show.
TEST(PointerKeysEndpoints, RefusedRequestsNeverReachTheDesktop) {
    ApiHarness harness;
    const QString token = harness.pairToken();
    for (const auto& [path, body] : {std::pair{"/api/key", R"({"key": "XF86PowerOff"})"},
                                     std::pair{"/api/key", R"({"key": "Tab", "modifiers": ["meta"]})"},
                                     std::pair{"/api/pointer", R"({"dx": "1e9"})"},
                                     std::pair{"/api/pointer", R"({"button": "left", "action": "hold"})"}}) {
        const auto response = harness.remote("POST", path, body, token);
        EXPECT_EQ(response.status, 400) << body;
        EXPECT_EQ(response.json().value(QStringLiteral("ok")), false) << body;
        EXPECT_FALSE(response.json().value(QStringLiteral("error")).toString().isEmpty()) << body;
    }
    EXPECT_TRUE(harness.fake().calls().isEmpty()) << harness.fake().calls().join(u' ').toStdString();
}

// Catches a button left held when the phone drops off after "down", a long drag cut short
// while the phone still moves, and a release sent although the phone did release it.
TEST(PointerKeysEndpoints, AHeldButtonIsReleasedByTheAgentOnceThePhoneFallsSilent) {
    ApiHarness harness(shortHold());
    const QString token = harness.pairToken();
    const QString release = QStringLiteral("pointer:button 2 2");
    harness.remote("POST", "/api/pointer", R"({"button": "left", "action": "down"})", token);
    harness.remote("POST", "/api/pointer", R"({"button": "left", "action": "up"})", token);
    harness.remote("POST", "/api/pointer", R"({"button": "right", "action": "down"})", token);
    for (int i = 0; i < 4; ++i) { // 400 ms of dragging, twice the hold limit
        waitFor([] { return false; }, std::chrono::milliseconds(100));
        harness.remote("POST", "/api/pointer", R"({"dx": 1})", token);
    }
    EXPECT_FALSE(harness.fake().calls().contains(release)) << "released during the drag";
    ASSERT_TRUE(waitFor([&] { return harness.fake().calls().contains(release); }));
    waitFor([] { return false; }, std::chrono::milliseconds(400));
    const QString move = QStringLiteral("pointer:move 1,0");
    EXPECT_EQ(harness.fake().calls(),
              (QStringList{QStringLiteral("pointer:button 0 1"), QStringLiteral("pointer:button 0 2"),
                           QStringLiteral("pointer:button 2 1"), move, move, move, move, release}));
}

} // namespace
