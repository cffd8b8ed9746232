#include "ShellTestSupport.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QJsonDocument>
#include <QProcess>
#include <gtest/gtest.h>

namespace hb::test {
namespace {

QString watcherScript() {
    return QStringLiteral(HB_TEST_FAKES_DIR "/fake_sni_watcher.py");
}

/// Owns the fake StatusNotifierWatcher and the folders every test shares.
class ShellEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ASSERT_TRUE(qEnvironmentVariableIsSet("DISPLAY")) << "run under tests/desktop.sh";
        ASSERT_TRUE(qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"));
        qputenv("HB_SUPPORT", QFile::encodeName(support_.path()));
        qputenv("HB_RELAY_URL", "ws://127.0.0.1:9");
        qputenv("HB_UPDATE_URL", "http://127.0.0.1:9/latest.json");
        qputenv("HB_PORT", "0");
        watcher_.setProgram(QStringLiteral("/usr/bin/python3"));
        watcher_.setArguments({watcherScript(), QStringLiteral("serve")});
        watcher_.start();
        ASSERT_TRUE(waitFor(
            [this] {
                return watcher_.readAllStandardOutput().contains("ready") ||
                       watcher_.state() == QProcess::NotRunning;
            },
            std::chrono::seconds(10)));
        ASSERT_EQ(watcher_.state(), QProcess::Running) << watcher_.readAllStandardError().constData();
    }
    void TearDown() override {
        watcher_.kill();
        watcher_.waitForFinished(2000);
    }

  private:
    QTemporaryDir support_;
    QProcess watcher_;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new ShellEnvironment);

QStringList pidArgument(qint64 pid) {
    return pid > 0 ? QStringList{QString::number(pid)} : QStringList{};
}

} // namespace

ToolResult runTool(const QString& program, const QStringList& arguments, std::chrono::milliseconds timeout) {
    QProcess process;
    process.start(program, arguments);
    ToolResult result;
    result.finished = waitFor([&] { return process.state() == QProcess::NotRunning; }, timeout);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(2000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QJsonObject trayDump(qint64 pid) {
    const ToolResult result =
        runTool(QStringLiteral("/usr/bin/python3"),
                QStringList{watcherScript(), QStringLiteral("dump")} + pidArgument(pid));
    if (result.exitCode != 0)
        return {};
    return QJsonDocument::fromJson(result.out).object();
}

bool trayClick(const QString& label, qint64 pid) {
    return runTool(QStringLiteral("/usr/bin/python3"),
                   QStringList{watcherScript(), QStringLiteral("click"), label} + pidArgument(pid))
               .exitCode == 0;
}

QProcessEnvironment agentEnvironment(const QString& supportDir, const QString& configHome) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HB_SUPPORT"), supportDir);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    environment.insert(QStringLiteral("HB_PORT"), QStringLiteral("0"));
    environment.insert(QStringLiteral("HB_RELAY_URL"), QStringLiteral("ws://127.0.0.1:9"));
    environment.insert(QStringLiteral("HB_UPDATE_URL"), QStringLiteral("http://127.0.0.1:9/latest.json"));
    return environment;
}

} // namespace hb::test
