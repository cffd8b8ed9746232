#include "XTestInjector.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

// X headers last: they define macros (None, Bool, Status) that clash with Qt's.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace hb::actions {

namespace {

// Clients re-read the keymap when told it changed; they need the new symbols still in place
// when they do, or the typed keys would be translated with the emptied map.
constexpr auto kRemapSettle = std::chrono::milliseconds(50);
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

/// Keycodes that carry no symbol at all: free to borrow.
std::vector<KeyCode> spareKeycodes(Display* display) {
    int minCode = 0, maxCode = 0, perCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    KeySym* map =
        XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
    if (!map)
        return {};
    std::vector<KeyCode> spare;
    for (int code = minCode; code <= maxCode; ++code) {
        const KeySym* row = map + static_cast<std::ptrdiff_t>(code - minCode) * perCode;
        if (std::all_of(row, row + perCode, [](KeySym sym) { return sym == NoSymbol; }))
            spare.push_back(static_cast<KeyCode>(code));
    }
    XFree(map);
    return spare;
}

/// Binds codes[i] to syms[i], one request per run of consecutive keycodes.
void bindKeys(Display* display, const std::vector<KeyCode>& codes, const std::vector<Keysym>& syms) {
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
    XSync(display, False);
}

/// Gives borrowed keycodes back, after clients had time to read the borrowed symbols.
void releaseKeys(Display* display, const std::vector<KeyCode>& codes) {
    std::this_thread::sleep_for(kRemapSettle);
    bindKeys(display, codes, std::vector<Keysym>(codes.size(), NoSymbol));
}

void tap(Display* display, KeyCode code) {
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
}

/// Types one batch whose distinct symbols fit into `spare`.
void typeBatch(Display* display, const std::vector<KeyCode>& spare, const std::vector<Keysym>& batch) {
    std::vector<Keysym> distinct;
    for (const Keysym sym : batch) {
        if (std::find(distinct.begin(), distinct.end(), sym) == distinct.end())
            distinct.push_back(sym);
    }
    const std::vector<KeyCode> codes(spare.begin(),
                                     spare.begin() + static_cast<std::ptrdiff_t>(distinct.size()));
    bindKeys(display, codes, distinct);
    for (const Keysym sym : batch) {
        const auto at = std::find(distinct.begin(), distinct.end(), sym) - distinct.begin();
        tap(display, codes[static_cast<std::size_t>(at)]);
    }
    XSync(display, False);
    releaseKeys(display, codes);
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
        borrowed = spareKeycodes(display_);
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
    if (!borrowed.empty())
        releaseKeys(display_, borrowed);
    return xErrors == 0;
}

bool XTestInjector::typeKeysyms(const std::vector<Keysym>& keysyms) {
    std::lock_guard lock(keyboardMutex);
    xErrors = 0;
    const std::vector<KeyCode> spare = spareKeycodes(display_);
    const auto batches = batchesForSpareKeys(keysyms, spare.size());
    if (batches.empty())
        return false;
    for (const auto& batch : batches)
        typeBatch(display_, spare, batch);
    return xErrors == 0;
}

} // namespace hb::actions
