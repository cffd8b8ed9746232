#pragma once
// Synthetic input on an X display through the XTEST extension. One display connection per
// injector; keyboard work is serialised process-wide because typing remaps shared keycodes.
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

  private:
    explicit XTestInjector(_XDisplay* display) : display_(display) {}
    _XDisplay* display_;
};

} // namespace hb::actions
