#include "server/Responder.h"

#include "core/Json.h"
#include "server/IoWorker.h"
#include "server/ResponderState.h"
#include "server/Response.h"
#include "server/StaticFiles.h"

namespace hb::server {

detail::ResponderState::~ResponderState() {
    // Nobody answered: close rather than leave the client waiting.
    if (!answered.load())
        handle->post([](Connection* connection) { connection->abort(); });
}

Responder::Responder(std::shared_ptr<detail::ResponderState> state) : d(std::move(state)) {}

void Responder::send(int status, const QByteArray& contentType, const QByteArray& body) const {
    if (!d->claim())
        return;
    QByteArray bytes = responseBytes(status, contentType, body);
    d->handle->post([bytes = std::move(bytes)](Connection* connection) { connection->writeAndClose(bytes); });
}

void Responder::json(const QJsonObject& object, int status) const {
    QByteArray body = json::compact(object);
    if (body.isEmpty())
        body = QByteArrayLiteral("{}");
    send(status, QByteArrayLiteral("application/json"), body);
}

void Responder::serveStatic(const QString& path) const {
    const StaticAnswer answer = d->shared->staticFiles.answer(path);
    send(answer.status, answer.contentType, answer.body);
}

void Responder::openEventStream() const {
    if (!d->claim())
        return;
    d->handle->post([](Connection* connection) { connection->becomeStream(); });
}

bool Responder::answered() const {
    return d->answered.load();
}

} // namespace hb::server
