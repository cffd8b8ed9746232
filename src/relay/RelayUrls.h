#pragma once
#include <QString>
#include <QUrl>

namespace hb::relay {

/// The relay service base: $HB_RELAY_URL, else the build default (ws:// or wss://).
QString relayBase();

/// base + "/mac/ws?id=" + relay identifier: where the agent's WebSocket connects.
QUrl agentEndpoint(const QString& base, const QString& relayId);

/// The address phones use through the relay: the base with ws→http / wss→https,
/// then "/phone/" + relay identifier.
QString phoneUrl(const QString& base, const QString& relayId);

} // namespace hb::relay
