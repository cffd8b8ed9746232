#pragma once
// Synthetic input on an X display through the XTEST extension. One display connection per
// injector; keyboard work is serialised process-wide because typing remaps shared keycodes.
// Symbols missing from the layout are typed through borrowed spare keycodes, emptied again
// shortly after the last use.
#include "InputInjector.h"

#include <QByteArray>
#include <memory>

struct _XDisplay;

namespace hb::actions {

class XTestInjector final : public InputInjector {
  public:
    enum class Probe { NoDisplay, NoXTest, Ready };

    /// Whether `displayName` (empty: $DISPLAY) is reachable and has XTEST.
    static Probe probe(const QByteArray& displayName);
    /// An injector on `displayName`, or nullptr unless probe() would say Ready.
    static std::unique_ptr<XTestInjector> open(const QByteArray& displayName);

    ~XTestInjector() override;
    XTestInjector(const XTestInjector&) = delete;
    XTestInjector& operator=(const XTestInjector&) = delete;

    bool sendChord(const Chord& chord) override;
    bool typeKeysyms(const std::vector<Keysym>& keysyms) override;
    bool pointerMotion(int dx, int dy) override;
    bool pointerButton(PointerButton button, bool pressed) override;
    bool pointerScroll(int dx, int dy) override;

  private:
    XTestInjector(_XDisplay* display, QByteArray displayName)
        : display_(display), displayName_(std::move(displayName)) {}
    _XDisplay* display_;
    QByteArray displayName_;
};

} // namespace hb::actions
