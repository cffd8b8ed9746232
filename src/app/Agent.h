#pragma once
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace hb::server {
class Server;
}
namespace hb::store {
class Store;
}
namespace hb::actions {
struct Platform;
class LinuxPlatform;
class MediaWatcher;
} // namespace hb::actions
namespace hb::steps {
class Planner;
}
namespace hb::relay {
class RelayClient;
}
namespace hb::api {
struct Context;
class Router;
} // namespace hb::api

namespace hb::app {

/// The agent's core, assembled: store, desktop actions, planner, router, HTTP server and
/// relay client. The desktop shell or the headless presentation sits on top.
class Agent : public QObject {
    Q_OBJECT
  public:
    explicit Agent(QObject* parent = nullptr);
    ~Agent() override;

    /// Starts the server, creates the relay client and switches it as configured.
    void start();
    /// Closes every connection and the relay link.
    void stop();

    /// Where "/api/open-admin" sends its request (posted to this object's thread).
    void setOpenAdmin(std::function<void()> openAdmin);
    /// How "/api/login-item" reads and switches the login entry (desktop sessions only).
    void setLoginItemHooks(std::function<bool()> enabled, std::function<std::optional<QString>(bool)> set);

    server::Server& server() { return *server_; }
    store::Store& store() { return store_; }
    actions::Platform& platform();
    relay::RelayClient* relay() { return relay_.load(); }

  private:
    store::Store& store_;
    std::unique_ptr<actions::LinuxPlatform> linux_;
    std::unique_ptr<steps::Planner> planner_;
    std::unique_ptr<api::Context> context_;
    std::unique_ptr<api::Router> router_;
    std::unique_ptr<server::Server> server_;
    std::atomic<relay::RelayClient*> relay_{nullptr};
    std::unique_ptr<actions::MediaWatcher> media_; ///< from start(); sends to server_, ends first
    std::function<void()> openAdmin_;
};

} // namespace hb::app
