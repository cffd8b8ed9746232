#include "InputUinput.h"

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

// One virtual keyboard for the life of the process: creating one per call would cost the
// settle time on every gesture.
std::mutex deviceMutex;
int deviceFd = -1;

int createDevice() {
    const int fd = ::open(kUinputPath, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    bool ok = ::ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0 && ::ioctl(fd, UI_SET_EVBIT, EV_SYN) == 0;
    for (const KeyMapping& key : kKeys)
        ok = ok && ::ioctl(fd, UI_SET_KEYBIT, key.code) == 0;
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

std::unique_ptr<InputInjector> UinputInjector::open() {
    if (!available())
        return nullptr;
    return std::unique_ptr<InputInjector>(new UinputInjector());
}

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
    if (deviceFd < 0)
        deviceFd = createDevice();
    if (deviceFd < 0)
        return false;
    bool ok = true;
    for (const int code : modifiers)
        ok = emitKey(deviceFd, code, true) && ok;
    ok = emitKey(deviceFd, *key, true) && ok;
    ok = emitKey(deviceFd, *key, false) && ok;
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        ok = emitKey(deviceFd, *it, false) && ok;
    return ok;
}

bool UinputInjector::typeKeysyms(const std::vector<Keysym>&) {
    return false;
}

} // namespace hb::actions
