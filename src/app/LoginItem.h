#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

namespace hb::app {

/// The systemd user unit. When it exists the user runs us as a service (the launch-agent marker
/// of the macOS agent): no login item is made.
QString systemdUserUnitPath();

/// The XDG autostart entry that starts us at login.
QString autostartEntryPath();

/// The autostart entry's text for `executablePath`; nothing when the path cannot be written
/// into an Exec line (relative, or containing a line break or NUL).
std::optional<QByteArray> autostartEntry(const QString& executablePath);

/// Makes the autostart entry unless the marker file exists, or the user turned the existing entry
/// off (Hidden=true, X-GNOME-Autostart-enabled=false). Returns true when an entry was written;
/// failures are not reported further.
bool registerLoginItem(const QString& executablePath);

/// True when the autostart entry exists and is not switched off.
bool loginItemEnabled();

/// The "Start at login" switch: writes the entry (replacing one switched off) or removes it.
/// Nothing on success, else a message for the user (the systemd unit runs us, or a file error).
std::optional<QString> switchLoginItem(bool enabled, const QString& executablePath);

} // namespace hb::app
