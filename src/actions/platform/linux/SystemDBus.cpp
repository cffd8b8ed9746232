#include "SystemDBus.h"

#include <QDBusConnection>
#include <QDBusVariant>

namespace hb::actions {

namespace {

QDBusConnection connection(Bus bus) {
    // systemBus() honours DBUS_SYSTEM_BUS_ADDRESS, which the test desktop points at a private bus.
    return bus == Bus::System ? QDBusConnection::systemBus() : QDBusConnection::sessionBus();
}

} // namespace

std::optional<QVariantList> callDBus(const DBusMethod& method, const QVariantList& arguments) {
    QDBusConnection bus = connection(method.bus);
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage call =
        QDBusMessage::createMethodCall(method.service, method.path, method.interface, method.method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kDBusTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply.arguments();
}

std::optional<QVariant> readDBusProperty(Bus bus, const QString& service, const QString& path,
                                         const QString& interface, const QString& property) {
    const DBusMethod get{bus, service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                         QStringLiteral("Get")};
    const auto reply = callDBus(get, {interface, property});
    if (!reply || reply->isEmpty())
        return std::nullopt;
    return reply->first().value<QDBusVariant>().variant();
}

QStringList busNames(Bus bus) {
    const DBusMethod listNames{bus, QStringLiteral("org.freedesktop.DBus"),
                               QStringLiteral("/org/freedesktop/DBus"),
                               QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListNames")};
    const auto reply = callDBus(listNames);
    if (!reply || reply->isEmpty())
        return {};
    return reply->first().toStringList();
}

} // namespace hb::actions
