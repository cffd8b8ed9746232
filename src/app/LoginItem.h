#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

namespace hb::app {

/// The user runs us as a systemd user service when this file exists; then no login item is made.
QString launchAgentMarkerPath();

/// The XDG autostart entry that starts us at login.
QString autostartEntryPath();

/// The autostart entry's text for `executablePath`; nothing when the path cannot be written
/// into an Exec line (relative, or containing a line break or NUL).
std::optional<QByteArray> autostartEntry(const QString& executablePath);

/// Makes the autostart entry unless the marker file exists, or the user turned the existing entry
/// off (Hidden=true, X-GNOME-Autostart-enabled=false). Returns true when an entry was written;
/// failures are not reported further.
bool registerLoginItem(const QString& executablePath);

} // namespace hb::app
