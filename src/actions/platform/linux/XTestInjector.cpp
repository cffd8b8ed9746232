#include "XTestInjector.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

// X headers last: they define macros (None, Bool, Status) that clash with Qt's.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace hb::actions {

namespace {

// Clients re-read the keymap when told it changed, and read it as it is then, not as it was
// when the keys were sent: borrowed symbols must stay in place until slow clients caught up.
// A keycode typed through is rebound for other symbols no sooner than this...
constexpr auto kRemapSettle = std::chrono::milliseconds(400);
// ...and after the last use the borrowed keycodes are emptied in the background this much later.
constexpr auto kReleaseDelay = std::chrono::seconds(1);
// The same symbol on both shift levels, so a held Shift does not change what is typed.
constexpr int kSymsPerSpareKey = 2;

// One keyboard user at a time: typing rebinds keycodes that every client shares.
std::mutex keyboardMutex;

/// Keycodes bound by us on one display, with the time keys were last typed through each.
using HeldKeys = std::map<KeyCode, std::chrono::steady_clock::time_point>;
/// Keycodes we bound and have not emptied yet, per display; guarded by keyboardMutex. Never
/// freed: a delayed release may still run while the process exits.
struct BorrowedKeys {
    std::map<QByteArray, HeldKeys> byDisplay;
    unsigned generation = 0; ///< bumped by every use; a release armed earlier then stands down
};
BorrowedKeys& borrowedKeys() {
    static auto* keys = new BorrowedKeys;
    return *keys;
}

// Xlib's default error handler ends the process. Errors on our own connections are counted
// instead; errors on anyone else's go to the handler that was installed before ours.
// Never freed, like the borrowed keys: a delayed release may still run while the process exits.
std::mutex displaysMutex;
std::set<Display*>& ourDisplays() {
    static auto* displays = new std::set<Display*>;
    return *displays;
}
XErrorHandler previousHandler = nullptr;
thread_local int xErrors = 0;

int onXError(Display* display, XErrorEvent* event) {
    bool ours = false;
    {
        std::lock_guard lock(displaysMutex);
        ours = ourDisplays().count(display) > 0;
    }
    if (ours) {
        ++xErrors;
        return 0;
    }
    return previousHandler ? previousHandler(display, event) : 0;
}

Display* openDisplay(const QByteArray& name) {
    static std::once_flag installed;
    std::call_once(installed, [] { previousHandler = XSetErrorHandler(onXError); });
    Display* display = XOpenDisplay(name.isEmpty() ? nullptr : name.constData());
    if (display) {
        std::lock_guard lock(displaysMutex);
        ourDisplays().insert(display);
    }
    return display;
}

void closeDisplay(Display* display) {
    {
        std::lock_guard lock(displaysMutex);
        ourDisplays().erase(display);
    }
    XCloseDisplay(display);
}

bool hasXTest(Display* display) {
    int event = 0, error = 0, major = 0, minor = 0;
    return XTestQueryExtension(display, &event, &error, &major, &minor);
}

/// What the keyboard offers: keycodes without any symbol (free to borrow) and where each
/// symbol already sits on the first two shift levels.
struct KeyboardLayout {
    struct Place {
        KeyCode code;
        bool shifted;
    };
    std::vector<KeyCode> spare;
    std::map<Keysym, Place> places;
    KeyCode shift = 0;

    /// The key that types `sym` without rebinding anything, if there is one.
    std::optional<Place> placeOf(Keysym sym) const {
        const auto found = places.find(sym);
        if (found == places.end() || (found->second.shifted && shift == 0))
            return std::nullopt;
        return found->second;
    }
};

/// A second layout group or Caps Lock would change what the layout's own keys type; then
/// every symbol goes through a borrowed keycode, which carries it on all levels.
bool layoutKeysTypeTheirSymbols(Display* display) {
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) != Success)
        return false;
    return state.group == 0 && (state.locked_mods & LockMask) == 0;
}

/// The layout as it is without the keycodes we still hold from an earlier call.
KeyboardLayout readLayout(Display* display, const HeldKeys& stillBorrowed) {
    KeyboardLayout layout;
    int minCode = 0, maxCode = 0, perCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    KeySym* map =
        XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
    if (!map)
        return layout;
    const auto row = [&](int code) { return map + static_cast<std::ptrdiff_t>(code - minCode) * perCode; };
    const auto borrowed = [&](int code) { return stillBorrowed.count(static_cast<KeyCode>(code)) > 0; };
    // Empty keycodes first: the ones we still hold may only be rebound after a pause.
    for (int code = minCode; code <= maxCode; ++code) {
        if (!borrowed(code) &&
            std::all_of(row(code), row(code) + perCode, [](KeySym sym) { return sym == NoSymbol; }))
            layout.spare.push_back(static_cast<KeyCode>(code));
    }
    std::vector<std::pair<std::chrono::steady_clock::time_point, KeyCode>> leastRecentFirst;
    for (const auto& [code, lastUse] : stillBorrowed)
        leastRecentFirst.emplace_back(lastUse, code);
    std::sort(leastRecentFirst.begin(), leastRecentFirst.end());
    for (const auto& held : leastRecentFirst)
        layout.spare.push_back(held.second);
    // Unshifted places first, so that a symbol on both levels of different keys needs no Shift.
    const int levels = layoutKeysTypeTheirSymbols(display) ? std::min(perCode, 2) : 0;
    for (int level = 0; level < levels; ++level) {
        for (int code = minCode; code <= maxCode; ++code) {
            const KeySym sym = row(code)[level];
            if (sym != NoSymbol && !borrowed(code))
                layout.places.try_emplace(static_cast<Keysym>(sym),
                                          KeyboardLayout::Place{static_cast<KeyCode>(code), level == 1});
        }
    }
    XFree(map);
    layout.shift = XKeysymToKeycode(display, XK_Shift_L);
    return layout;
}

/// Core protocol fallback: one request, and so one notification, per run of consecutive keycodes.
void bindKeysCore(Display* display, const std::vector<KeyCode>& codes, const std::vector<Keysym>& syms) {
    for (std::size_t first = 0; first < codes.size();) {
        std::size_t end = first + 1;
        while (end < codes.size() && codes[end] == codes[end - 1] + 1)
            ++end;
        std::vector<KeySym> rows;
        for (std::size_t i = first; i < end; ++i)
            rows.insert(rows.end(), kSymsPerSpareKey, syms[i]);
        XChangeKeyboardMapping(display, codes[first], kSymsPerSpareKey, rows.data(),
                               static_cast<int>(end - first));
        first = end;
    }
}

/// Binds codes[i] to syms[i] (NoSymbol empties the key) in one XKB request, so that clients
/// get one keymap notification per batch however scattered the spare keycodes are.
bool bindKeysXkb(Display* display, const std::vector<KeyCode>& codes, const std::vector<Keysym>& syms) {
    XkbDescPtr xkb = XkbGetMap(display, XkbKeySymsMask | XkbKeyTypesMask, XkbUseCoreKbd);
    if (!xkb)
        return false;
    XkbMapChangesRec changes{};
    bool ok = true;
    for (std::size_t i = 0; i < codes.size() && ok; ++i) {
        int types[XkbNumKbdGroups] = {XkbOneLevelIndex};
        const bool empty = syms[i] == NoSymbol;
        ok = XkbChangeTypesOfKey(xkb, codes[i], empty ? 0 : 1, XkbGroup1Mask, types, &changes) == Success;
        if (ok && !empty)
            XkbKeySymEntry(xkb, codes[i], 0, 0) = syms[i];
    }
    if (ok) {
        changes.changed |= XkbKeySymsMask;
        const auto [low, high] = std::minmax_element(codes.begin(), codes.end());
        changes.first_key_sym = *low;
        changes.num_key_syms = static_cast<unsigned char>(*high - *low + 1);
        ok = XkbChangeMap(display, xkb, &changes);
    }
    XkbFreeKeyboard(xkb, 0, True);
    return ok;
}

void bindKeys(Display* display, const std::vector<KeyCode>& codes, const std::vector<Keysym>& syms) {
    if (codes.empty())
        return;
    if (!bindKeysXkb(display, codes, syms))
        bindKeysCore(display, codes, syms);
    XSync(display, False);
}

/// Binds spare keycodes for one use. A keycode typed through a moment ago is rebound only
/// after a pause: clients may still be translating those keys. Caller holds keyboardMutex.
void bindBorrowed(Display* display, const QByteArray& displayName, const std::vector<KeyCode>& codes,
                  const std::vector<Keysym>& syms) {
    const HeldKeys& held = borrowedKeys().byDisplay[displayName];
    std::chrono::steady_clock::time_point latest;
    for (const KeyCode code : codes) {
        if (const auto found = held.find(code); found != held.end())
            latest = std::max(latest, found->second);
    }
    std::this_thread::sleep_until(latest + kRemapSettle);
    bindKeys(display, codes, syms);
}

/// Empties the held keycodes of one display. Caller holds keyboardMutex.
void emptyHeld(const QByteArray& displayName, HeldKeys& held) {
    if (Display* display = openDisplay(displayName)) {
        std::vector<KeyCode> codes;
        for (const auto& entry : held)
            codes.push_back(entry.first);
        bindKeys(display, codes, std::vector<Keysym>(codes.size(), NoSymbol));
        closeDisplay(display);
    }
    held.clear();
}

/// Empties every keycode still borrowed, at once. Runs when the process exits, so that a
/// release still waiting never leaves our characters bound in the user's keymap.
void releaseAllNow() {
    std::lock_guard lock(keyboardMutex);
    BorrowedKeys& keys = borrowedKeys();
    ++keys.generation; // waiting releases stand down
    for (auto& [displayName, held] : keys.byDisplay) {
        if (!held.empty())
            emptyHeld(displayName, held);
    }
}

/// Notes that keys were just typed through `codes` and arms their release.
void releaseLater(const QByteArray& displayName, const std::vector<KeyCode>& codes) {
    static const bool releaseAtExit = std::atexit(releaseAllNow) == 0;
    (void)releaseAtExit;
    BorrowedKeys& keys = borrowedKeys();
    const auto now = std::chrono::steady_clock::now();
    for (const KeyCode code : codes)
        keys.byDisplay[displayName][code] = now;
    const unsigned generation = ++keys.generation;
    std::thread([displayName, generation] {
        std::this_thread::sleep_for(kReleaseDelay);
        std::lock_guard lock(keyboardMutex);
        BorrowedKeys& keys = borrowedKeys();
        if (generation != keys.generation)
            return; // used again since: that use releases them
        emptyHeld(displayName, keys.byDisplay[displayName]);
    }).detach();
}

void tap(Display* display, KeyCode code) {
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
}

/// Types one batch whose symbols missing from the keyboard fit into its spare keycodes.
void typeBatch(Display* display, const QByteArray& displayName, const KeyboardLayout& layout,
               const std::vector<Keysym>& batch) {
    std::vector<Keysym> borrowedSyms;
    for (const Keysym sym : batch) {
        const bool placed = layout.placeOf(sym).has_value();
        if (!placed && std::find(borrowedSyms.begin(), borrowedSyms.end(), sym) == borrowedSyms.end())
            borrowedSyms.push_back(sym);
    }
    const std::vector<KeyCode> borrowed(
        layout.spare.begin(), layout.spare.begin() + static_cast<std::ptrdiff_t>(borrowedSyms.size()));
    if (!borrowed.empty())
        bindBorrowed(display, displayName, borrowed, borrowedSyms);
    for (const Keysym sym : batch) {
        const auto place = layout.placeOf(sym);
        if (!place) {
            const auto at = std::find(borrowedSyms.begin(), borrowedSyms.end(), sym) - borrowedSyms.begin();
            tap(display, borrowed[static_cast<std::size_t>(at)]);
            continue;
        }
        if (place->shifted)
            XTestFakeKeyEvent(display, layout.shift, True, CurrentTime);
        tap(display, place->code);
        if (place->shifted)
            XTestFakeKeyEvent(display, layout.shift, False, CurrentTime);
    }
    XSync(display, False);
    if (!borrowed.empty())
        releaseLater(displayName, borrowed);
}

} // namespace

XTestInjector::Probe XTestInjector::probe(const QByteArray& displayName) {
    Display* display = openDisplay(displayName);
    if (!display)
        return Probe::NoDisplay;
    const bool xtest = hasXTest(display);
    closeDisplay(display);
    return xtest ? Probe::Ready : Probe::NoXTest;
}

std::unique_ptr<XTestInjector> XTestInjector::open(const QByteArray& displayName) {
    Display* display = openDisplay(displayName);
    if (!display)
        return nullptr;
    if (!hasXTest(display)) {
        closeDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<XTestInjector>(new XTestInjector(display, displayName));
}

XTestInjector::~XTestInjector() {
    closeDisplay(display_);
}

bool XTestInjector::sendChord(const Chord& chord) {
    std::lock_guard lock(keyboardMutex);
    xErrors = 0;
    std::vector<KeyCode> modifiers;
    for (const Keysym sym : chord.modifiers) {
        const KeyCode code = XKeysymToKeycode(display_, sym);
        if (code == 0)
            return false;
        modifiers.push_back(code);
    }
    KeyCode key = XKeysymToKeycode(display_, chord.key);
    std::vector<KeyCode> borrowed;
    if (key == 0) {
        // A key this keyboard lacks (media keys on a bare layout): borrow a spare keycode.
        borrowed = readLayout(display_, borrowedKeys().byDisplay[displayName_]).spare;
        if (borrowed.empty())
            return false;
        borrowed.resize(1);
        bindBorrowed(display_, displayName_, borrowed, {chord.key});
        key = borrowed.front();
    }
    for (const KeyCode code : modifiers)
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
    tap(display_, key);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        XTestFakeKeyEvent(display_, *it, False, CurrentTime);
    XSync(display_, False);
    if (!borrowed.empty())
        releaseLater(displayName_, borrowed);
    return xErrors == 0;
}

bool XTestInjector::typeKeysyms(const std::vector<Keysym>& keysyms) {
    std::lock_guard lock(keyboardMutex);
    xErrors = 0;
    const KeyboardLayout layout = readLayout(display_, borrowedKeys().byDisplay[displayName_]);
    const auto batches = batchesForSpareKeys(keysyms, layout.spare.size(),
                                             [&layout](Keysym sym) { return !layout.placeOf(sym); });
    if (batches.empty())
        return false;
    // Each batch rebinds the spare keycodes the one before used; they are emptied once, later.
    for (const auto& batch : batches)
        typeBatch(display_, displayName_, layout, batch);
    return xErrors == 0;
}

namespace {

/// X core buttons: 1 left, 2 middle, 3 right; 4/5 scroll up/down, 6/7 left/right.
unsigned int xButton(PointerButton button) {
    switch (button) {
    case PointerButton::Middle:
        return 2;
    case PointerButton::Right:
        return 3;
    case PointerButton::Left:
        break;
    }
    return 1;
}

} // namespace

bool XTestInjector::pointerMotion(int dx, int dy) {
    std::lock_guard lock(keyboardMutex);
    xErrors = 0;
    XTestFakeRelativeMotionEvent(display_, dx, dy, CurrentTime);
    XSync(display_, False);
    return xErrors == 0;
}

bool XTestInjector::pointerButton(PointerButton button, bool pressed) {
    std::lock_guard lock(keyboardMutex);
    xErrors = 0;
    XTestFakeButtonEvent(display_, xButton(button), pressed ? True : False, CurrentTime);
    XSync(display_, False);
    return xErrors == 0;
}

bool XTestInjector::pointerScroll(int dx, int dy) {
    std::lock_guard lock(keyboardMutex);
    xErrors = 0;
    const auto clicks = [this](unsigned int button, int count) {
        for (int i = 0; i < count; ++i) {
            XTestFakeButtonEvent(display_, button, True, CurrentTime);
            XTestFakeButtonEvent(display_, button, False, CurrentTime);
        }
    };
    clicks(dy < 0 ? 4 : 5, std::abs(dy));
    clicks(dx < 0 ? 6 : 7, std::abs(dx));
    XSync(display_, False);
    return xErrors == 0;
}

} // namespace hb::actions
