#pragma once
// Input through the RemoteDesktop portal (org.freedesktop.portal.RemoteDesktop), for the
// desktops whose portal backend offers it. The user approves the session in the desktop's own
// dialog; where the portal is version 2 or newer the approval is remembered through a
// single-use restore token kept in the support folder (0600) and replaced after every start.
#include "InputInjector.h"
#include "RemoteSession.h"

#include <QString>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace hb::actions {

class PortalResponses;
class WaylandKeymap;

class PortalInjector final : public InputInjector, public std::enable_shared_from_this<PortalInjector> {
  public:
    enum class State { Starting, Ready, Refused, Failed };

    /// The portal's RemoteDesktop version, or 0 when there is none.
    static uint version();
    /// Starts the handshake in the background; the token file may be empty (nothing kept).
    static std::shared_ptr<PortalInjector> begin(const QString& tokenFile);
    ~PortalInjector() override;

    /// Waits up to `timeout` for the handshake to end; the state then.
    State wait(std::chrono::milliseconds timeout);
    bool sendChord(const Chord& chord) override;
    bool typeKeysyms(const std::vector<Keysym>& keysyms) override;

  private:
    explicit PortalInjector(QString tokenFile);
    State handshake();
    std::optional<QVariantMap> request(const QString& method, QVariantList arguments, QVariantMap options);
    bool key(Keysym sym, bool pressed);
    void finish(State state);

    QString tokenFile_;
    PrivateBus bus_;
    PortalResponses* responses_ = nullptr; ///< lives on the session signal thread
    QString session_;
    std::unique_ptr<WaylandKeymap> keymap_;
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = State::Starting;
    std::mutex keysMutex_; ///< one text or chord at a time
};

} // namespace hb::actions
