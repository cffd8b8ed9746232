#pragma once
// Desktop notifications (org.freedesktop.Notifications on the session bus).
#include <QString>

namespace hb::actions {

/// Shows a notification; a later call replaces the one shown before (no pile-up when a phone
/// retries). False when no notification service answered.
bool showNotification(const QString& summary, const QString& body);

} // namespace hb::actions
