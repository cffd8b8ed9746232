#include "LinuxInput.h"

#include "GestureMap.h"
#include "InputUinput.h"
#include "Logind.h"
#include "Notification.h"
#include "XTestInjector.h"
#include "actions/Gestures.h"
#include "core/HandOff.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QThread>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace hb::actions {

namespace {

// A phone can send megabytes of text; typing it would hold the keyboard for minutes.
constexpr qsizetype kMaxTypedKeys = 10000;
// The GUI thread normally answers at once; a stuck or finished event loop must not hold a
// request thread forever.
constexpr int kClipboardWaitMs = 3000;

const QString kPromptSummary = QStringLiteral("Harbly cannot send keystrokes");

QString promptBody(bool wayland, XTestInjector::Probe probe) {
    if (wayland)
        return QStringLiteral("On Wayland Harbly sends keys through /dev/uinput. Add your user to the group "
                              "that owns /dev/uinput (often \"input\"), or add a udev rule such as "
                              "KERNEL==\"uinput\", TAG+=\"uaccess\"; then log in again.");
    if (probe == XTestInjector::Probe::NoXTest)
        return QStringLiteral("The X server runs without the XTEST extension. Enable XTEST in the X server's "
                              "configuration (remove \"-extension XTEST\" or Option \"XTEST\" \"off\"), "
                              "then restart the session.");
    return QStringLiteral("No X display is reachable: start Harbly inside your desktop session.");
}

bool writeClipboard(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(text, QClipboard::Clipboard);
    return clipboard->text(QClipboard::Clipboard) == text;
}

/// QClipboard lives on the GUI thread; requests come from worker threads.
bool writeClipboardOnGuiThread(QCoreApplication* app, const QString& text) {
    if (QThread::currentThread() == app->thread())
        return writeClipboard(text);
    struct Outcome {
        std::mutex mutex;
        std::condition_variable changed;
        std::optional<bool> ok;
    };
    // Shared: the GUI thread may still run the write after the wait has given up.
    auto outcome = std::make_shared<Outcome>();
    postTo(app, [outcome, text] {
        const bool ok = writeClipboard(text);
        std::lock_guard lock(outcome->mutex);
        outcome->ok = ok;
        outcome->changed.notify_one();
    });
    std::unique_lock lock(outcome->mutex);
    return outcome->changed.wait_for(lock, std::chrono::milliseconds(kClipboardWaitMs), [&] {
        return outcome->ok.has_value();
    }) && *outcome->ok;
}

bool hasWindowingClipboard() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
}

} // namespace

LinuxInput::LinuxInput(QByteArray displayName) : displayName_(std::move(displayName)) {}

bool LinuxInput::waylandSession() const {
    return displayName_.isEmpty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

std::unique_ptr<InputInjector> LinuxInput::openInjector() const {
    if (waylandSession())
        return UinputInjector::open();
    return XTestInjector::open(displayName_);
}

bool LinuxInput::accessibilityTrusted() {
    if (waylandSession())
        return UinputInjector::available();
    return XTestInjector::probe(displayName_) == XTestInjector::Probe::Ready;
}

void LinuxInput::promptAccessibility() {
    const bool wayland = waylandSession();
    const auto probe = wayland ? XTestInjector::Probe::NoDisplay : XTestInjector::probe(displayName_);
    showNotification(kPromptSummary, promptBody(wayland, probe));
}

bool LinuxInput::runGesture(const QString& name) {
    if (!findGesture(name))
        return false;
    const Desktop desktop = desktopFromName(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    for (const GestureStep& step : gestureSteps(desktop, name)) {
        switch (step.kind) {
        case GestureStep::Kind::LockSession:
            if (logind::lockSession())
                return true;
            break;
        case GestureStep::Kind::DBus:
            if (callDBus(step.method, step.arguments))
                return true;
            break;
        case GestureStep::Kind::Chord:
            return sendChord(step.chord);
        }
    }
    return false;
}

bool LinuxInput::sendChord(const Chord& chord) {
    const auto injector = openInjector();
    if (!injector) {
        promptAccessibility();
        return false;
    }
    return injector->sendChord(chord);
}

bool LinuxInput::typeText(const QString& text) {
    if (text.isEmpty())
        return false;
    const auto injector = openInjector();
    if (!injector) {
        promptAccessibility();
        return false;
    }
    const std::vector<Keysym> keysyms = keysymsForText(text);
    if (keysyms.empty() || static_cast<qsizetype>(keysyms.size()) > kMaxTypedKeys)
        return false;
    return injector->typeKeysyms(keysyms);
}

bool LinuxInput::setClipboard(const QString& text) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) && hasWindowingClipboard())
        return writeClipboardOnGuiThread(QCoreApplication::instance(), text);
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return runProcess(QStringLiteral("/usr/bin/wl-copy"), {QStringLiteral("--"), text}).status == 0;
    return false;
}

} // namespace hb::actions
