#pragma once
// One D-Bus method call with a short, explicit timeout. Desktop services that hang must not
// hold a request thread for QtDBus's default 25 s.
#include <QDBusMessage>
#include <QString>
#include <QVariantList>
#include <optional>

namespace hb::actions {

enum class Bus { Session, System };

inline constexpr int kDBusTimeoutMs = 3000;

/// Where a method lives on a bus.
struct DBusMethod {
    Bus bus = Bus::Session;
    QString service;
    QString path;
    QString interface;
    QString method;
};

/// Calls `method` with `arguments`; the reply's arguments, or nothing on any error or timeout.
std::optional<QVariantList> callDBus(const DBusMethod& method, const QVariantList& arguments = {});

/// Reads one property through org.freedesktop.DBus.Properties.Get; nothing on error.
std::optional<QVariant> readDBusProperty(Bus bus, const QString& service, const QString& path,
                                         const QString& interface, const QString& property);

/// Unique and well-known names currently on `bus`, or empty when the bus is unreachable.
QStringList busNames(Bus bus);

} // namespace hb::actions
