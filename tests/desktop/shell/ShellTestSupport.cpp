#include "ShellTestSupport.h"

#include "support/TestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace hb::test {
namespace {

const QString kFakes = QStringLiteral(HB_TEST_FAKES_DIR "/hb_fake_dbus.py");

class ShellEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ASSERT_TRUE(qEnvironmentVariableIsSet("DISPLAY")) << "run under tests/desktop.sh";
        ASSERT_TRUE(qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"));
        qputenv("HB_SUPPORT", QFile::encodeName(support_.path()));
        qputenv("HB_RELAY_URL", "ws://127.0.0.1:9");
        qputenv("HB_UPDATE_URL", "http://127.0.0.1:9/latest.json");
        qputenv("HB_PORT", "0");
        watcher_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        watcher_.start(QStringLiteral("/usr/bin/python3"),
                       {kFakes, QStringLiteral("watcher"), QStringLiteral("/dev/null")});
        // Not ASSERT: a failed environment would report every test as skipped, not failed.
        EXPECT_TRUE(waitFor([this] { return watcher_.canReadLine(); }, std::chrono::seconds(10)));
    }
    void TearDown() override {
        watcher_.kill();
        watcher_.waitForFinished();
    }

  private:
    QTemporaryDir support_;
    QProcess watcher_;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new ShellEnvironment);

} // namespace

ToolResult runTool(const QString& program, const QStringList& arguments, std::chrono::milliseconds timeout) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!waitFor([&] { return process.state() == QProcess::NotRunning; }, timeout)) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAll()};
}

QString trayMenu() {
    const ToolResult result = runTool(QStringLiteral("/usr/bin/python3"), {kFakes, QStringLiteral("menu")});
    return result.exitCode == 0 ? QString::fromUtf8(result.out).chopped(1) : QString();
}

bool trayClick(const QString& label) {
    return runTool(QStringLiteral("/usr/bin/python3"), {kFakes, QStringLiteral("click"), label}).exitCode ==
           0;
}

} // namespace hb::test
