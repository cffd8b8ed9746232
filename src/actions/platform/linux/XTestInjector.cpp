#include "XTestInjector.h"

#include <algorithm>
#include <chrono>
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

// Clients re-read the keymap when told it changed; they need the borrowed symbols still in
// place when they do, or the typed keys would be translated with the next map.
constexpr auto kRemapSettle = std::chrono::milliseconds(100);
// The same symbol on both shift levels, so a held Shift does not change what is typed.
constexpr int kSymsPerSpareKey = 2;

// One keyboard user at a time: typing rebinds keycodes that every client shares.
std::mutex keyboardMutex;

// Xlib's default error handler ends the process. Errors on our own connections are counted
// instead; errors on anyone else's go to the handler that was installed before ours.
std::mutex displaysMutex;
std::set<Display*> ourDisplays;
XErrorHandler previousHandler = nullptr;
thread_local int xErrors = 0;

int onXError(Display* display, XErrorEvent* event) {
    bool ours = false;
    {
        std::lock_guard lock(displaysMutex);
        ours = ourDisplays.count(display) > 0;
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
        ourDisplays.insert(display);
    }
    return display;
}

void closeDisplay(Display* display) {
    {
        std::lock_guard lock(displaysMutex);
        ourDisplays.erase(display);
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

KeyboardLayout readLayout(Display* display) {
    KeyboardLayout layout;
    int minCode = 0, maxCode = 0, perCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    KeySym* map =
        XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
    if (!map)
        return layout;
    const auto row = [&](int code) { return map + static_cast<std::ptrdiff_t>(code - minCode) * perCode; };
    for (int code = minCode; code <= maxCode; ++code) {
        if (std::all_of(row(code), row(code) + perCode, [](KeySym sym) { return sym == NoSymbol; }))
            layout.spare.push_back(static_cast<KeyCode>(code));
    }
    // Unshifted places first, so that a symbol on both levels of different keys needs no Shift.
    const int levels = layoutKeysTypeTheirSymbols(display) ? std::min(perCode, 2) : 0;
    for (int level = 0; level < levels; ++level) {
        for (int code = minCode; code <= maxCode; ++code) {
            const KeySym sym = row(code)[level];
            if (sym != NoSymbol)
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

/// Waits until clients have had time to re-read the keymap: a client reads the map as it is
/// when it gets round to the notification, not as it was when the keys were sent.
void letClientsReadKeymap() {
    std::this_thread::sleep_for(kRemapSettle);
}

void tap(Display* display, KeyCode code) {
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
}

/// Types one batch whose symbols missing from the keyboard fit into its spare keycodes; the
/// number of spare keycodes it bound.
std::size_t typeBatch(Display* display, const KeyboardLayout& layout, const std::vector<Keysym>& batch) {
    std::vector<Keysym> borrowedSyms;
    for (const Keysym sym : batch) {
        const bool placed = layout.placeOf(sym).has_value();
        if (!placed && std::find(borrowedSyms.begin(), borrowedSyms.end(), sym) == borrowedSyms.end())
            borrowedSyms.push_back(sym);
    }
    const std::vector<KeyCode> borrowed(
        layout.spare.begin(), layout.spare.begin() + static_cast<std::ptrdiff_t>(borrowedSyms.size()));
    if (!borrowed.empty())
        bindKeys(display, borrowed, borrowedSyms);
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
        letClientsReadKeymap();
    return borrowed.size();
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
    return std::unique_ptr<XTestInjector>(new XTestInjector(display));
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
        borrowed = readLayout(display_).spare;
        if (borrowed.empty())
            return false;
        borrowed.resize(1);
        bindKeys(display_, borrowed, {chord.key});
        key = borrowed.front();
    }
    for (const KeyCode code : modifiers)
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
    tap(display_, key);
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        XTestFakeKeyEvent(display_, *it, False, CurrentTime);
    XSync(display_, False);
    if (!borrowed.empty()) {
        letClientsReadKeymap();
        bindKeys(display_, borrowed, {NoSymbol});
    }
    return xErrors == 0;
}

bool XTestInjector::typeKeysyms(const std::vector<Keysym>& keysyms) {
    std::lock_guard lock(keyboardMutex);
    xErrors = 0;
    const KeyboardLayout layout = readLayout(display_);
    const auto batches = batchesForSpareKeys(keysyms, layout.spare.size(),
                                             [&layout](Keysym sym) { return !layout.placeOf(sym); });
    if (batches.empty())
        return false;
    // Each batch rebinds the spare keycodes the one before used; they are emptied once at the end.
    std::size_t bound = 0;
    for (const auto& batch : batches)
        bound = std::max(bound, typeBatch(display_, layout, batch));
    const std::vector<KeyCode> used(layout.spare.begin(),
                                    layout.spare.begin() + static_cast<std::ptrdiff_t>(bound));
    bindKeys(display_, used, std::vector<Keysym>(used.size(), NoSymbol));
    return xErrors == 0;
}

} // namespace hb::actions
