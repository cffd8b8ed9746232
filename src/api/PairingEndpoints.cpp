// Pairing and its secrets: translating between HTTP and the store's PIN, tokens and codes.
#include "actions/Actions.h"
#include "api/Endpoints.h"
#include "api/Router.h"
#include "core/Json.h"
#include "store/Store.h"

namespace hb::api {
namespace {

QJsonObject withToken(const QString& token) {
    return QJsonObject{{QStringLiteral("ok"), true}, {QStringLiteral("token"), token}};
}

QJsonObject failure(const QString& message) {
    return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}};
}

void pair(Context& context, const server::Request& request, const server::Responder& responder) {
    const store::PairResult result =
        context.store.pair(json::textField(bodyJSON(request), QStringLiteral("pin")), newDevice(request));
    switch (result.outcome) {
    case store::PairOutcome::Ok:
        responder.json(withToken(result.token));
        return;
    case store::PairOutcome::Wrong:
        responder.json(failure(QStringLiteral("Wrong PIN")), 401);
        return;
    case store::PairOutcome::Locked: {
        QJsonObject locked = failure(QStringLiteral("Locked \u2014 too many tries"));
        locked.insert(QStringLiteral("locked"), true);
        responder.json(locked, 423);
        return;
    }
    }
}

void pairCode(Context& context, const server::Request& request, const server::Responder& responder) {
    const std::optional<QString> token = context.store.consumeCode(
        json::textField(bodyJSON(request), QStringLiteral("code")), newDevice(request));
    if (token)
        responder.json(withToken(*token));
    else
        responder.json(failure(QStringLiteral("Invalid or expired code")), 401);
}

// The token gate has already checked the header: exactly that token is revoked.
void unpair(Context& context, const server::Request& request, const server::Responder& responder) {
    context.store.removeToken(request.header(QStringLiteral("x-hb-token")));
    responder.json(QJsonObject{{QStringLiteral("ok"), true}});
}

void setPin(Context& context, const server::Request& request, const server::Responder& responder) {
    const bool changed = context.store.setPin(json::textField(bodyJSON(request), QStringLiteral("pin")));
    responder.json(QJsonObject{{QStringLiteral("ok"), changed}});
}

void connect(Context& context, const server::Request&, const server::Responder& responder) {
    const QString link = QStringLiteral("http://") + context.platform.host.lanIP() + u':' +
                         QString::number(context.listeningPort()) + QStringLiteral("/?pair=") +
                         context.store.mintCode();
    responder.json(QJsonObject{{QStringLiteral("ok"), true},
                               {QStringLiteral("url"), link},
                               {QStringLiteral("qr"), actions::qrDataURL(link).value_or(QString())}});
}

void airdrop(Context&, const server::Request&, const server::Responder& responder) {
    responder.json(failure(QStringLiteral("Scan the QR code instead.")));
}

} // namespace

void registerPairingEndpoints(Router& router) {
    router.add({QStringLiteral("/api/pair"), Gate::Open, pair});
    router.add({QStringLiteral("/api/pair-code"), Gate::Open, pairCode});
    router.add({QStringLiteral("/api/unpair"), Gate::Token, unpair});
    router.add({QStringLiteral("/api/set-pin"), Gate::LocalOrToken, setPin});
    router.add({QStringLiteral("/api/connect"), Gate::LocalOrToken, connect});
    router.add({QStringLiteral("/api/airdrop"), Gate::LocalOrToken, airdrop});
}

} // namespace hb::api
