#include "api/Router.h"

#include "core/Json.h"
#include "server/PeerCredentials.h"
#include "store/Store.h"

#include <unistd.h>

namespace hb::api {
namespace {

/// "host", "host:port", "[v6]" or "[v6]:port" without the port.
QString hostWithoutPort(const QString& host) {
    if (host.startsWith(u'[')) {
        const qsizetype close = host.indexOf(u']');
        return close < 0 ? host : host.first(close + 1);
    }
    const qsizetype colon = host.indexOf(u':');
    return colon < 0 ? host : host.first(colon);
}

} // namespace

bool isLoopbackName(const QString& host) {
    const QString name = hostWithoutPort(host).toLower();
    return name == QStringLiteral("127.0.0.1") || name == QStringLiteral("localhost") ||
           name == QStringLiteral("[::1]");
}

bool isOwnOrigin(const QString& origin, quint16 port) {
    const QString suffix = u':' + QString::number(port);
    for (const char* host : {"http://127.0.0.1", "http://localhost", "http://[::1]"}) {
        if (origin.compare(QLatin1String(host) + suffix, Qt::CaseInsensitive) == 0)
            return true;
        // Browsers leave out the scheme's default port.
        if (port == 80 && origin.compare(QLatin1String(host), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

Router::Router(Context& context) : context_(context) {}

void Router::add(Route route) {
    Q_ASSERT(route.handler && !routes_.contains(route.path));
    const QString path = route.path;
    routes_.insert(path, std::move(route));
}

bool Router::tokenAuth(const server::Request& request) const {
    const auto token = request.headers.constFind(QStringLiteral("x-hb-token"));
    return token != request.headers.cend() &&
           context_.store.useToken(*token, isRelayed(request) ? store::Via::Relay : store::Via::Lan);
}

bool isRelayed(const server::Request& request) {
    return request.hasHeader(QStringLiteral("x-hb-relay"));
}

bool Router::isTrustedLocal(const server::Request& request) const {
    if (!request.isLocal || isRelayed(request))
        return false;
    // A page on another site (or another port of this machine) must not borrow local trust.
    if (request.hasHeader(QStringLiteral("origin")) &&
        !isOwnOrigin(request.header(QStringLiteral("origin")), request.localPort))
        return false;
    if (request.hasHeader(QStringLiteral("sec-fetch-site"))) {
        const QString site = request.header(QStringLiteral("sec-fetch-site"));
        if (site != QStringLiteral("same-origin") && site != QStringLiteral("none"))
            return false;
    }
    // A name that merely resolves to loopback (DNS rebinding) is not this machine.
    if (request.hasHeader(QStringLiteral("host")) && !isLoopbackName(request.header(QStringLiteral("host"))))
        return false;
    // Other accounts of this machine reach the loopback address too.
    const auto uid = server::loopbackPeerUid(request);
    return uid && *uid == ::getuid();
}

bool Router::localOrAuth(const server::Request& request) const {
    return isTrustedLocal(request) || tokenAuth(request);
}

void Router::route(const server::Request& request, const server::Responder& responder) const {
    if (request.method == QStringLiteral("OPTIONS")) {
        responder.send(204, QByteArrayLiteral("text/plain"), {});
        return;
    }
    if (request.path == QStringLiteral("/api/events")) {
        responder.openEventStream();
        return;
    }
    // Paths are matched exactly and each is installed once, so at most one route matches.
    const auto route = routes_.constFind(request.path);
    if (route == routes_.cend()) {
        if (request.method == QStringLiteral("GET"))
            responder.serveStatic(request.path);
        else
            responder.json(notOk(), 404);
        return;
    }
    const Gate gate =
        request.method == QStringLiteral("POST") && route->postGate ? *route->postGate : route->gate;
    if (!passes(gate, request)) {
        responder.json(notOk(), route->refusalStatus);
        return;
    }
    route->handler(context_, request, responder);
}

bool Router::passes(Gate gate, const server::Request& request) const {
    switch (gate) {
    case Gate::Open:
        return true;
    case Gate::Token:
        return tokenAuth(request);
    case Gate::LocalOrToken:
        return localOrAuth(request);
    }
    return false;
}

bool Router::answersAtOnce(const server::Request& request) const {
    return request.method == QStringLiteral("OPTIONS") || request.path == QStringLiteral("/api/events") ||
           !routes_.contains(request.path);
}

QJsonObject bodyJSON(const server::Request& request) {
    return json::parseObject(request.body).value_or(QJsonObject());
}

QJsonObject notOk() {
    return QJsonObject{{QStringLiteral("ok"), false}};
}

} // namespace hb::api
