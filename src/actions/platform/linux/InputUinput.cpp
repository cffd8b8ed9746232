#include "InputUinput.h"

#include "WaylandKeymap.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/uinput.h>
#include <mutex>
#include <optional>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace hb::actions {

namespace {

constexpr const char* kUinputPath = "/dev/uinput";
constexpr const char* kDeviceName = "Harbly virtual keyboard";
// The compositor picks up a new input device asynchronously; keys sent before are lost.
constexpr auto kDeviceSettle = std::chrono::milliseconds(300);

struct KeyMapping {
    Keysym sym;
    int code;
};

// Every key a chord of the gesture map or a media key uses.
constexpr KeyMapping kKeys[] = {
    {keysym::kShiftL, KEY_LEFTSHIFT},
    {keysym::kControlL, KEY_LEFTCTRL},
    {keysym::kAltL, KEY_LEFTALT},
    {keysym::kSuperL, KEY_LEFTMETA},
    {keysym::kReturn, KEY_ENTER},
    {keysym::kTab, KEY_TAB},
    {keysym::kUp, KEY_UP},
    {keysym::kDown, KEY_DOWN},
    {keysym::kPageDown, KEY_PAGEDOWN},
    {keysym::kF1, KEY_F1},
    {keysym::kF2, KEY_F2},
    {keysym::kF7, KEY_F7},
    {keysym::kF9, KEY_F9},
    {keysym::kSpace, KEY_SPACE},
    {keysym::kA, KEY_A},
    {keysym::kD, KEY_D},
    {keysym::kH, KEY_H},
    {keysym::kW, KEY_W},
    {keysym::kAudioPlay, KEY_PLAYPAUSE},
    {keysym::kAudioPrev, KEY_PREVIOUSSONG},
    {keysym::kAudioNext, KEY_NEXTSONG},
};

std::optional<int> keyCodeFor(Keysym sym) {
    for (const KeyMapping& key : kKeys) {
        if (key.sym == sym)
            return key.code;
    }
    return std::nullopt;
}

// Keys below this are the keyboard's (the media keys included); above are buttons.
constexpr int kKeyboardKeys = 256;

// One virtual keyboard for the life of the process: creating one per call would cost the
// settle time on every gesture.
std::mutex deviceMutex;
int deviceFd = -1;

int createDevice() {
    const int fd = ::open(kUinputPath, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    bool ok = ::ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 && ::ioctl(fd, UI_SET_EVBIT, EV_SYN) == 0;
    // Every key of a full keyboard, so that text can use whatever key the layout puts it on.
    for (int code = KEY_ESC; code < kKeyboardKeys; ++code)
        ok = ok && ::ioctl(fd, UI_SET_KEYBIT, code) == 0;
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::strncpy(setup.name, kDeviceName, UINPUT_MAX_NAME_SIZE - 1);
    ok = ok && ::ioctl(fd, UI_DEV_SETUP, &setup) == 0 && ::ioctl(fd, UI_DEV_CREATE) == 0;
    if (!ok) {
        ::close(fd);
        return -1;
    }
    std::this_thread::sleep_for(kDeviceSettle);
    return fd;
}

bool emitEvent(int fd, int type, int code, int value) {
    input_event event{};
    event.type = static_cast<__u16>(type);
    event.code = static_cast<__u16>(code);
    event.value = value;
    return ::write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

bool emitKey(int fd, int code, bool down) {
    return emitEvent(fd, EV_KEY, code, down ? 1 : 0) && emitEvent(fd, EV_SYN, SYN_REPORT, 0);
}

} // namespace

bool UinputInjector::available() {
    return ::access(kUinputPath, W_OK) == 0;
}

UinputInjector::UinputInjector() : keymap_(WaylandKeymap::connect()) {}

std::unique_ptr<InputInjector> UinputInjector::open() {
    if (!available())
        return nullptr;
    return std::unique_ptr<InputInjector>(new UinputInjector());
}

namespace {
/// The device, created on first use; -1 when it cannot be. Caller holds deviceMutex.
int device() {
    if (deviceFd < 0)
        deviceFd = createDevice();
    return deviceFd;
}
} // namespace

bool UinputInjector::sendChord(const Chord& chord) {
    std::vector<int> modifiers;
    for (const Keysym sym : chord.modifiers) {
        const auto code = keyCodeFor(sym);
        if (!code)
            return false;
        modifiers.push_back(*code);
    }
    const auto key = keyCodeFor(chord.key);
    if (!key)
        return false;
    std::lock_guard lock(deviceMutex);
    const int fd = device();
    if (fd < 0)
        return false;
    bool ok = true;
    for (const int code : modifiers)
        ok = emitKey(fd, code, true) && ok;
    ok = emitKey(fd, *key, true) && ok;
    ok = emitKey(fd, *key, false) && ok;
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        ok = emitKey(fd, *it, false) && ok;
    return ok;
}

bool UinputInjector::typeKeysyms(const std::vector<Keysym>& keysyms) {
    // Without the compositor's layout a key code could type anything: refuse.
    if (!keymap_ || !keymap_->refresh())
        return false;
    std::vector<KeyPlace> places;
    for (const Keysym sym : keysyms) {
        const auto place = keymap_->placeOf(sym);
        if (!place)
            return false; // would be dropped: type nothing rather than part
        places.push_back(*place);
    }
    std::lock_guard lock(deviceMutex);
    const int fd = device();
    if (fd < 0)
        return false;
    bool ok = true;
    for (const KeyPlace& place : places) {
        if (place.shifted)
            ok = emitKey(fd, KEY_LEFTSHIFT, true) && ok;
        ok = emitKey(fd, place.evdevCode, true) && emitKey(fd, place.evdevCode, false) && ok;
        if (place.shifted)
            ok = emitKey(fd, KEY_LEFTSHIFT, false) && ok;
    }
    return ok;
}

} // namespace hb::actions
