#include "support/api/ApiHarness.h"

#include "api/Endpoints.h"

#include <QJsonDocument>

namespace hb::test {

ApiHarness::ApiHarness() : ApiHarness(Options{}) {}

ApiHarness::ApiHarness(Options options) : platform_(options.platform ? *options.platform : fake_.platform()) {
    store_ = std::make_unique<store::Store>(
        store::Store::Options{supportDir_.path(), options.resourceDir, options.now});

    steps::StepEnvironment environment{[this] { return store_->allowedApps(); }, &platform_};
    steps::Planner::Options plannerOptions;
    plannerOptions.baseUrl = options.plannerBaseUrl;
    plannerOptions.timeout = options.plannerTimeout;
    planner_ = std::make_unique<steps::Planner>(environment, plannerOptions);

    context_ = std::make_unique<api::Context>(api::Context{*store_, platform_, planner_.get()});
    router_ = std::make_unique<api::Router>(*context_);
    api::registerEndpoints(*router_);

    server::ServerOptions serverOptions;
    serverOptions.port = options.port;
    serverOptions.publicDir = options.resourceDir + QStringLiteral("/public");
    serverOptions.bindAttempts = 1;
    serverOptions.handler = [this](const server::Request& request, server::Responder responder) {
        router_->route(request, responder);
    };
    serverOptions.answersAtOnce = [this](const server::Request& request) {
        return router_->answersAtOnce(request);
    };
    server_ = std::make_unique<server::Server>(serverOptions);
    context_->broadcastReload = [this] {
        reloads_.fetch_add(1);
        server_->broadcastReload();
    };
    context_->listeningPort = [this] { return server_->listeningPort(); };
    if (options.customize)
        options.customize(*context_);
    server_->start();
    server_->waitUntilListening(std::chrono::seconds(5));
}

ApiHarness::~ApiHarness() {
    server_->stop();
}

QString ApiHarness::pairToken() {
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("pin"), store_->pinValue()}})
                                .toJson(QJsonDocument::Compact);
    return request("POST", "/api/pair", body).json().value(QStringLiteral("token")).toString();
}

RawResponse ApiHarness::request(const QByteArray& method, const QByteArray& target, const QByteArray& body,
                                const QString& token, QHash<QByteArray, QByteArray> headers,
                                const QHostAddress& from) {
    if (!token.isEmpty())
        headers.insert("x-hb-token", token.toUtf8());
    return httpRequest(port(), method, target, body, headers, from);
}

RawResponse ApiHarness::remote(const QByteArray& method, const QByteArray& target, const QByteArray& body,
                               const QString& token) {
    return request(method, target, body, token, {}, QHostAddress(QStringLiteral("127.0.0.2")));
}

} // namespace hb::test
