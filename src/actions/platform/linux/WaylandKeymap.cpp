#include "WaylandKeymap.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

namespace hb::actions {

namespace {

// The keymap comes with the keyboard object; the compositor answers within a round trip.
constexpr int kKeymapWaitMs = 1000;
// Evdev key codes are XKB key codes minus 8.
constexpr xkb_keycode_t kEvdevOffset = 8;

} // namespace

struct WaylandKeymap::Client {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    xkb_context* context = nullptr;
    std::map<Keysym, KeyPlace> places;
    bool haveKeymap = false;

    ~Client() {
        if (keyboard)
            wl_keyboard_destroy(keyboard);
        if (seat)
            wl_seat_destroy(seat);
        if (registry)
            wl_registry_destroy(registry);
        if (display)
            wl_display_disconnect(display);
        if (context)
            xkb_context_unref(context);
    }

    void readKeymap(int fd, uint32_t size) {
        void* text = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        ::close(fd);
        if (text == MAP_FAILED)
            return;
        xkb_keymap* keymap = xkb_keymap_new_from_buffer(
            context, static_cast<const char*>(text), ::strnlen(static_cast<const char*>(text), size),
            XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        ::munmap(text, size);
        if (!keymap)
            return;
        places.clear();
        const xkb_mod_mask_t shift = 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
        // Levels reached with no modifier first, then with Shift alone; nothing else is pressed.
        for (const bool shifted : {false, true}) {
            for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap);
                 ++code) {
                const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, code, 0);
                for (xkb_level_index_t level = 0; level < levels; ++level) {
                    xkb_mod_mask_t masks[8];
                    const size_t count = xkb_keymap_key_get_mods_for_level(keymap, code, 0, level, masks, 8);
                    const xkb_mod_mask_t wanted = shifted ? shift : 0;
                    if (std::find(masks, masks + count, wanted) == masks + count)
                        continue;
                    const xkb_keysym_t* syms = nullptr;
                    if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, level, &syms) == 1 &&
                        code >= kEvdevOffset)
                        places.try_emplace(syms[0], KeyPlace{int(code - kEvdevOffset), shifted});
                }
            }
        }
        xkb_keymap_unref(keymap);
        haveKeymap = true;
    }
};

namespace {

void onKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    auto* client = static_cast<WaylandKeymap::Client*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1)
        client->readKeymap(fd, size);
    else
        ::close(fd);
}
void onEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void onLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void onKey(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onModifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onRepeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener kKeyboardListener = {onKeymap, onEnter, onLeave, onKey, onModifiers, onRepeat};

void onCapabilities(void* data, wl_seat* seat, uint32_t capabilities) {
    auto* client = static_cast<WaylandKeymap::Client*>(data);
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !client->keyboard) {
        client->keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(client->keyboard, &kKeyboardListener, client);
    }
}
void onSeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeatListener = {onCapabilities, onSeatName};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    auto* client = static_cast<WaylandKeymap::Client*>(data);
    if (!client->seat && std::strcmp(interface, wl_seat_interface.name) == 0) {
        client->seat = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 4u)));
        wl_seat_add_listener(client->seat, &kSeatListener, client);
    }
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

} // namespace

std::unique_ptr<WaylandKeymap> WaylandKeymap::connect() {
    auto client = std::make_unique<Client>();
    client->display = wl_display_connect(nullptr);
    client->context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!client->display || !client->context)
        return nullptr;
    client->registry = wl_display_get_registry(client->display);
    wl_registry_add_listener(client->registry, &kRegistryListener, client.get());
    if (wl_display_roundtrip(client->display) < 0 || !client->seat)
        return nullptr;
    std::unique_ptr<WaylandKeymap> keymap(new WaylandKeymap);
    keymap->client_ = std::move(client);
    return keymap;
}

WaylandKeymap::~WaylandKeymap() = default;

bool WaylandKeymap::refresh() {
    wl_display* display = client_->display;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kKeymapWaitMs);
    // A round trip delivers the seat's capabilities, a second one the keyboard's keymap; a
    // seat that gains its keyboard later (a remote-desktop session just started) is waited for.
    while (true) {
        if (wl_display_roundtrip(display) < 0)
            return false;
        if (client_->haveKeymap)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        pollfd fd{wl_display_get_fd(display), POLLIN, 0};
        ::poll(&fd, 1, 20);
    }
}

std::optional<KeyPlace> WaylandKeymap::placeOf(Keysym sym) const {
    const auto found = client_->places.find(sym);
    if (found == client_->places.end())
        return std::nullopt;
    return found->second;
}

} // namespace hb::actions
