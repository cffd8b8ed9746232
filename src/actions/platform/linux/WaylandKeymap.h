#pragma once
// The keyboard layout the Wayland compositor gives its clients, read as a client would (the
// seat keyboard's keymap), so that only symbols the layout can produce are sent as keys.
#include "KeyboardKeys.h"

#include <map>
#include <memory>
#include <optional>

namespace hb::actions {

/// Where a symbol sits: the kernel (evdev) key code and whether Shift is needed.
struct KeyPlace {
    int evdevCode = 0;
    bool shifted = false;
};

class WaylandKeymap {
  public:
    /// Connects to $WAYLAND_DISPLAY; nullptr when there is no compositor or no seat.
    static std::unique_ptr<WaylandKeymap> connect();
    ~WaylandKeymap();
    WaylandKeymap(const WaylandKeymap&) = delete;
    WaylandKeymap& operator=(const WaylandKeymap&) = delete;

    /// Reads what the compositor sent since the last call (a new layout included). False when
    /// the connection is lost or no keymap arrived within a short wait.
    bool refresh();
    /// The key typing `sym` in the first layout group, unshifted places first.
    std::optional<KeyPlace> placeOf(Keysym sym) const;

    struct Client;

  private:
    WaylandKeymap() = default;
    std::unique_ptr<Client> client_;
};

} // namespace hb::actions
