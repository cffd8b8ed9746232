#pragma once
// Which display server the user's session runs on. A Wayland session stays a Wayland session
// when DISPLAY is set too: that is Xwayland, and X11 input there reaches only X11 windows.
#include <QString>

namespace hb::actions {

enum class SessionType { X11, Wayland, None };

/// From the values of XDG_SESSION_TYPE, WAYLAND_DISPLAY and DISPLAY.
SessionType sessionType(const QString& xdgSessionType, const QString& waylandDisplay, const QString& display);

/// The type of the session this process runs in, from its environment.
SessionType currentSessionType();

} // namespace hb::actions
