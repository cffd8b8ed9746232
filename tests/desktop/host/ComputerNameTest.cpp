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

bool systemBusIsPrivate() {
    const QString root = qEnvironmentVariable("HB_TEST_DESKTOP");
    return !root.isEmpty() &&
           qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS").startsWith(QStringLiteral("unix:path=") + root);
}

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
        if (!systemBusIsPrivate())
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

TEST_F(ComputerName, HostnamedPrettyNameComesFirst) {
    FakeHostnamed hostnamed(QStringLiteral("Kitchen Laptop \u2615"));
    ASSERT_TRUE(hostnamed.ready());
    EXPECT_EQ(identity("PRETTY_HOSTNAME=FromFile\n", QStringLiteral("box")).computerName(),
              QStringLiteral("Kitchen Laptop \u2615"));
}

TEST_F(ComputerName, EmptyPrettyNameFallsBackToMachineInfo) {
    FakeHostnamed hostnamed(QString{});
    ASSERT_TRUE(hostnamed.ready());
    EXPECT_EQ(identity("# set by hand\nPRETTY_HOSTNAME=\"Den \\\"PC\\\"\"\nCHASSIS=desktop\n",
                       QStringLiteral("box"))
                  .computerName(),
              QStringLiteral("Den \"PC\""));
}

TEST_F(ComputerName, WithoutHostnamedOrFileTheHostNameLosesDotLocal) {
    EXPECT_EQ(identity(QByteArray(), QStringLiteral("host-12.local")).computerName(),
              QStringLiteral("host-12"));
    EXPECT_EQ(identity("CHASSIS=laptop\n", QStringLiteral("a.local.b.local")).computerName(),
              QStringLiteral("a.b"));
    EXPECT_EQ(identity("PRETTY_HOSTNAME=\n", QStringLiteral("plain")).computerName(),
              QStringLiteral("plain"));
}

struct MachineInfoCase {
    const char* name;
    const char* text;
    const char* pretty;
};

class MachineInfo : public ::testing::TestWithParam<MachineInfoCase> {};

TEST_P(MachineInfo, PrettyHostnameIsReadLikeTheShellWould) {
    EXPECT_EQ(prettyHostnameFromMachineInfo(GetParam().text), QString::fromUtf8(GetParam().pretty));
}

INSTANTIATE_TEST_SUITE_P(
    Files, MachineInfo,
    ::testing::Values(MachineInfoCase{"bare", "PRETTY_HOSTNAME=Desk\n", "Desk"},
                      MachineInfoCase{"doubleQuoted", "PRETTY_HOSTNAME=\"Lab Desk\"", "Lab Desk"},
                      MachineInfoCase{"singleQuoted", "PRETTY_HOSTNAME='It\\s'", "It\\s"},
                      MachineInfoCase{"escapes", "PRETTY_HOSTNAME=\"a\\\\b\\\"c\"", "a\\b\"c"},
                      MachineInfoCase{"unicode", "PRETTY_HOSTNAME=\"Zo\xc3\xab's PC\"", "Zo\xc3\xab's PC"},
                      MachineInfoCase{"lastWins", "PRETTY_HOSTNAME=One\nPRETTY_HOSTNAME=Two\n", "Two"},
                      MachineInfoCase{"unterminated", "PRETTY_HOSTNAME=\"open", ""},
                      MachineInfoCase{"otherKeyOnly", "ICON_NAME=computer\n#PRETTY_HOSTNAME=x\n", ""},
                      MachineInfoCase{"indentedAndCrLf", "  PRETTY_HOSTNAME=Box\r\n", "Box"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hb::actions
