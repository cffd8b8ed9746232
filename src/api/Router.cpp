#include "api/Router.h"

#include "core/Json.h"
#include "server/PeerCredentials.h"
#include "store/Store.h"

#include <unistd.h>

namespace hb::api {
namespace {

struct TableRow {
    QString path;
    Gate gate;
    std::optional<Gate> postGate; ///< the gate for "POST" when it differs
    int refusalStatus = 401;
};

/// Every API path in dispatch order, with its gate. Endpoint groups supply the handlers.
const QList<TableRow>& routingTable() {
    static const QList<TableRow> table = {
        {QStringLiteral("/api/pair"), Gate::Open, {}, 401},
        {QStringLiteral("/api/pair-code"), Gate::Open, {}, 401},
        {QStringLiteral("/api/unpair"), Gate::Token, {}, 401},
        {QStringLiteral("/api/admin"), Gate::LocalOrToken, {}, 200},
        {QStringLiteral("/api/config"), Gate::Token, Gate::LocalOrToken, 401},
        {QStringLiteral("/api/set-pin"), Gate::LocalOrToken, {}, 401},
        {QStringLiteral("/api/connect"), Gate::LocalOrToken, {}, 401},
        {QStringLiteral("/api/airdrop"), Gate::LocalOrToken, {}, 401},
        {QStringLiteral("/api/launch"), Gate::Token, {}, 401},
        {QStringLiteral("/api/url"), Gate::Token, {}, 401},
        {QStringLiteral("/api/shortcut"), Gate::Token, {}, 401},
        {QStringLiteral("/api/gesture"), Gate::Token, {}, 401},
        {QStringLiteral("/api/media"), Gate::Token, {}, 401},
        {QStringLiteral("/api/volume"), Gate::Token, {}, 401},
        {QStringLiteral("/api/system"), Gate::Token, {}, 401},
        {QStringLiteral("/api/clipboard"), Gate::Token, {}, 401},
        {QStringLiteral("/api/type"), Gate::Token, {}, 401},
        {QStringLiteral("/api/icon"), Gate::Open, {}, 401},
        {QStringLiteral("/api/shortcuts"), Gate::LocalOrToken, {}, 401},
        {QStringLiteral("/api/run-plan"), Gate::Token, {}, 401},
        {QStringLiteral("/api/plan"), Gate::Token, {}, 401},
        {QStringLiteral("/api/flows"), Gate::LocalOrToken, {}, 401},
        {QStringLiteral("/api/open-admin"), Gate::LocalOrToken, {}, 401},
        {QStringLiteral("/api/login-item"), Gate::LocalOrToken, {}, 401},
    };
    return table;
}

const TableRow* findRow(const QString& path) {
    for (const TableRow& row : routingTable()) {
        if (row.path == path)
            return &row;
    }
    return nullptr;
}

/// "host", "host:port", "[v6]" or "[v6]:port" without the port.
QString hostWithoutPort(const QString& host) {
    if (host.startsWith(u'[')) {
        const qsizetype close = host.indexOf(u']');
        return close < 0 ? host : host.first(close + 1);
    }
    const qsizetype colon = host.indexOf(u':');
    return colon < 0 ? host : host.first(colon);
}

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

} // namespace

Router::Router(Context& context) : context_(context) {}

void Router::handle(const QString& path, Endpoint endpoint) {
    endpoints_.insert(path, std::move(endpoint));
}

bool Router::tokenAuth(const server::Request& request) const {
    const auto token = request.headers.constFind(QStringLiteral("x-hb-token"));
    return token != request.headers.cend() && context_.store.tokenValid(*token);
}

bool Router::isTrustedLocal(const server::Request& request) const {
    if (!request.isLocal || request.hasHeader(QStringLiteral("x-hb-relay")))
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
    const TableRow* row = findRow(request.path);
    if (!row) {
        if (request.method == QStringLiteral("GET"))
            responder.serveStatic(request.path);
        else
            responder.json(notOk(), 404);
        return;
    }
    const Gate gate = request.method == QStringLiteral("POST") && row->postGate ? *row->postGate : row->gate;
    const bool passed = gate == Gate::Open || (gate == Gate::Token && tokenAuth(request)) ||
                        (gate == Gate::LocalOrToken && localOrAuth(request));
    if (!passed) {
        responder.json(notOk(), row->refusalStatus);
        return;
    }
    const auto endpoint = endpoints_.constFind(request.path);
    if (endpoint == endpoints_.cend()) {
        responder.json(notOk(), 404);
        return;
    }
    (*endpoint)(request, responder);
}

bool Router::answersAtOnce(const server::Request& request) const {
    return request.method == QStringLiteral("OPTIONS") || request.path == QStringLiteral("/api/events") ||
           !findRow(request.path);
}

QJsonObject bodyJSON(const server::Request& request) {
    return json::parseObject(request.body).value_or(QJsonObject());
}

QJsonObject notOk() {
    return QJsonObject{{QStringLiteral("ok"), false}};
}

} // namespace hb::api
