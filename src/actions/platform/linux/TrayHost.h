#pragma once
// Whether the desktop shows tray icons at all (stock GNOME does not).

namespace hb::actions {

/// True when a StatusNotifierWatcher with a registered host runs on the session bus, or an
/// XEmbed system tray owns its selection on the X display.
bool trayHostPresent();

} // namespace hb::actions
