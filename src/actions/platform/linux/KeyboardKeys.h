#pragma once
// Key symbols (X keysym values, which uinput and tests share) and the small pure helpers that
// turn text into them. No X headers here.
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace hb::actions {

using Keysym = std::uint32_t;

namespace keysym {
inline constexpr Keysym kShiftL = 0xffe1;
inline constexpr Keysym kControlL = 0xffe3;
inline constexpr Keysym kAltL = 0xffe9;
inline constexpr Keysym kSuperL = 0xffeb;
inline constexpr Keysym kReturn = 0xff0d;
inline constexpr Keysym kTab = 0xff09;
inline constexpr Keysym kUp = 0xff52;
inline constexpr Keysym kDown = 0xff54;
inline constexpr Keysym kPageDown = 0xff56;
inline constexpr Keysym kF1 = 0xffbe;
inline constexpr Keysym kF2 = 0xffbf;
inline constexpr Keysym kF7 = 0xffc4;
inline constexpr Keysym kF9 = 0xffc6;
inline constexpr Keysym kSpace = 0x20;
inline constexpr Keysym kA = 0x61;
inline constexpr Keysym kD = 0x64;
inline constexpr Keysym kH = 0x68;
inline constexpr Keysym kW = 0x77;
inline constexpr Keysym kAudioPlay = 0x1008ff14;
inline constexpr Keysym kAudioPrev = 0x1008ff16;
inline constexpr Keysym kAudioNext = 0x1008ff17;
/// Unicode characters outside Latin-1 have keysym 0x01000000 + code point.
inline constexpr Keysym kUnicodeBase = 0x01000000;
} // namespace keysym

/// Modifiers held while `key` is pressed and released.
struct Chord {
    std::vector<Keysym> modifiers;
    Keysym key = 0;
};

/// The keysym that types `codePoint`; nothing for control characters and non-characters.
/// Line feed and carriage return type Return, tab types Tab.
std::optional<Keysym> keysymForCodePoint(char32_t codePoint);

/// The keysyms that type `text`, in order; characters without one are left out, and a
/// carriage return before a line feed is dropped (one Return per line break).
std::vector<Keysym> keysymsForText(const QString& text);

/// Splits `keysyms` into consecutive runs in which at most `distinctLimit` different keysyms
/// need a spare keycode (those for which `needsSpare` holds; the others are on the keyboard
/// already). Empty when there is nothing to type, or a keysym needs a spare and there is none.
std::vector<std::vector<Keysym>> batchesForSpareKeys(const std::vector<Keysym>& keysyms,
                                                     std::size_t distinctLimit,
                                                     const std::function<bool(Keysym)>& needsSpare);

} // namespace hb::actions
