#pragma once
// Output volume and mute of the default PulseAudio (or pipewire-pulse) sink, through pactl.
namespace hb::actions::pulse {

/// Sets the default sink's volume to `level` clamped to 0..100 %; true when pactl succeeded.
bool setVolume(int level);
/// The default sink's volume in percent, or -1.
int getVolume();
bool setMuted(bool muted);
/// True only when pactl ran and reported the sink muted.
bool isMuted();

} // namespace hb::actions::pulse
