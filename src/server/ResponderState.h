#pragma once
// Internal to the server: what a Responder holds.
#include "server/Connection.h"

#include <atomic>
#include <memory>

namespace hb::server {
struct ServerShared;
}

namespace hb::server::detail {

struct ResponderState {
    ResponderState(std::shared_ptr<ConnectionHandle> h, ServerShared* s) : handle(std::move(h)), shared(s) {}
    ~ResponderState();
    /// True for the first caller only.
    bool claim() { return !answered.exchange(true); }

    std::shared_ptr<ConnectionHandle> handle;
    ServerShared* shared;
    std::atomic<bool> answered{false};
};

} // namespace hb::server::detail
