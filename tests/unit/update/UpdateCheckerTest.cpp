// Version comparison, manifest rules and the checker over a loopback HttpServer.
#include "support/TestSupport.h"
#include "update/UpdateCheck.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

using hb::test::HttpServer;
using hb::update::UpdateChecker;
using hb::update::UpdateInfo;
using namespace std::chrono_literals;

namespace {

TEST(VersionIsNewer, ComparesComponentsNumerically) {
    const struct {
        const char* candidate;
        const char* reference;
        bool newer;
    } rows[] = {
        {"1.2.10", "1.2.9", true},
        {"1.2.9", "1.2.10", false},
        {"1.9", "2.0", false}, // a larger later part does not outweigh an earlier smaller one
        {"1.2", "1.2.0", false},
        {"1.2.0.1", "1.2", true},
        {"", "0.1", false},
        {"1.3-beta", "1.2", false},
        {"1..2", "1.1", true},
        {"+2", "-1", true},
        {"1.99999999999999999999", "1.1", false},
        {"1.9223372036854775807", "1.9223372036854775806", true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(
            hb::update::versionIsNewer(QString::fromUtf8(row.candidate), QString::fromUtf8(row.reference)),
            row.newer)
            << row.candidate << " vs " << row.reference;
}

TEST(Manifest, OnlyANewerHttpsReleaseIsAnUpdate) {
    const struct {
        const char* body;
        bool update;
    } rows[] = {
        {R"({"version":"1.10","url":"https://e.example/d?x=1","notes":"Faster"})", true},
        {"<html>500</html>", false},
        {R"([{"version":"2.0","url":"https://e.example/d"}])", false},
        {R"({"version":2,"url":"https://e.example/d"})", false},
        {R"({"version":"2.0","url":"http://e.example/d"})", false},
        {R"({"version":"2.0","url":"HTTPS://e.example/d"})", false},
        {R"({"version":"2.0","url":"https://e.example:99999/d"})", false},
        {R"({"version":"1.0","url":"https://e.example/d"})", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(hb::update::parseManifest(QByteArray(row.body), QStringLiteral("1.0.0")).has_value(),
                  row.update)
            << row.body;
    const auto info = hb::update::parseManifest(rows[0].body, QStringLiteral("1.0.0"));
    EXPECT_EQ(info->url, QUrl(QStringLiteral("https://e.example/d?x=1")));
    EXPECT_EQ(info->notes, QStringLiteral("Faster"));
    EXPECT_TRUE(hb::update::parseManifest(R"({"version":"2","url":"https://e.example/d","notes":["a"]})",
                                          QStringLiteral("1"))
                    ->notes.isEmpty());
}

/// Runs one check and records how its completion was called.
struct CheckOutcome {
    int calls = 0;
    bool calledSynchronously = false;
    bool onObjectThread = false;
    std::optional<UpdateInfo> info;
};

CheckOutcome runCheck(UpdateChecker& checker) {
    CheckOutcome outcome;
    bool returned = false;
    checker.checkForUpdate([&](std::optional<UpdateInfo> info) {
        ++outcome.calls;
        outcome.calledSynchronously = !returned;
        outcome.onObjectThread = QThread::currentThread() == checker.thread();
        outcome.info = std::move(info);
    });
    returned = true;
    hb::test::waitFor([&] { return outcome.calls > 0; }, 15s);
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    return outcome;
}

HttpServer::Reply manifest(const QByteArray& body, int status = 200, bool never = false) {
    HttpServer::Reply reply;
    reply.status = status;
    reply.body = body;
    reply.never = never;
    return reply;
}

TEST(UpdateChecker, EachCheckFetchesAfreshAndAnErrorStatusStillCounts) {
    HttpServer server([](const HttpServer::Request&) {
        return manifest(R"({"version":"99.1","url":"https://e.example/d"})", 404);
    });
    UpdateChecker checker(QUrl(server.url(QStringLiteral("/latest.json"))), 10s);
    const CheckOutcome outcome = runCheck(checker);
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.calledSynchronously);
    EXPECT_TRUE(outcome.onObjectThread);
    ASSERT_TRUE(outcome.info.has_value());
    EXPECT_EQ(outcome.info->version, QStringLiteral("99.1"));
    server.setAnswer(
        [](const HttpServer::Request&) { return manifest(R"({"version":"0.1","url":"https://e/d"})"); });
    EXPECT_FALSE(runCheck(checker).info.has_value());
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_EQ(server.requests()[0].method + ' ' + server.requests()[0].target, "GET /latest.json");
}

TEST(UpdateChecker, FailuresGiveNoUpdateExactlyOnceOnItsThread) {
    HttpServer quiet([](const HttpServer::Request&) { return manifest({}, 200, true); });
    HttpServer huge([](const HttpServer::Request&) {
        return manifest(R"({"version":"99","url":"https://e.example/d","notes":")" +
                        QByteArray(hb::update::kMaxManifestBytes, 'x') + "\"}");
    });
    const QUrl cases[] = {QUrl(quiet.url()), QUrl(huge.url()),
                          QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(hb::test::freePort())), QUrl(),
                          QUrl(QStringLiteral("gopher://127.0.0.1/latest.json"))};
    for (const QUrl& address : cases) {
        UpdateChecker checker(address, 300ms);
        const CheckOutcome outcome = runCheck(checker);
        EXPECT_EQ(outcome.calls, 1) << address.toString().toStdString();
        EXPECT_FALSE(outcome.calledSynchronously) << address.toString().toStdString();
        EXPECT_TRUE(outcome.onObjectThread) << address.toString().toStdString();
        EXPECT_FALSE(outcome.info.has_value()) << address.toString().toStdString();
    }
}

TEST(UpdateChecker, ManifestAddressFromEnvironmentElseBuildDefault) {
    qputenv("HB_UPDATE_URL", "http://127.0.0.1:9/latest.json");
    EXPECT_EQ(UpdateChecker().manifest(), QUrl(QStringLiteral("http://127.0.0.1:9/latest.json")));
    qunsetenv("HB_UPDATE_URL");
    EXPECT_EQ(UpdateChecker().manifest().scheme(), QStringLiteral("https"));
}

} // namespace
