#pragma once
#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <memory>

namespace hb::server {

namespace detail {
struct ResponderState;
}

/// The one answer of a request. Copyable and usable from any thread: the bytes are handed
/// back to the connection's own I/O thread. The first answer wins; later ones are ignored.
/// When the last copy goes away unanswered, the connection is closed.
class Responder {
  public:
    explicit Responder(std::shared_ptr<detail::ResponderState> state);

    /// A complete response with "Connection: close"; the connection closes once it is written.
    void send(int status, const QByteArray& contentType, const QByteArray& body) const;
    /// A compact JSON object as "application/json".
    void json(const QJsonObject& object, int status = 200) const;
    /// A file below the public resource folder, or 404 "not found".
    void serveStatic(const QString& path) const;
    /// Turns the connection into a server-sent event stream (or 503 when the cap is reached).
    void openEventStream() const;

    bool answered() const;

  private:
    std::shared_ptr<detail::ResponderState> d;
};

} // namespace hb::server
