#pragma once
// What the agent can do on the desktop, as interfaces. The Linux implementation lives in
// platform/linux/, a recording fake for tests in platform/fake/. OS headers never appear here.
#include "actions/InputCommands.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace hb::actions {

/// Installed applications (desktop entries), web addresses and application icons.
class Applications {
  public:
    virtual ~Applications() = default;
    /// Distinct names of the applications that should be shown, sorted by code point.
    virtual QStringList listApps() = 0;
    /// Starts the named application; true once the launch was requested, false when the
    /// name does not resolve. The launch is not awaited.
    virtual bool launchApp(const QString& name) = 0;
    /// The application's icon as a 64 × 64 RGBA PNG, or nothing.
    virtual std::optional<QByteArray> iconPNG(const QString& name) = 0;
    /// Opens an http(s) address in the default browser; false for anything else.
    virtual bool openURL(const QString& address) = 0;
};

/// The user's own automations: executables in <support>/shortcuts/.
class Shortcuts {
  public:
    virtual ~Shortcuts() = default;
    virtual QStringList listShortcuts() = 0;
    /// Starts the shortcut detached; true once started.
    virtual bool runShortcut(const QString& name) = 0;
};

/// Synthetic keyboard input, gestures and the clipboard.
class Input {
  public:
    virtual ~Input() = default;
    /// True when an input injector is usable in this session.
    virtual bool accessibilityTrusted() = 0;
    /// Tells the user, through a desktop notification, how to allow input injection.
    virtual void promptAccessibility() = 0;
    /// What the user can do on this desktop to allow input, for the phone to show.
    virtual QString accessHint() {
        return QStringLiteral("Allow Harbly to send keystrokes on this desktop, then try again.");
    }
    virtual bool runGesture(const QString& name) = 0;
    virtual bool typeText(const QString& text) = 0;
    virtual bool setClipboard(const QString& text) = 0;
    /// Moves, presses or scrolls the pointer; false where this session cannot.
    virtual bool pointer(const PointerCommand&) { return false; }
    /// Presses the modifiers, then the key; releases them in reverse order.
    virtual bool pressKey(const KeyCommand&) { return false; }
};

/// Media keys, volume and mute, and whole-system actions (sleep, screen saver).
class Media {
  public:
    virtual ~Media() = default;
    virtual bool mediaAction(const QString& name) = 0;
    virtual bool setVolume(int level) = 0;
    /// 0–100, or -1 when it cannot be read.
    virtual int getVolume() = 0;
    virtual bool setMuted(bool muted) = 0;
    virtual bool isMuted() = 0;
    virtual bool systemAction(const QString& name) = 0;
};

/// Who and where this machine is on the network.
class HostIdentity {
  public:
    virtual ~HostIdentity() = default;
    /// The first up, running, non-loopback IPv4 address of a wired or wireless interface,
    /// else "127.0.0.1".
    virtual QString lanIP() = 0;
    /// The user-visible computer name (pretty host name).
    virtual QString computerName() = 0;
    /// The network host name of the machine.
    virtual QString hostName() = 0;
};

/// The set of implementations the agent runs with, chosen in one place.
struct Platform {
    Applications& apps;
    Shortcuts& shortcuts;
    Input& input;
    Media& media;
    HostIdentity& host;
};

/// Result of running a program: its exit status (-1 when it could not start) and what it
/// wrote on stdout and stderr, interleaved (or the start error's description).
struct ProcessResult {
    int status = -1;
    QString output;
};

/// Runs `program` with `arguments` (no shell, no PATH search), collects its interleaved
/// output to end of file, then waits for it.
ProcessResult runProcess(const QString& program, const QStringList& arguments);

/// True when `address` parses as a URL with a scheme that is http or https (any case).
bool isWebAddress(const QString& address);

/// "data:image/png;base64,..." of a QR code (error correction M, 8-pixel modules), or nothing.
std::optional<QString> qrDataURL(const QString& text);

} // namespace hb::actions
