#pragma once
// Media keys through MPRIS (XF86Audio keys as fallback), volume and mute through pactl,
// sleep through logind, the screen saver through org.freedesktop.ScreenSaver.
#include "actions/Actions.h"

namespace hb::actions {

class LinuxInput;

class LinuxMedia final : public Media {
  public:
    /// `input` provides the key injector for the fallback and the permission prompt.
    explicit LinuxMedia(LinuxInput& input);

    bool mediaAction(const QString& name) override;
    bool setVolume(int level) override;
    int getVolume() override;
    bool setMuted(bool muted) override;
    bool isMuted() override;
    bool systemAction(const QString& name) override;

  private:
    LinuxInput& input_;
};

} // namespace hb::actions
