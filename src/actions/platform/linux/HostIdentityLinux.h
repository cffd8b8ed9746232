#pragma once
#include "actions/Actions.h"

#include <QString>
#include <functional>
#include <vector>

namespace hb::actions {

/// One address of one network interface, as the system lists it.
struct InterfaceAddress {
    QString name;
    bool up = false;
    bool running = false;
    bool loopback = false;
    bool ipv4 = false;
    QString address; ///< numeric host text; empty when it could not be converted
};

/// The LAN address among `interfaces` (in the system's order): up, running, not loopback,
/// IPv4, named en*/eth* (wired, preferred) or wl* (wireless); else "127.0.0.1".
QString chooseLanAddress(const std::vector<InterfaceAddress>& interfaces);

/// The machine's interface addresses from getifaddrs, in the system's order.
std::vector<InterfaceAddress> systemInterfaceAddresses();

/// Host identity from the kernel's interface list, systemd-hostnamed and /etc/machine-info.
class LinuxHostIdentity : public HostIdentity {
  public:
    struct Options {
        QString machineInfoPath;           ///< the machine-info file read when hostnamed is silent
        std::function<QString()> hostName; ///< the network host name; the system's when empty
    };

    LinuxHostIdentity();
    explicit LinuxHostIdentity(Options options);

    QString lanIP() override;
    /// hostnamed's PrettyHostname, else PRETTY_HOSTNAME of machine-info, else the host name
    /// with ".local" removed.
    QString computerName() override;
    QString hostName() override;

  private:
    Options options_;
};

/// The value of PRETTY_HOSTNAME in machine-info text (shell-style assignments), or empty.
QString prettyHostnameFromMachineInfo(const QByteArray& text);

} // namespace hb::actions
