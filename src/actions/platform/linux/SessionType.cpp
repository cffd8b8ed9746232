#include "SessionType.h"

namespace hb::actions {

SessionType sessionType(const QString& xdgSessionType, const QString& waylandDisplay,
                        const QString& display) {
    if (xdgSessionType.compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0 ||
        !waylandDisplay.isEmpty())
        return SessionType::Wayland;
    if (!display.isEmpty())
        return SessionType::X11;
    return SessionType::None;
}

SessionType currentSessionType() {
    return sessionType(qEnvironmentVariable("XDG_SESSION_TYPE"), qEnvironmentVariable("WAYLAND_DISPLAY"),
                       qEnvironmentVariable("DISPLAY"));
}

} // namespace hb::actions
