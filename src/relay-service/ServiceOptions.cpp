#include "relay-service/ServiceOptions.h"

#include "core/Env.h"

#include <QDir>
#include <algorithm>
#include <sys/resource.h>
#include <unistd.h>

namespace hb::relay::service {
namespace {

constexpr qint64 kReservedDescriptors = 64;
// Resident memory of one idle agent link, measured by bench/relay_scale, with room to spare.
constexpr qint64 kLinkBytes = 24 * 1024;
constexpr qint64 kMiB = 1024 * 1024;

qint64 raisedDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur == RLIM_INFINITY ? qint64(1) << 20 : qint64(limit.rlim_cur);
}

qint64 physicalMemory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : 1024 * kMiB;
}

std::optional<int> rate(const char* name, QString* error) {
    const auto text = env::get(name);
    if (!text || text->isEmpty())
        return -1;
    const auto value = env::parseInt64(*text);
    if (!value || *value < 0 || *value > 1'000'000) {
        *error = QString::fromLatin1(name) + QStringLiteral(" is not a rate per second: ") + *text;
        return std::nullopt;
    }
    return int(*value);
}

QString defaultStateDir() {
    if (const auto dir = env::get("STATE_DIRECTORY"); dir && !dir->isEmpty())
        return dir->section(u':', 0, 0); // systemd's StateDirectory=
    const QString xdg = env::getOr("XDG_STATE_HOME", QDir::homePath() + QStringLiteral("/.local/state"));
    return xdg + QStringLiteral("/harbly-relay");
}

} // namespace

void deriveCaps(ServiceOptions& options, qint64 descriptors, qint64 memoryBytes) {
    const qint64 connections = std::max<qint64>(descriptors - kReservedDescriptors, 16);
    options.maxConnections = int(std::min<qint64>(connections, 1 << 30));
    // Agents get at most seven eighths of the connections, so that phones always find room.
    const qint64 agents = std::min(connections - connections / 8, memoryBytes / kLinkBytes);
    options.maxAgents = int(std::clamp<qint64>(agents, 1, 1 << 30));
}

std::optional<ServiceOptions> optionsFromEnvironment(QString* error) {
    ServiceOptions options;
    if (const auto text = env::get("HB_RELAY_PORT"); text && !text->isEmpty()) {
        const auto port = env::parsePort(*text);
        if (!port) {
            *error = QStringLiteral("HB_RELAY_PORT is not a port number: ") + *text;
            return std::nullopt;
        }
        options.port = *port;
    }
    if (const auto text = env::get("HB_RELAY_LISTEN"); text && !text->isEmpty()) {
        if (!options.address.setAddress(*text)) {
            *error = QStringLiteral("HB_RELAY_LISTEN is not an IP address: ") + *text;
            return std::nullopt;
        }
    }
    if (const auto text = env::get("HB_RELAY_PROXY"); text && !text->isEmpty()) {
        if (!options.trustedProxy.setAddress(*text)) {
            *error = QStringLiteral("HB_RELAY_PROXY is not an IP address: ") + *text;
            return std::nullopt;
        }
    }
    options.certPath = env::getOr("HB_RELAY_CERT", QString());
    options.keyPath = env::getOr("HB_RELAY_KEY", QString());
    if (options.certPath.isEmpty() != options.keyPath.isEmpty()) {
        *error = QStringLiteral("HB_RELAY_CERT and HB_RELAY_KEY must be given together");
        return std::nullopt;
    }
    options.stateDir = env::getOr("HB_RELAY_STATE_DIR", QString());
    if (options.stateDir.isEmpty())
        options.stateDir = defaultStateDir();
    const auto links = rate("HB_RELAY_LINK_RATE", error);
    const auto requests = rate("HB_RELAY_REQUEST_RATE", error);
    const auto memoryMiB = rate("HB_RELAY_MEMORY_MB", error);
    if (!links || !requests || !memoryMiB)
        return std::nullopt;
    if (*links >= 0)
        options.linksPerSecond = *links;
    if (*requests >= 0)
        options.requestsPerSecond = *requests;
    // Three quarters of the machine unless told otherwise: the rest is the kernel's socket buffers.
    const qint64 memory = *memoryMiB > 0 ? *memoryMiB * kMiB : physicalMemory() / 4 * 3;
    deriveCaps(options, raisedDescriptorLimit(), memory);
    return options;
}

} // namespace hb::relay::service
