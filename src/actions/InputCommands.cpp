#include "InputCommands.h"

#include <QJsonArray>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace hb::actions {

namespace {

struct NamedKey {
    const char* name;
    std::uint32_t keysym;
};

// X keysym values (keysymdef.h, XF86keysym.h).
constexpr NamedKey kKeys[] = {
    {"Escape", 0xff1b},
    {"Tab", 0xff09},
    {"Enter", 0xff0d},
    {"Backspace", 0xff08},
    {"Delete", 0xffff},
    {"Insert", 0xff63},
    {"Space", 0x20},
    {"ArrowUp", 0xff52},
    {"ArrowDown", 0xff54},
    {"ArrowLeft", 0xff51},
    {"ArrowRight", 0xff53},
    {"PageUp", 0xff55},
    {"PageDown", 0xff56},
    {"Home", 0xff50},
    {"End", 0xff57},
    {"F1", 0xffbe},
    {"F2", 0xffbf},
    {"F3", 0xffc0},
    {"F4", 0xffc1},
    {"F5", 0xffc2},
    {"F6", 0xffc3},
    {"F7", 0xffc4},
    {"F8", 0xffc5},
    {"F9", 0xffc6},
    {"F10", 0xffc7},
    {"F11", 0xffc8},
    {"F12", 0xffc9},
    {"MediaPlayPause", 0x1008ff14},
    {"MediaTrackNext", 0x1008ff17},
    {"MediaTrackPrevious", 0x1008ff16},
    {"MediaStop", 0x1008ff15},
    {"AudioVolumeUp", 0x1008ff13},
    {"AudioVolumeDown", 0x1008ff11},
    {"AudioVolumeMute", 0x1008ff12},
};

constexpr NamedKey kModifiers[] = {{"ctrl", 0xffe3}, {"alt", 0xffe9}, {"shift", 0xffe1}, {"super", 0xffeb}};

template <std::size_t N>
std::optional<std::uint32_t> lookUp(const NamedKey (&table)[N], const QString& name) {
    for (const NamedKey& entry : table)
        if (name == QLatin1String(entry.name))
            return entry.keysym;
    return std::nullopt;
}

/// A whole number within int range, cut to ±limit; nothing for anything else.
std::optional<int> whole(const QJsonValue& value, int limit) {
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number)
        return std::nullopt;
    return int(std::clamp(number, double(-limit), double(limit)));
}

/// Both of "dx" and "dy" present (one may be absent, counting as 0; not both).
std::optional<std::pair<int, int>> delta(const QJsonObject& object, int limit) {
    const QJsonValue x = object.value(QStringLiteral("dx"));
    const QJsonValue y = object.value(QStringLiteral("dy"));
    if (x.isUndefined() && y.isUndefined())
        return std::nullopt;
    const auto dx = x.isUndefined() ? std::optional<int>(0) : whole(x, limit);
    const auto dy = y.isUndefined() ? std::optional<int>(0) : whole(y, limit);
    if (!dx || !dy)
        return std::nullopt;
    return std::pair{*dx, *dy};
}

} // namespace

std::variant<PointerCommand, QString> parsePointer(const QJsonObject& body) {
    PointerCommand command;
    const QStringList keys = body.keys();
    const auto only = [&keys](QStringList allowed) {
        return std::all_of(keys.begin(), keys.end(), [&](const QString& k) { return allowed.contains(k); });
    };
    if (body.contains(QStringLiteral("scroll")) && only({QStringLiteral("scroll")})) {
        const auto notches = delta(body.value(QStringLiteral("scroll")).toObject(), kMaxScrollNotches);
        if (!notches)
            return QStringLiteral("scroll needs whole numbers dx and dy");
        command.kind = PointerCommand::Kind::Scroll;
        std::tie(command.dx, command.dy) = *notches;
        return command;
    }
    if (body.contains(QStringLiteral("button")) &&
        only({QStringLiteral("button"), QStringLiteral("action")})) {
        static const QStringList buttons{QStringLiteral("left"), QStringLiteral("middle"),
                                         QStringLiteral("right")};
        static const QStringList actions{QStringLiteral("click"), QStringLiteral("down"),
                                         QStringLiteral("up")};
        const qsizetype button = buttons.indexOf(body.value(QStringLiteral("button")).toString());
        const QJsonValue actionValue = body.value(QStringLiteral("action"));
        const qsizetype action = actionValue.isUndefined() ? 0 : actions.indexOf(actionValue.toString());
        if (button < 0 || action < 0)
            return QStringLiteral("button is left, right or middle; action is click, down or up");
        command.kind = PointerCommand::Kind::Button;
        command.button = PointerButton(button);
        command.action = ButtonAction(action);
        return command;
    }
    if (only({QStringLiteral("dx"), QStringLiteral("dy")})) {
        if (const auto motion = delta(body, kMaxPointerMotion)) {
            std::tie(command.dx, command.dy) = *motion;
            return command;
        }
    }
    return QStringLiteral("expected {dx, dy}, {button, action} or {scroll: {dx, dy}}");
}

std::variant<KeyCommand, QString> parseKey(const QJsonObject& body) {
    const auto key = lookUp(kKeys, body.value(QStringLiteral("key")).toString());
    if (!key)
        return QStringLiteral("unknown key");
    KeyCommand command{*key, {}};
    const QJsonValue modifiers = body.value(QStringLiteral("modifiers"));
    if (!modifiers.isUndefined() && !modifiers.isArray())
        return QStringLiteral("modifiers is a list of ctrl, alt, shift, super");
    for (const QJsonValue& name : modifiers.toArray()) {
        const auto modifier = lookUp(kModifiers, name.toString());
        if (!modifier)
            return QStringLiteral("unknown modifier");
        if (std::find(command.modifiers.begin(), command.modifiers.end(), *modifier) ==
            command.modifiers.end())
            command.modifiers.push_back(*modifier);
    }
    return command;
}

QStringList keyNames() {
    QStringList names;
    for (const NamedKey& entry : kKeys)
        names.append(QLatin1String(entry.name));
    return names;
}

} // namespace hb::actions
