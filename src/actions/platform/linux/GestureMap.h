#pragma once
// What each gesture does on the running desktop: a key chord, a D-Bus call, or a logind lock.
// Kept as data; the gesture names, labels and Mac key codes stay in actions/Gestures.h.
#include "KeyboardKeys.h"
#include "SystemDBus.h"

#include <QString>
#include <QVariantList>
#include <vector>

namespace hb::actions {

enum class Desktop { Gnome, Kde, Other };

/// The desktop named by XDG_CURRENT_DESKTOP (a colon-separated list, any case).
Desktop desktopFromName(const QString& xdgCurrentDesktop);

/// One way to perform a gesture.
struct GestureStep {
    enum class Kind { Chord, DBus, LockSession };
    Kind kind = Kind::Chord;
    Chord chord;
    DBusMethod method;
    QVariantList arguments;
};

/// The ways to perform gesture `name` on `desktop`, best first; the first that succeeds wins.
/// Empty for names that are not gestures and for gestures this desktop has no equivalent of.
std::vector<GestureStep> gestureSteps(Desktop desktop, const QString& name);

} // namespace hb::actions
