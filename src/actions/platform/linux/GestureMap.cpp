#include "GestureMap.h"

#include <QStringList>
#include <map>
#include <utility>

namespace hb::actions {

namespace {

using namespace keysym;
using Key = std::pair<Desktop, QString>;

GestureStep chord(std::vector<Keysym> modifiers, Keysym key) {
    return GestureStep{GestureStep::Kind::Chord, Chord{std::move(modifiers), key}, {}, {}};
}

GestureStep call(const char* service, const char* path, const char* interface, const char* method,
                 QVariantList arguments = {}) {
    const DBusMethod target{Bus::Session, QString::fromLatin1(service), QString::fromLatin1(path),
                            QString::fromLatin1(interface), QString::fromLatin1(method)};
    return GestureStep{GestureStep::Kind::DBus, {}, target, std::move(arguments)};
}

/// A KWin global shortcut, invoked by its action name.
GestureStep kwin(const char* action) {
    return call("org.kde.kglobalaccel", "/component/kwin", "org.kde.kglobalaccel.Component", "invokeShortcut",
                {QString::fromLatin1(action)});
}

const GestureStep kLock{GestureStep::Kind::LockSession, {}, {}, {}};

std::map<Key, std::vector<GestureStep>> buildTable() {
    const auto gnome = [](const char* name) { return Key{Desktop::Gnome, QString::fromLatin1(name)}; };
    const auto kde = [](const char* name) { return Key{Desktop::Kde, QString::fromLatin1(name)}; };
    const auto other = [](const char* name) { return Key{Desktop::Other, QString::fromLatin1(name)}; };
    return {
        // GNOME Shell: the overview is the Super key; its app grid has a D-Bus method that
        // newer versions restrict, so the chord stands behind it. GNOME binds no key to
        // showing the desktop and has no view of one application's windows: those two are
        // not offered rather than pressing keys that do nothing.
        {gnome("minimize"), {chord({kSuperL}, kH)}},
        {gnome("mission_control"), {chord({}, kSuperL)}},
        {gnome("spotlight"), {chord({}, kSuperL)}},
        {gnome("lock_screen"), {kLock}},
        {gnome("launchpad"),
         {call("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "ShowApplications"),
          chord({kSuperL}, kA)}},
        // KDE Plasma: KWin's named global shortcuts, with their default keys as fallback.
        {kde("minimize"), {kwin("Window Minimize"), chord({kSuperL}, kPageDown)}},
        {kde("mission_control"), {kwin("Overview"), chord({kSuperL}, kW)}},
        {kde("app_windows"), {kwin("ExposeClass"), chord({kControlL}, kF7)}},
        {kde("show_desktop"), {kwin("Show Desktop"), chord({kSuperL}, kD)}},
        {kde("spotlight"),
         {call("org.kde.krunner", "/App", "org.kde.krunner.App", "display"), chord({kAltL}, kSpace)}},
        {kde("lock_screen"), {kLock}},
        {kde("launchpad"),
         {call("org.kde.plasmashell", "/PlasmaShell", "org.kde.PlasmaShell", "activateLauncherMenu"),
          chord({kAltL}, kF1)}},
        // Other X11 desktops (Xfce, MATE, Cinnamon, bare window managers): the common defaults.
        // Not used on Wayland, where such compositors (sway, Hyprland, ...) bind none of them.
        {other("minimize"), {chord({kAltL}, kF9)}},
        {other("mission_control"), {chord({kControlL, kAltL}, kUp)}},
        {other("app_windows"), {chord({kControlL, kAltL}, kDown)}},
        {other("show_desktop"), {chord({kSuperL}, kD)}},
        {other("spotlight"), {chord({kAltL}, kF2)}},
        {other("lock_screen"), {kLock}},
        {other("launchpad"), {chord({}, kSuperL)}},
    };
}

} // namespace

Desktop desktopFromName(const QString& xdgCurrentDesktop) {
    const QStringList names = xdgCurrentDesktop.toUpper().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        const QString trimmed = name.trimmed();
        if (trimmed == QLatin1String("GNOME") || trimmed == QLatin1String("GNOME-CLASSIC"))
            return Desktop::Gnome;
        if (trimmed == QLatin1String("KDE"))
            return Desktop::Kde;
    }
    return Desktop::Other;
}

std::vector<GestureStep> gestureSteps(Desktop desktop, const QString& name) {
    static const std::map<Key, std::vector<GestureStep>> table = buildTable();
    const auto found = table.find(Key{desktop, name});
    return found == table.end() ? std::vector<GestureStep>{} : found->second;
}

} // namespace hb::actions
