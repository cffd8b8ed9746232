#pragma once
// Synthetic input for Linux desktops: XTest on X11, /dev/uinput on Wayland (chords only),
// gestures mapped per desktop, the clipboard through Qt (or wl-copy without a GUI).
#include "InputInjector.h"
#include "actions/Actions.h"

#include <QByteArray>
#include <memory>

namespace hb::actions {

class LinuxInput final : public Input {
  public:
    /// `displayName` is the X display to inject into; empty means $DISPLAY at each call
    /// (and /dev/uinput when the session is Wayland).
    explicit LinuxInput(QByteArray displayName = {});

    bool accessibilityTrusted() override;
    void promptAccessibility() override;
    bool runGesture(const QString& name) override;
    bool typeText(const QString& text) override;
    bool setClipboard(const QString& text) override;

    /// Sends `chord`; without an injector, prompts (as every injection does) and answers false.
    bool sendChord(const Chord& chord);

  private:
    /// An injector for one call, or nullptr when none is usable.
    std::unique_ptr<InputInjector> openInjector() const;
    bool waylandSession() const;

    QByteArray displayName_;
};

} // namespace hb::actions
