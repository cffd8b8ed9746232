#pragma once
// Key chords and text on Wayland through a virtual keyboard made with /dev/uinput. A kernel
// keyboard only has keys: text is typed with the compositor's layout, read as a Wayland client,
// and a text with a symbol that layout lacks is refused whole.
#include "InputInjector.h"

#include <memory>

namespace hb::actions {

class UinputInjector final : public InputInjector {
  public:
    /// True when /dev/uinput can be opened for writing.
    static bool available();
    /// An injector on the process's virtual keyboard, or nullptr when uinput is not writable.
    static std::unique_ptr<InputInjector> open();

    bool sendChord(const Chord& chord) override;
    bool typeKeysyms(const std::vector<Keysym>& keysyms) override;

  private:
    UinputInjector();
    std::shared_ptr<class WaylandKeymap> keymap_; ///< nothing without a Wayland compositor
};

} // namespace hb::actions
