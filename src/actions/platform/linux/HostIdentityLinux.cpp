#include "HostIdentityLinux.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>
#include <QSysInfo>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

namespace hb::actions {
namespace {

// Asked at every configuration read: a silent hostnamed must not hold the request long.
constexpr int kHostnamedTimeoutMs = 500;
// machine-info is a few lines; anything bigger is not one.
constexpr qint64 kMaxMachineInfoBytes = 64 * 1024;
const QString kFallbackAddress = QStringLiteral("127.0.0.1");

bool isWired(const QString& name) {
    return name.startsWith(QStringLiteral("en")) || name.startsWith(QStringLiteral("eth"));
}

bool isWireless(const QString& name) {
    return name.startsWith(QStringLiteral("wl"));
}

bool qualifies(const InterfaceAddress& entry) {
    return entry.up && entry.running && !entry.loopback && entry.ipv4 && !entry.address.isEmpty();
}

QString firstMatching(const std::vector<InterfaceAddress>& interfaces, bool (*named)(const QString&)) {
    for (const InterfaceAddress& entry : interfaces) {
        if (qualifies(entry) && named(entry.name))
            return entry.address;
    }
    return {};
}

QString numericHost(const sockaddr* address) {
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(address, sizeof(sockaddr_in), host, sizeof host, nullptr, 0, NI_NUMERICHOST) != 0)
        return {};
    return QString::fromLatin1(host);
}

QString prettyHostnameFromHostnamed() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return {};
    QDBusMessage get = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.hostname1"), QStringLiteral("/org/freedesktop/hostname1"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({QStringLiteral("org.freedesktop.hostname1"), QStringLiteral("PrettyHostname")});
    const QDBusMessage reply = bus.call(get, QDBus::Block, kHostnamedTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().first().value<QDBusVariant>().variant().toString();
}

// Shell-style value: "double quoted" with backslash escapes, 'single quoted', or bare.
QString unquote(const QString& raw) {
    if (raw.startsWith(u'\'')) {
        const qsizetype end = raw.indexOf(u'\'', 1);
        return end < 0 ? QString() : raw.mid(1, end - 1);
    }
    const bool quoted = raw.startsWith(u'"');
    QString value;
    for (qsizetype i = quoted ? 1 : 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (quoted && c == u'"')
            return value;
        if (c == u'\\' && i + 1 < raw.size())
            value.append(raw.at(++i));
        else if (!quoted && c.isSpace())
            break;
        else
            value.append(c);
    }
    return quoted ? QString() : value; // an unterminated quote is no value
}

} // namespace

QString chooseLanAddress(const std::vector<InterfaceAddress>& interfaces) {
    QString address = firstMatching(interfaces, isWired);
    if (address.isEmpty())
        address = firstMatching(interfaces, isWireless);
    return address.isEmpty() ? kFallbackAddress : address;
}

std::vector<InterfaceAddress> systemInterfaceAddresses() {
    std::vector<InterfaceAddress> result;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return result;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || !entry->ifa_name)
            continue;
        InterfaceAddress item;
        item.name = QString::fromLocal8Bit(entry->ifa_name);
        item.up = (entry->ifa_flags & IFF_UP) != 0;
        item.running = (entry->ifa_flags & IFF_RUNNING) != 0;
        item.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
        item.ipv4 = entry->ifa_addr->sa_family == AF_INET;
        if (item.ipv4)
            item.address = numericHost(entry->ifa_addr);
        result.push_back(item);
    }
    ::freeifaddrs(list);
    return result;
}

QString prettyHostnameFromMachineInfo(const QByteArray& text) {
    const QString key = QStringLiteral("PRETTY_HOSTNAME=");
    QString found;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(key))
            found = unquote(line.mid(key.size())); // the last assignment wins, as in a shell
    }
    return found;
}

LinuxHostIdentity::LinuxHostIdentity()
    : LinuxHostIdentity(Options{QStringLiteral("/etc/machine-info"), {}}) {}

LinuxHostIdentity::LinuxHostIdentity(Options options) : options_(std::move(options)) {}

QString LinuxHostIdentity::lanIP() {
    return chooseLanAddress(systemInterfaceAddresses());
}

QString LinuxHostIdentity::computerName() {
    QString name = prettyHostnameFromHostnamed();
    if (!name.isEmpty())
        return name;
    QFile machineInfo(options_.machineInfoPath);
    if (machineInfo.open(QIODevice::ReadOnly))
        name = prettyHostnameFromMachineInfo(machineInfo.read(kMaxMachineInfoBytes));
    if (!name.isEmpty())
        return name;
    return hostName().remove(QStringLiteral(".local"));
}

QString LinuxHostIdentity::hostName() {
    return options_.hostName ? options_.hostName() : QSysInfo::machineHostName();
}

} // namespace hb::actions
