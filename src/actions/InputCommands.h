#pragma once
// What a phone may ask of the pointer and the keyboard, checked before anything reaches the
// desktop: relative motion, buttons, scrolling, and named keys from a fixed list with
// modifiers. Pure functions; the injectors never see an unchecked request.
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <variant>
#include <vector>

namespace hb::actions {

enum class PointerButton { Left, Middle, Right };
enum class ButtonAction { Click, Down, Up };

struct PointerCommand {
    enum class Kind { Move, Button, Scroll };
    Kind kind = Kind::Move;
    int dx = 0; ///< pixels for Move, notches for Scroll (positive: right)
    int dy = 0; ///< pixels for Move, notches for Scroll (positive: down)
    PointerButton button = PointerButton::Left;
    ButtonAction action = ButtonAction::Click;
    bool operator==(const PointerCommand&) const = default;
};

/// A key and the modifiers held around it, as X keysyms (the values Wayland paths use too).
struct KeyCommand {
    std::uint32_t keysym = 0;
    std::vector<std::uint32_t> modifiers;
    bool operator==(const KeyCommand&) const = default;
};

/// Motion beyond this many pixels per request, either way, is cut to it.
inline constexpr int kMaxPointerMotion = 2000;
/// Scrolling beyond this many notches per request, either way, is cut to it.
inline constexpr int kMaxScrollNotches = 50;

/// {"dx", "dy"} | {"button": "left"|"right"|"middle", "action": "click"|"down"|"up"} |
/// {"scroll": {"dx", "dy"}}; whole numbers only. Anything else: the error to answer.
std::variant<PointerCommand, QString> parsePointer(const QJsonObject& body);

/// {"key": NAME, "modifiers": ["ctrl"|"alt"|"shift"|"super", ...]} with NAME from keyNames().
std::variant<KeyCommand, QString> parseKey(const QJsonObject& body);

/// The key names "/api/key" accepts (the browser's KeyboardEvent.key names for them).
QStringList keyNames();

} // namespace hb::actions
