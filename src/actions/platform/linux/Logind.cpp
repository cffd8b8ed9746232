#include "Logind.h"

#include "SystemDBus.h"

#include <QCoreApplication>
#include <QDBusObjectPath>

namespace hb::actions::logind {

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

DBusMethod manager(const QString& method) {
    return DBusMethod{Bus::System, kService, kManagerPath, kManager, method};
}

bool lockNamedSession() {
    const QString id = qEnvironmentVariable("XDG_SESSION_ID");
    return !id.isEmpty() && callDBus(manager(QStringLiteral("LockSession")), {id}).has_value();
}

bool lockOwnSession() {
    const auto pid = static_cast<uint>(QCoreApplication::applicationPid());
    const auto session = callDBus(manager(QStringLiteral("GetSessionByPID")), {pid});
    if (!session || session->isEmpty())
        return false;
    const QString path = session->first().value<QDBusObjectPath>().path();
    if (path.isEmpty())
        return false;
    const DBusMethod lock{Bus::System, kService, path, QStringLiteral("org.freedesktop.login1.Session"),
                          QStringLiteral("Lock")};
    return callDBus(lock).has_value();
}

} // namespace

bool suspend() {
    return callDBus(manager(QStringLiteral("Suspend")), {false}).has_value();
}

bool lockSession() {
    return lockNamedSession() || lockOwnSession() ||
           callDBus(manager(QStringLiteral("LockSessions"))).has_value();
}

} // namespace hb::actions::logind
