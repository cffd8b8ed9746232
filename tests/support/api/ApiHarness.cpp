#include "support/api/ApiHarness.h"

#include "api/Endpoints.h"

#include <QFile>
#include <gtest/gtest.h>

namespace hb::test {

ApiHarness::ApiHarness(Options options) : platform_(options.platform ? *options.platform : fake_.platform()) {
    if (QFile file(supportDir_.path() + QStringLiteral("/state.json")); !options.state.isEmpty()) {
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(jsonBody(options.state)) > 0);
    }
    store_ = std::make_unique<store::Store>(
        store::Store::Options{supportDir_.path(), QStringLiteral(HB_RESOURCES_DIR), options.now});

    steps::StepEnvironment environment{[this] { return store_->allowedApps(); }, &platform_};
    planner_ = std::make_unique<steps::Planner>(environment,
                                                steps::Planner::Options{.baseUrl = options.plannerBaseUrl});

    context_ = std::make_unique<api::Context>(api::Context{*store_, platform_, planner_.get()});
    router_ = std::make_unique<api::Router>(*context_);
    api::registerEndpoints(*router_);

    server::ServerOptions serverOptions;
    serverOptions.port = 0;
    serverOptions.publicDir = QStringLiteral(HB_RESOURCES_DIR "/public");
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

RawResponse ApiHarness::request(const QByteArray& method, const QByteArray& target, const QByteArray& body,
                                const QString& token, QHash<QByteArray, QByteArray> headers,
                                const QHostAddress& from) {
    if (!token.isEmpty())
        headers.insert("x-hb-token", token.toUtf8());
    return httpRequest(port(), method, target, body, headers, from);
}

void expectAnswer(const RawResponse& response, int status, const char* json) {
    EXPECT_EQ(response.status, status) << response.raw.constData();
    EXPECT_EQ(response.json(), parsed(json)) << response.body.constData();
}

} // namespace hb::test
