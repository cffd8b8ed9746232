// computerName against a fake hostnamed on the test desktop's stand-in system bus, then the
// machine-info file, then the host name.
#include "actions/platform/linux/HostIdentityLinux.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace hb::actions {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(10);

/// fake_hostname1.py owning org.freedesktop.hostname1 for the life of the object.
class FakeHostnamed {
  public:
    explicit FakeHostnamed(const QString& pretty) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral("/usr/bin/python3"),
                       {QStringLiteral(HB_TEST_FAKES_DIR "/fake_hostname1.py"),
                        dir_.filePath(QStringLiteral("calls.jsonl")), pretty});
        ready_ = test::waitFor(
                     [this] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; },
                     kStartTimeout) &&
                 process_.readLine().trimmed() == "READY";
    }
    ~FakeHostnamed() {
        process_.kill();
        process_.waitForFinished();
    }
    bool ready() const { return ready_; }

  private:
    QTemporaryDir dir_;
    QProcess process_;
    bool ready_ = false;
};

class ComputerName : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS")
                 .startsWith(QStringLiteral("unix:path=") + qEnvironmentVariable("HB_TEST_DESKTOP")) ||
            qEnvironmentVariableIsEmpty("HB_TEST_DESKTOP"))
            GTEST_SKIP() << "needs the stand-in system bus: run under tests/desktop.sh";
    }

    LinuxHostIdentity identity(const QByteArray& machineInfo, const QString& host) {
        const QString path = dir.filePath(QStringLiteral("machine-info"));
        QFile file(path);
        if (!machineInfo.isNull() && file.open(QIODevice::WriteOnly))
            file.write(machineInfo);
        return LinuxHostIdentity({path, [host] { return host; }});
    }

    QTemporaryDir dir;
};

TEST_F(ComputerName, HostnamedThenMachineInfoThenHostNameWithoutDotLocal) {
    {
        FakeHostnamed hostnamed(QStringLiteral("Kitchen Laptop \u2615"));
        ASSERT_TRUE(hostnamed.ready());
        EXPECT_EQ(identity("PRETTY_HOSTNAME=FromFile\n", QStringLiteral("box")).computerName(),
                  QStringLiteral("Kitchen Laptop \u2615"));
    }
    FakeHostnamed empty(QString{});
    ASSERT_TRUE(empty.ready());
    EXPECT_EQ(identity("# by hand\nPRETTY_HOSTNAME=\"Den PC\"\n", QStringLiteral("box")).computerName(),
              QStringLiteral("Den PC"));
    EXPECT_EQ(identity("PRETTY_HOSTNAME=\n", QStringLiteral("a.local.b.local")).computerName(),
              QStringLiteral("a.b"));
}

} // namespace
} // namespace hb::actions
