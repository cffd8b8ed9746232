#pragma once
// Key chords on Wayland through a virtual keyboard made with /dev/uinput. It cannot type
// arbitrary characters: a kernel keyboard only has the keys of its layout.
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
    UinputInjector() = default;
};

} // namespace hb::actions
