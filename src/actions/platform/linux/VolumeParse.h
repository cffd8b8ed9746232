#pragma once
// Reading what pactl prints (in the C locale). Pure, so the parsing rules are tested alone.
#include <QString>

namespace hb::actions {

/// The first percentage of `pactl get-sink-volume` output ("Volume: front-left: 65536 / 100% /
/// 0.00 dB, ..."): digits only, no sign or fraction; -1 for anything else.
int parseSinkVolume(const QString& output);

/// True exactly when `pactl get-sink-mute` printed "Mute: yes" (surrounding blanks ignored).
bool parseSinkMute(const QString& output);

} // namespace hb::actions
