#include "Notification.h"

#include "SystemDBus.h"

#include <QVariantMap>
#include <atomic>

namespace hb::actions {

namespace {

// Server default expiry.
constexpr int kDefaultExpiry = -1;

// The id of the last notification shown, passed back as replaces_id.
std::atomic<uint> lastNotificationId{0};

} // namespace

bool showNotification(const QString& summary, const QString& body) {
    const DBusMethod notify{Bus::Session, QStringLiteral("org.freedesktop.Notifications"),
                            QStringLiteral("/org/freedesktop/Notifications"),
                            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify")};
    const QVariantList arguments{QStringLiteral("Harbly"),
                                 QVariant::fromValue(lastNotificationId.load()),
                                 QStringLiteral("input-keyboard"),
                                 summary,
                                 body,
                                 QStringList(),
                                 QVariantMap(),
                                 QVariant::fromValue(kDefaultExpiry)};
    const auto reply = callDBus(notify, arguments);
    if (!reply)
        return false;
    if (!reply->isEmpty())
        lastNotificationId = reply->first().toUInt();
    return true;
}

} // namespace hb::actions
