#pragma once
// Synthetic input for Linux desktops. On a Wayland session the first injector that works
// there is chosen once and kept: Mutter's remote desktop on GNOME, the RemoteDesktop portal,
// then /dev/uinput. On X11, XTest. Gestures are mapped per desktop; the clipboard goes through
// the input session, Qt or wl-copy, and is read back before it counts as set.
#include "InputInjector.h"
#include "actions/Actions.h"

#include <QByteArray>
#include <memory>
#include <mutex>

namespace hb::actions {

class MutterInjector;
class PortalInjector;

class LinuxInput final : public Input {
  public:
    /// `displayName` is an X display to inject into; empty means this session (Wayland or
    /// $DISPLAY). The portal's restore token is kept in `supportDir` (none when empty).
    explicit LinuxInput(QByteArray displayName = {}, QString supportDir = {});
    ~LinuxInput() override;

    bool accessibilityTrusted() override;
    void promptAccessibility() override;
    QString accessHint() override;
    bool runGesture(const QString& name) override;
    bool typeText(const QString& text) override;
    bool setClipboard(const QString& text) override;
    bool pointer(const PointerCommand& command) override;
    bool pressKey(const KeyCommand& command) override;

    /// Sends `chord`; without an injector, prompts (as every injection does) and answers false.
    bool sendChord(const Chord& chord);

  private:
    /// The injector for this call, or nullptr when none is usable (yet).
    std::shared_ptr<InputInjector> injector();
    /// Mutter's session, started or restarted when Mutter offers one; else nullptr.
    std::shared_ptr<MutterInjector> mutterSession();
    bool waylandSession() const;

    QByteArray displayName_;
    QString supportDir_;
    std::mutex layerMutex_; ///< guards the session injectors below
    std::shared_ptr<MutterInjector> mutter_;
    std::shared_ptr<PortalInjector> portal_;
};

} // namespace hb::actions
