#pragma once
#include "server/Request.h"

#include <QByteArray>
#include <QString>

namespace hb::relay::service {

/// Where a request leads on the relay service.
struct PhoneTarget {
    enum class Kind { Other, Redirect, Forward };
    Kind kind = Kind::Other;
    QString relayId;
    QByteArray rest;     ///< Forward: the agent-side target, beginning with "/" (query included)
    QByteArray location; ///< Redirect: "/phone/<id>/" plus the query
};

/// Splits the decoded path "/phone/<id>/…": Forward with the remainder, Redirect for "/phone/<id>"
/// alone, else Other. The remainder and query are percent-encoded again, so that the agent's server
/// reads them exactly as this one did.
PhoneTarget phoneTarget(const QString& path, const QHash<QString, QString>& query);

/// Relay identifiers: 1 to 64 of A–Z, a–z, 0–9, "-", "_", ".".
bool isValidRelayId(QStringView id);

/// Request header fields passed on to the agent; nothing else of the phone's request is forwarded.
bool isForwardedHeader(const QByteArray& lowerName);

/// The request message for the agent ("reqId", "method", "path", "headers", "body").
QByteArray requestMessage(const QString& reqId, const server::Request& request, const QByteArray& rest);

/// One reply message of an agent, checked.
struct AgentAnswer {
    bool valid = false;  ///< carries a "reqId"
    bool usable = false; ///< and a status and body the phone can be given (else 502)
    QString reqId;
    int status = 0;
    QByteArray contentType;
    QByteArray body;
};

/// Reads a reply message: a "reqId" string, an integral "status" 100–599, an optional string
/// "Content-Type" in "headers", "body" text, or the bytes of "bodyBase64" when present.
AgentAnswer parseAgentReply(const QString& text);

} // namespace hb::relay::service
