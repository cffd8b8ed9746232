#pragma once
// Media players on the session bus (MPRIS, org.mpris.MediaPlayer2.*).
#include <QString>

namespace hb::actions::mpris {

/// The player to control: the first one whose PlaybackStatus is "Playing", else the first
/// player by name; empty when there is none.
QString activePlayer();

/// Calls org.mpris.MediaPlayer2.Player.<method> on `player`; true when it answered.
bool callPlayer(const QString& player, const QString& method);

} // namespace hb::actions::mpris
