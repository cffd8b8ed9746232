#include "LinuxInput.h"

#include "GestureMap.h"
#include "InputUinput.h"
#include "Logind.h"
#include "MutterInjector.h"
#include "Notification.h"
#include "PortalInjector.h"
#include "SessionType.h"
#include "XTestInjector.h"
#include "actions/Gestures.h"
#include "core/HandOff.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
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
// A portal session restored with its token starts at once; a new one waits for the user.
constexpr auto kPortalWait = std::chrono::milliseconds(3000);
const QString kUaccessRule = QStringLiteral("KERNEL==\"uinput\", TAG+=\"uaccess\"");

QString x11PromptBody(XTestInjector::Probe probe) {
    if (probe == XTestInjector::Probe::NoXTest)
        return QStringLiteral("The X server runs without the XTEST extension. Enable XTEST in the X server's "
                              "configuration (remove \"-extension XTEST\" or Option \"XTEST\" \"off\"), "
                              "then restart the session.");
    return QStringLiteral("No X display is reachable: start Harbly inside your desktop session.");
}

/// What to do on a Wayland session where no injector works (yet).
QString waylandPromptBody(PortalInjector* portal) {
    if (portal) {
        switch (portal->wait(std::chrono::milliseconds(0))) {
        case PortalInjector::State::Starting:
            return QStringLiteral("Approve Harbly's request to control the keyboard in the dialog on your "
                                  "desktop, then try again.");
        case PortalInjector::State::Refused:
            return QStringLiteral("The request to control the keyboard was declined. Try again and approve "
                                  "it in the dialog on your desktop.");
        default:
            break;
        }
    }
    return QStringLiteral(
               "This desktop offers no way to send keystrokes. Install xdg-desktop-portal and your "
               "desktop's portal backend, or allow /dev/uinput with the udev rule %1 "
               "(for example in /etc/udev/rules.d/70-harbly-uinput.rules), then log in again.")
        .arg(kUaccessRule);
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

/// wl-copy leaves a child behind that serves the clipboard until it is replaced: only the
/// parent is waited for, and nobody reads the child's output.
bool copyWithWlCopy(const QString& text) {
    QProcess copy;
    copy.setStandardInputFile(QProcess::nullDevice());
    copy.setStandardOutputFile(QProcess::nullDevice());
    copy.setStandardErrorFile(QProcess::nullDevice());
    copy.start(QStringLiteral("/usr/bin/wl-copy"), {QStringLiteral("--"), text});
    return copy.waitForFinished(kClipboardWaitMs) && copy.exitStatus() == QProcess::NormalExit &&
           copy.exitCode() == 0;
}

bool hasWindowingClipboard() {
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
}

} // namespace

LinuxInput::LinuxInput(QByteArray displayName, QString supportDir)
    : displayName_(std::move(displayName)), supportDir_(std::move(supportDir)) {}

LinuxInput::~LinuxInput() = default;

bool LinuxInput::waylandSession() const {
    return displayName_.isEmpty() && currentSessionType() == SessionType::Wayland;
}

std::shared_ptr<InputInjector> LinuxInput::injector() {
    if (!waylandSession())
        return XTestInjector::open(displayName_);
    if (auto mutter = mutterSession())
        return mutter;
    std::shared_ptr<PortalInjector> portal;
    {
        std::lock_guard lock(layerMutex_);
        const auto state =
            portal_ ? portal_->wait(std::chrono::milliseconds(0)) : PortalInjector::State::Failed;
        if (state == PortalInjector::State::Refused || state == PortalInjector::State::Failed)
            portal_.reset(); // declined or failed: ask again
        if (!portal_ && PortalInjector::version() > 0) {
            const QString tokenFile =
                supportDir_.isEmpty() ? QString() : supportDir_ + QStringLiteral("/portal-restore-token");
            portal_ = PortalInjector::begin(tokenFile);
        }
        portal = portal_;
    }
    // Waited for without the lock: other requests meanwhile learn that approval is pending.
    if (portal && portal->wait(kPortalWait) == PortalInjector::State::Ready)
        return portal;
    return UinputInjector::open();
}

std::shared_ptr<MutterInjector> LinuxInput::mutterSession() {
    std::lock_guard lock(layerMutex_);
    if (mutter_ && !mutter_->alive())
        mutter_.reset();
    if (!mutter_ && MutterInjector::offered())
        mutter_ = MutterInjector::start();
    return mutter_;
}

bool LinuxInput::accessibilityTrusted() {
    if (!waylandSession())
        return XTestInjector::probe(displayName_) == XTestInjector::Probe::Ready;
    {
        std::lock_guard lock(layerMutex_);
        if ((mutter_ && mutter_->alive()) ||
            (portal_ && portal_->wait(std::chrono::milliseconds(0)) == PortalInjector::State::Ready))
            return true;
    }
    return MutterInjector::offered() || UinputInjector::available();
}

QString LinuxInput::accessHint() {
    if (!waylandSession())
        return x11PromptBody(XTestInjector::probe(displayName_));
    std::lock_guard lock(layerMutex_);
    return waylandPromptBody(portal_.get());
}

void LinuxInput::promptAccessibility() {
    showNotification(kPromptSummary, accessHint());
}

bool LinuxInput::runGesture(const QString& name) {
    if (!findGesture(name))
        return false;
    const Desktop desktop = desktopFromName(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    // Other Wayland compositors have no common key bindings: only locking is known to act.
    const bool onlyLock = desktop == Desktop::Other && waylandSession();
    for (const GestureStep& step : gestureSteps(desktop, name)) {
        if (onlyLock && step.kind != GestureStep::Kind::LockSession)
            continue;
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
    const auto injector = this->injector();
    if (!injector) {
        promptAccessibility();
        return false;
    }
    return injector->sendChord(chord);
}

bool LinuxInput::typeText(const QString& text) {
    const std::vector<Keysym> keysyms = keysymsForText(text);
    if (keysyms.empty() || static_cast<qsizetype>(keysyms.size()) > kMaxTypedKeys)
        return false;
    const auto injector = this->injector();
    if (!injector) {
        promptAccessibility();
        return false;
    }
    return injector->typeKeysyms(keysyms);
}

bool LinuxInput::setClipboard(const QString& text) {
    if (waylandSession()) {
        // The input session's clipboard needs no window; else wl-copy (wlroots, KDE: data
        // control; elsewhere its own surface), confirmed by wl-paste, another client.
        if (const auto mutter = mutterSession())
            return mutter->setClipboard(text);
        if (!copyWithWlCopy(text))
            return false;
        const ProcessResult pasted =
            runProcess(QStringLiteral("/usr/bin/wl-paste"), {QStringLiteral("--no-newline")});
        return pasted.status == 0 && pasted.output == text;
    }
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) && hasWindowingClipboard())
        return writeClipboardOnGuiThread(QCoreApplication::instance(), text);
    return false;
}

bool LinuxInput::pointer(const PointerCommand& command) {
    const auto injector = this->injector();
    if (!injector) {
        promptAccessibility();
        return false;
    }
    switch (command.kind) {
    case PointerCommand::Kind::Move:
        return injector->pointerMotion(command.dx, command.dy);
    case PointerCommand::Kind::Scroll:
        return injector->pointerScroll(command.dx, command.dy);
    case PointerCommand::Kind::Button:
        break;
    }
    if (command.action == ButtonAction::Click)
        return injector->pointerButton(command.button, true) &&
               injector->pointerButton(command.button, false);
    return injector->pointerButton(command.button, command.action == ButtonAction::Down);
}

bool LinuxInput::pressKey(const KeyCommand& command) {
    return sendChord(Chord{command.modifiers, command.keysym});
}

} // namespace hb::actions
