// lanIP: the selection rule on listed entries, and for real in network namespaces built with
// veth pairs (root only).
#include "actions/platform/linux/HostIdentityLinux.h"

#include <QFile>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace hb::actions {
namespace {

const QString kIp = QStringLiteral("/usr/sbin/ip");
constexpr int kCarrierPolls = 100;
constexpr auto kCarrierPollInterval = std::chrono::milliseconds(50);

InterfaceAddress entry(const char* name, const char* address, bool running = true) {
    return InterfaceAddress{QString::fromLatin1(name),   true, running, false, true,
                            QString::fromLatin1(address)};
}

TEST(LanAddressChoice, EntriesThatCannotQualify) {
    InterfaceAddress loopbackNamedLikeEthernet = entry("eth0", "127.0.0.2");
    loopbackNamedLikeEthernet.loopback = true;
    InterfaceAddress down = entry("eth1", "10.0.0.1");
    down.up = false;
    InterfaceAddress ipv6 = entry("eth2", "fd00::1");
    ipv6.ipv4 = false;
    const InterfaceAddress unconverted = entry("eth3", "");
    EXPECT_EQ(chooseLanAddress(
                  {loopbackNamedLikeEthernet, down, ipv6, unconverted, entry("eth4", "10.0.0.4", false)}),
              QStringLiteral("127.0.0.1"));
    EXPECT_EQ(chooseLanAddress({}), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(chooseLanAddress(
                  {entry("wlan0", "10.0.2.1"), entry("veth0", "10.0.3.1"), entry("enp3s0", "10.0.4.1")}),
              QStringLiteral("10.0.4.1"));
}

bool ip(const QStringList& arguments) {
    return runProcess(kIp, arguments).status == 0;
}

/// A throw-away network namespace, removed on destruction.
class NetNamespace {
  public:
    NetNamespace() : name_(QStringLiteral("hbhost%1n%2").arg(::getpid()).arg(counter_++)) {
        created_ = ip({QStringLiteral("netns"), QStringLiteral("add"), name_});
    }
    ~NetNamespace() {
        if (created_)
            ip({QStringLiteral("netns"), QStringLiteral("del"), name_});
    }
    bool created() const { return created_; }

    /// A veth pair whose named end carries `address` (a /24 or /64); "running" needs the peer up.
    bool addLink(const QString& name, const QString& address, bool up, bool peerUp) {
        const QString peer = QStringLiteral("xpeer%1").arg(peers_++);
        bool ok = inside({QStringLiteral("link"), QStringLiteral("add"), name, QStringLiteral("type"),
                          QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"), peer});
        QStringList addr{QStringLiteral("addr"), QStringLiteral("add"), address, QStringLiteral("dev"), name};
        if (address.contains(u':'))
            addr.append(QStringLiteral("nodad"));
        ok = ok && inside(addr);
        if (up)
            ok = ok && inside({QStringLiteral("link"), QStringLiteral("set"), name, QStringLiteral("up")});
        if (peerUp)
            ok = ok && inside({QStringLiteral("link"), QStringLiteral("set"), peer, QStringLiteral("up")});
        return ok && (!(up && peerUp) || waitUntilRunning(name));
    }
    bool loopbackUp() {
        return inside(
            {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")});
    }

    /// lanIP as the agent would answer inside the namespace (from a thread moved into it).
    QString lanIP() {
        QString answer = QStringLiteral("<not entered>");
        std::thread worker([&] {
            const int fd = ::open(QFile::encodeName(QStringLiteral("/run/netns/") + name_).constData(),
                                  O_RDONLY | O_CLOEXEC);
            if (fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0)
                answer = LinuxHostIdentity().lanIP();
            if (fd >= 0)
                ::close(fd);
        });
        worker.join();
        return answer;
    }

  private:
    // The kernel reports carrier a moment after both ends are up.
    bool waitUntilRunning(const QString& name) {
        for (int attempt = 0; attempt < kCarrierPolls; ++attempt) {
            const ProcessResult shown =
                runProcess(kIp, {QStringLiteral("-n"), name_, QStringLiteral("-o"), QStringLiteral("link"),
                                 QStringLiteral("show"), QStringLiteral("dev"), name});
            if (shown.output.contains(QStringLiteral(" state UP ")))
                return true;
            std::this_thread::sleep_for(kCarrierPollInterval);
        }
        return false;
    }

    bool inside(const QStringList& arguments) {
        return ip(QStringList{QStringLiteral("-n"), name_} + arguments);
    }

    static inline int counter_ = 0;
    QString name_;
    int peers_ = 0;
    bool created_ = false;
};

struct Link {
    const char* name;
    const char* address;
    bool up = true;
    bool peerUp = true;
};

struct NamespaceCase {
    const char* name;
    std::vector<Link> links; // created in this order, which is the system's listing order
    const char* expected;
};

class LanAddressInNamespace : public ::testing::TestWithParam<NamespaceCase> {
  protected:
    void SetUp() override {
        if (::geteuid() != 0 || !QFile::exists(kIp))
            GTEST_SKIP() << "network namespaces need root and iproute2";
    }
};

TEST_P(LanAddressInNamespace, ChoosesLikeTheAgent) {
    NetNamespace ns;
    if (!ns.created())
        GTEST_SKIP() << "this environment does not allow network namespaces";
    ASSERT_TRUE(ns.loopbackUp());
    for (const Link& link : GetParam().links)
        ASSERT_TRUE(ns.addLink(QString::fromLatin1(link.name), QString::fromLatin1(link.address), link.up,
                               link.peerUp))
            << link.name;
    EXPECT_EQ(ns.lanIP(), QString::fromLatin1(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Links, LanAddressInNamespace,
    ::testing::Values(
        NamespaceCase{
            "loopbackAndTunnelOnly", {{"tun0", "10.9.0.2/24"}, {"docker0", "172.17.0.1/16"}}, "127.0.0.1"},
        NamespaceCase{
            "wiredBeforeWireless", {{"wlp2s0", "10.0.2.5/24"}, {"eth1", "10.0.1.5/24"}}, "10.0.1.5"},
        NamespaceCase{"wirelessAlone", {{"tun0", "10.9.0.2/24"}, {"wlan0", "10.0.2.6/24"}}, "10.0.2.6"},
        NamespaceCase{"upButNotRunningSkipped",
                      {{"en1", "10.0.1.7/24", true, false}, {"en2", "10.0.3.7/24"}},
                      "10.0.3.7"},
        NamespaceCase{
            "downSkipped", {{"eth0", "10.0.1.8/24", false, true}, {"wl0", "10.0.2.8/24"}}, "10.0.2.8"},
        NamespaceCase{"ipv6OnlySkipped", {{"enp1s0", "fd00::5/64"}, {"wl0", "10.0.2.9/24"}}, "10.0.2.9"},
        NamespaceCase{
            "firstWiredInSystemOrder", {{"eth2", "10.0.4.5/24"}, {"enp0s3", "10.0.5.5/24"}}, "10.0.4.5"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hb::actions
