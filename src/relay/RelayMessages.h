#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace hb::relay {

/// The request header that marks a replay as coming through the relay; the agent's server never
/// treats a request carrying it as local. Whatever the phone sent under this name is dropped.
inline constexpr char kRelayMarkerHeader[] = "x-hb-relay";

/// One relayed request, checked and ready to replay.
struct RelayedRequest {
    QString reqId;
    QByteArray method;
    QString path;                                 ///< path and optional query, beginning with "/"
    QList<QPair<QByteArray, QByteArray>> headers; ///< the phone's header fields that may be replayed
    QByteArray body;
};

enum class MessageVerdict {
    Replay, ///< well formed: replay it
    Drop,   ///< malformed message: no reply at all
    Refuse, ///< well formed but its method or path cannot be replayed safely: reply 400
};

struct ParsedMessage {
    MessageVerdict verdict = MessageVerdict::Drop;
    RelayedRequest request; ///< reqId is set for Replay and Refuse
};

/// Reads one request message of the relay service.
ParsedMessage parseRequestMessage(const QString& text);

/// A target that stays on the local server: begins with "/", not "//", printable ASCII only,
/// no fragment, no backslash, valid percent escapes.
bool isSafeReplayPath(const QString& path);

/// An HTTP token (RFC 9110), as methods and header names must be.
bool isHttpToken(const QByteArray& text);

/// The reply message: "reqId", "status", "headers" ({"Content-Type": …} or {}), "body" (UTF-8 text or
/// ""), and "bodyBase64" beside an empty "body" when the bytes are not UTF-8.
QByteArray replyMessage(const QString& reqId, int status, const QString& contentType, const QByteArray& body);

/// True when `bytes` is valid UTF-8.
bool isUtf8(const QByteArray& bytes);

} // namespace hb::relay
