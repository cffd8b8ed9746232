#pragma once
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace hb::actions {

/// One named gesture. The key code and modifier mask are the classic Mac virtual key codes
/// the phone app's gesture names were defined with; they are kept as data, and the Linux
/// backend maps each name to what the running desktop does for it.
struct Gesture {
    QString name;
    QString emoji;
    QString label;
    std::uint16_t keyCode = 0;
    std::uint64_t flags = 0;
    std::optional<QString> openApp;
};

inline constexpr std::uint64_t kFlagControl = 0x40000;
inline constexpr std::uint64_t kFlagOption = 0x80000;
inline constexpr std::uint64_t kFlagCommand = 0x100000;

/// The eight gestures, in a fixed order.
const std::vector<Gesture>& gestures();

/// The gesture with exactly this name, or nullptr.
const Gesture* findGesture(const QString& name);

} // namespace hb::actions
