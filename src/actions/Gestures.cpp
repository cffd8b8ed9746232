#include "actions/Gestures.h"

namespace hb::actions {

const std::vector<Gesture>& gestures() {
    static const std::vector<Gesture> table = {
        {QStringLiteral("minimize"), QStringLiteral("\u2B07\uFE0F"), QStringLiteral("Minimize"), 46,
         kFlagCommand, std::nullopt},
        {QStringLiteral("hide_others"), QStringLiteral("\U0001F648"), QStringLiteral("Hide others"), 4,
         kFlagCommand | kFlagOption, std::nullopt},
        {QStringLiteral("mission_control"), QStringLiteral("\U0001F5C2\uFE0F"),
         QStringLiteral("Mission Control"), 126, kFlagControl, std::nullopt},
        {QStringLiteral("app_windows"), QStringLiteral("\U0001FA9F"), QStringLiteral("App Windows"), 125,
         kFlagControl, std::nullopt},
        {QStringLiteral("show_desktop"), QStringLiteral("\U0001F5A5\uFE0F"), QStringLiteral("Show Desktop"),
         103, 0, std::nullopt},
        {QStringLiteral("spotlight"), QStringLiteral("\U0001F50D"), QStringLiteral("Spotlight"), 49,
         kFlagCommand, std::nullopt},
        {QStringLiteral("lock_screen"), QStringLiteral("\U0001F512"), QStringLiteral("Lock Screen"), 12,
         kFlagCommand | kFlagControl, std::nullopt},
        {QStringLiteral("launchpad"), QStringLiteral("\U0001F680"), QStringLiteral("Launchpad"), 0, 0,
         QStringLiteral("Launchpad")},
    };
    return table;
}

const Gesture* findGesture(const QString& name) {
    for (const Gesture& gesture : gestures()) {
        if (gesture.name == name)
            return &gesture;
    }
    return nullptr;
}

} // namespace hb::actions
