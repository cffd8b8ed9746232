#pragma once
#include "server/Request.h"

#include <optional>
#include <sys/types.h>

namespace hb::server {

/// The user owning the client socket of a loopback connection, found through the kernel's
/// TCP socket tables; nothing when it cannot be told.
std::optional<uid_t> loopbackPeerUid(const Request& request);

} // namespace hb::server
