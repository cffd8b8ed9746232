#pragma once
// Input on GNOME's Wayland session through Mutter's own remote-desktop interface
// (org.gnome.Mutter.RemoteDesktop): no dialog, one session for as long as this object lives.
// Symbols the active layout can type are sent as keys; the rest of a text is pasted through
// the session's clipboard, and the clipboard the user had is put back afterwards.
#include "InputInjector.h"
#include "RemoteSession.h"

#include <QString>
#include <memory>
#include <mutex>

namespace hb::actions {

class MutterClipboard;
class WaylandKeymap;

class MutterInjector final : public InputInjector {
  public:
    /// True when Mutter's remote desktop is on the session bus.
    static bool offered();
    /// A started session, or nullptr when Mutter refused or is not there.
    static std::unique_ptr<MutterInjector> start();
    ~MutterInjector() override;

    /// False once Mutter closed the session (Mutter restarted, or the session was stopped).
    bool alive() const;
    bool sendChord(const Chord& chord) override;
    bool typeKeysyms(const std::vector<Keysym>& keysyms) override;
    bool pointerMotion(int dx, int dy) override;
    bool pointerButton(PointerButton button, bool pressed) override;
    bool pointerScroll(int dx, int dy) override;
    /// Makes `text` the clipboard; true when reading it back through the compositor gives it.
    bool setClipboard(const QString& text);

  private:
    MutterInjector() = default;
    bool call(const QString& method, const QVariantList& arguments = {});
    bool key(Keysym sym, bool pressed);
    /// Sends key presses (true) and releases in order; true when Mutter took every one.
    bool keys(const std::vector<std::pair<Keysym, bool>>& events);
    bool chordLocked(const Chord& chord);
    bool paste(const QString& text);
    /// Offers `data` (mime type → bytes) as the clipboard.
    bool offer(const std::map<QString, QByteArray>& data);
    std::map<QString, QByteArray> readClipboard();
    std::optional<QByteArray> readSelection(const QString& mimeType);

    PrivateBus bus_;
    QString session_;
    MutterClipboard* clipboard_ = nullptr; ///< lives on the session signal thread
    std::unique_ptr<WaylandKeymap> keymap_;
    std::mutex mutex_; ///< one text or chord at a time
};

} // namespace hb::actions
