#pragma once
// A real agent core for endpoint tests: Server + Router + Store (temporary support folder) +
// FakePlatform (+ Planner), listening on a kernel-chosen loopback port.
#include "actions/platform/fake/FakePlatform.h"
#include "api/Router.h"
#include "server/Server.h"
#include "steps/Planner.h"
#include "store/Store.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <atomic>
#include <memory>

namespace hb::test {

class ApiHarness {
  public:
    struct Options {
        QString plannerBaseUrl;         ///< Messages API; empty: ANTHROPIC_BASE_URL or the default
        std::function<QDateTime()> now; ///< clock for one-time codes; empty: the system's
        std::function<void(api::Context&)> customize; ///< adjusts hooks before the server starts
        const actions::Platform* platform = nullptr;  ///< the desktop driven; null: the recording fake
        QJsonObject state;                            ///< written as state.json first, when not empty
    };

    ApiHarness() : ApiHarness(Options{}) {}
    explicit ApiHarness(Options options);
    ~ApiHarness() { server_->stop(); }

    quint16 port() const { return server_->listeningPort(); }
    store::Store& store() { return *store_; }
    actions::FakePlatform& fake() { return fake_; }
    QString supportDir() const { return supportDir_.path(); }
    int reloads() const { return reloads_.load(); } ///< reload broadcasts so far

    /// Pairs with the current PIN through the HTTP API and returns the token.
    QString pairToken() {
        return request("POST", "/api/pair", field("pin", store_->pinValue())).json()[u"token"].toString();
    }
    /// One request over a real socket (from 127.0.0.1 unless `from` says otherwise).
    RawResponse request(const QByteArray& method, const QByteArray& target, const QByteArray& body = {},
                        const QString& token = {}, QHash<QByteArray, QByteArray> headers = {},
                        const QHostAddress& from = QHostAddress());
    /// The same from 127.0.0.2: a caller that is not local.
    RawResponse remote(const QByteArray& method, const QByteArray& target, const QByteArray& body = {},
                       const QString& token = {}) {
        return request(method, target, body, token, {}, QHostAddress(QStringLiteral("127.0.0.2")));
    }

  private:
    QTemporaryDir supportDir_;
    actions::FakePlatform fake_;
    actions::Platform platform_;
    std::unique_ptr<store::Store> store_;
    std::unique_ptr<steps::Planner> planner_;
    std::unique_ptr<api::Context> context_;
    std::unique_ptr<api::Router> router_;
    std::unique_ptr<server::Server> server_;
    std::atomic<int> reloads_{0};
};

/// Status and exact JSON body of an answer, compared as one.
void expectAnswer(const RawResponse& response, int status, const char* json);

} // namespace hb::test
