#pragma once
// Something that can put synthetic key presses into the user's session.
#include "KeyboardKeys.h"
#include "actions/InputCommands.h"

#include <vector>

namespace hb::actions {

class InputInjector {
  public:
    virtual ~InputInjector() = default;
    /// Presses the modifiers, then the key; releases them in reverse order. True when sent.
    virtual bool sendChord(const Chord& chord) = 0;
    /// Types each keysym in order into the focused window. False when this injector cannot
    /// type arbitrary characters or sending failed.
    virtual bool typeKeysyms(const std::vector<Keysym>& keysyms) = 0;
    /// Relative pointer motion in pixels. False when this injector has no pointer.
    virtual bool pointerMotion(int /*dx*/, int /*dy*/) { return false; }
    virtual bool pointerButton(PointerButton /*button*/, bool /*pressed*/) { return false; }
    /// Scrolls by whole notches (positive: down, right).
    virtual bool pointerScroll(int /*dx*/, int /*dy*/) { return false; }
};

} // namespace hb::actions
