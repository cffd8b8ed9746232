// The pointer and named keys on a real GNOME compositor (headless mutter) through Mutter's
// remote-desktop session: a native Wayland line edit must see the keys' effect, and Mutter must
// accept every pointer call.
#include "WaylandSupport.h"
#include "actions/platform/linux/LinuxPlatform.h"
#include "support/api/ApiHarness.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace hb::test;

namespace {

/// The typing target's text once it equals `expected` (or the last one within 5 s).
QString textOf(QProcess& target, const QString& expected) {
    QString text;
    waitFor([&] {
        while (target.canReadLine()) {
            const QByteArray line = target.readLine().trimmed();
            if (line.startsWith("text:"))
                text = QString::fromUtf8(QByteArray::fromHex(line.mid(5)));
        }
        return text == expected;
    });
    return text;
}

// Faults caught: a pointer call Mutter rejects (wrong method or argument types) reported as
// done or failing silently; modifiers not held around a key; a key name sent as the wrong symbol.
TEST(MutterPointerKeys, KeysEditTheFocusedWindowAndMutterTakesPointerCalls) {
    if (qEnvironmentVariableIsEmpty("HB_TEST_DESKTOP"))
        GTEST_SKIP() << "needs the private test desktop (tests/desktop.sh)";
    HeadlessMutter mutter(false);
    ASSERT_TRUE(mutter.ready());
    QProcess target;
    QProcessEnvironment environment = mutter.environment();
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    target.setProcessEnvironment(environment);
    target.start(QStringLiteral(HB_BIN_DIR "/../tests/hb_typing_target"), QStringList());
    ASSERT_TRUE(waitFor([&] { return target.canReadLine() && target.readLine().trimmed() == "shown"; },
                        std::chrono::seconds(10)));
    mutter.enter();
    QTemporaryDir support;
    hb::actions::LinuxPlatform desktop(support.path());
    ApiHarness::Options options;
    options.platform = &desktop.platform();
    ApiHarness agent(options);
    const QString token = agent.pairToken();
    const auto ok = [&](const char* path, const char* body) {
        return agent.request("POST", path, body, token).json().value(QStringLiteral("ok")).toBool();
    };
    ASSERT_TRUE(ok("/api/type", R"({"text": "one two"})"));
    ASSERT_EQ(textOf(target, QStringLiteral("one two")), QStringLiteral("one two"));
    EXPECT_TRUE(ok("/api/key", R"({"key": "Backspace", "modifiers": ["ctrl"]})"));
    EXPECT_EQ(textOf(target, QStringLiteral("one ")), QStringLiteral("one "));
    EXPECT_TRUE(ok("/api/key", R"({"key": "Home", "modifiers": ["shift"]})"));
    EXPECT_TRUE(ok("/api/key", R"({"key": "Delete"})"));
    EXPECT_EQ(textOf(target, QString()), QString());
    for (const char* body :
         {R"({"dx": 12, "dy": -7})", R"({"scroll": {"dx": 1, "dy": -2}})",
          R"({"button": "middle", "action": "down"})", R"({"button": "middle", "action": "up"})"})
        EXPECT_TRUE(ok("/api/pointer", body)) << body;
    target.closeWriteChannel();
    if (!target.waitForFinished(3000))
        target.kill();
}

} // namespace
