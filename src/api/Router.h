#pragma once
#include "api/HeldButtons.h"
#include "server/Request.h"
#include "server/Responder.h"

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <functional>
#include <optional>

namespace hb::store {
class Store;
}
namespace hb::actions {
struct Platform;
}
namespace hb::steps {
class Planner;
}

namespace hb::api {

/// What the endpoints reach beyond the request: the store, the desktop actions, the planner
/// and a few hooks into the running agent (set by whoever assembles it).
struct Context {
    Context(store::Store& s, actions::Platform& p, steps::Planner* pl = nullptr)
        : store(s), platform(p), planner(pl) {}

    store::Store& store;
    actions::Platform& platform;
    steps::Planner* planner = nullptr;
    std::function<void()> broadcastReload = [] {};
    std::function<quint16()> listeningPort = [] { return quint16(0); };
    std::function<void(bool)> setRelayEnabled; ///< empty when the agent has no relay client
    std::function<void()> openAdmin;           ///< posts showPanel to the UI thread; may be empty
    std::function<QString()> relayBase;        ///< relay service base (HB_RELAY_URL or default)
    /// "Start at login": whether the login entry is on, and switching it (nothing on success,
    /// else why not). Empty when the agent runs headless.
    std::function<bool()> loginItemEnabled;
    std::function<std::optional<QString>(bool)> setLoginItem;
    std::function<QJsonObject()> nowPlaying; ///< the desktop's media state; may be empty
    std::shared_ptr<HeldButtons> heldButtons = std::make_shared<HeldButtons>();
};

enum class Gate { Open, Token, LocalOrToken };

/// One API path and all that belongs to it: who may call it, what a refused caller gets,
/// and the handler.
struct Route {
    using Handler = void (*)(Context&, const server::Request&, const server::Responder&);

    Route(QString path, Gate gate, Handler handler, int refusalStatus = 401,
          std::optional<Gate> postGate = {})
        : path(std::move(path)), gate(gate), handler(handler), refusalStatus(refusalStatus),
          postGate(postGate) {}

    QString path;
    Gate gate;
    Handler handler;
    int refusalStatus;            ///< the status of the {"ok": false} a refused caller gets
    std::optional<Gate> postGate; ///< the gate for "POST" when it differs
};

/// Dispatches a request by its exact path, applies the route's gate and runs its handler.
class Router {
  public:
    explicit Router(Context& context);

    /// Installs a route; every path is installed once.
    void add(Route route);

    void route(const server::Request& request, const server::Responder& responder) const;

    /// True for the requests `route` answers without blocking: OPTIONS, the event stream,
    /// static files and unknown paths. Table routes may block (store saves, actions, the
    /// peer lookup), so they are not.
    bool answersAtOnce(const server::Request& request) const;

    /// A valid "x-hb-token".
    bool tokenAuth(const server::Request& request) const;
    /// A trusted local caller, or a valid token.
    bool localOrAuth(const server::Request& request) const;
    /// A loopback caller owned by this user whose headers show no foreign page or host.
    bool isTrustedLocal(const server::Request& request) const;

    Context& context() const { return context_; }

  private:
    bool passes(Gate gate, const server::Request& request) const;

    Context& context_;
    QHash<QString, Route> routes_;
};

/// Reads the body as a JSON object; the empty object when it is not one.
QJsonObject bodyJSON(const server::Request& request);

/// A Host header naming this machine's loopback: "127.0.0.1", "localhost" or "[::1]", any port.
bool isLoopbackName(const QString& host);
/// An Origin header naming this server's own page on a loopback name and `port`.
bool isOwnOrigin(const QString& origin, quint16 port);

/// Replayed by the relay client, which marks every request it replays.
bool isRelayed(const server::Request& request);

/// {"ok": false}
QJsonObject notOk();

/// Every endpoint group, registered on the router.
void registerEndpoints(Router& router);

} // namespace hb::api
