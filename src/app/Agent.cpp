#include "app/Agent.h"

#include "actions/platform/linux/LinuxPlatform.h"
#include "actions/platform/linux/MediaWatcher.h"
#include "api/Endpoints.h"
#include "api/Router.h"
#include "core/Env.h"
#include "core/HandOff.h"
#include "core/Paths.h"
#include "relay/RelayClient.h"
#include "relay/RelayUrls.h"
#include "server/Server.h"
#include "steps/Planner.h"
#include "store/Store.h"

namespace hb::app {

Agent::Agent(QObject* parent)
    : QObject(parent), store_(store::Store::shared()),
      linux_(std::make_unique<actions::LinuxPlatform>(paths::supportDir())) {
    steps::StepEnvironment environment{[this] { return store_.allowedApps(); }, &linux_->platform()};
    planner_ = std::make_unique<steps::Planner>(environment);

    context_ = std::make_unique<api::Context>(store_, linux_->platform(), planner_.get());
    router_ = std::make_unique<api::Router>(*context_);
    api::registerEndpoints(*router_);

    server::ServerOptions options;
    options.port = env::portFromEnvironment();
    options.publicDir = paths::resourceDir() + QStringLiteral("/public");
    options.handler = [this](const server::Request& request, server::Responder responder) {
        router_->route(request, responder);
    };
    options.answersAtOnce = [this](const server::Request& request) {
        return router_->answersAtOnce(request);
    };
    server_ = std::make_unique<server::Server>(options);

    context_->broadcastReload = [this] { server_->broadcastReload(); };
    context_->listeningPort = [this] {
        const quint16 bound = server_->listeningPort();
        return bound ? bound : server_->port();
    };
    context_->setRelayEnabled = [this](bool enabled) {
        if (relay::RelayClient* relay = relay_.load())
            relay->setEnabled(enabled);
    };
    context_->relayBase = [] { return relay::relayBase(); };
    context_->nowPlaying = [this] { return media_ ? media_->state() : QJsonObject(); };
    context_->openAdmin = [this] {
        postTo(this, [this] {
            if (openAdmin_)
                openAdmin_();
        });
    };
}

Agent::~Agent() {
    stop();
}

actions::Platform& Agent::platform() {
    return linux_->platform();
}

void Agent::start() {
    // Before the server: request threads read media_ and never see it change.
    if (!media_)
        media_ = std::make_unique<actions::MediaWatcher>(
            [this](const QJsonObject& state) { server_->broadcast(actions::mediaEvent(state)); });
    server_->start();
    relay::RelayOptions relayOptions;
    relayOptions.key = store_.relayKey().toLatin1();
    auto* relay = new relay::RelayClient(
        store_.relayId(), relay::relayBase(), [this] { return server_->listeningPort(); }, relayOptions,
        this);
    relay->setEnabled(store_.relayEnabled());
    relay_.store(relay);
}

void Agent::stop() {
    if (relay::RelayClient* relay = relay_.exchange(nullptr)) {
        relay->setEnabled(false);
        delete relay;
    }
    server_->stop();
}

void Agent::setOpenAdmin(std::function<void()> openAdmin) {
    openAdmin_ = std::move(openAdmin);
}

void Agent::setLoginItemHooks(std::function<bool()> enabled,
                              std::function<std::optional<QString>(bool)> set) {
    context_->loginItemEnabled = std::move(enabled);
    context_->setLoginItem = std::move(set);
}

} // namespace hb::app
