// The pointer on a real GNOME compositor (headless mutter) through Mutter's remote-desktop
// session. Key chords take the path typing and gestures already prove there.
#include "WaylandSupport.h"
#include "actions/platform/linux/LinuxPlatform.h"
#include "support/api/ApiHarness.h"

#include <gtest/gtest.h>

using namespace hb::test;

namespace {

// Faults caught: a pointer call Mutter rejects (wrong method or argument types) failing on every
// GNOME desktop, or reported as done.
TEST(MutterPointer, MutterTakesEveryPointerCall) {
    if (qEnvironmentVariableIsEmpty("HB_TEST_DESKTOP"))
        GTEST_SKIP() << "needs the private test desktop (tests/desktop.sh)";
    HeadlessMutter mutter(false);
    ASSERT_TRUE(mutter.ready());
    mutter.enter();
    QTemporaryDir support;
    hb::actions::LinuxPlatform desktop(support.path());
    ApiHarness::Options options;
    options.platform = &desktop.platform();
    ApiHarness agent(options);
    const QString token = agent.pairToken();
    for (const char* body : {R"({"dx": 12, "dy": -7})", R"({"scroll": {"dx": 1, "dy": -2}})",
                             R"({"button": "middle", "action": "down"})",
                             R"({"button": "middle", "action": "up"})", R"({"button": "right"})"}) {
        const auto answer = agent.request("POST", "/api/pointer", body, token).json();
        EXPECT_TRUE(answer.value(QStringLiteral("ok")).toBool()) << body;
    }
}

} // namespace
