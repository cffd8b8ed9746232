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
        {"1.9", "2.0", false}, // a larger later part does not outweigh an earlier smaller one
        {"1.2", "1.2.0", false},
        {"1.2.0.1", "1.2", true},
        {"", "0.1", false},
        {"1.3-beta", "1.2", false},
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
    const std::pair<const char*, bool> rows[] = {
        {R"({"version":"1.10","url":"https://e.example/d?x=1","notes":"Faster"})", true},
        {"<html>500</html>", false},
        {R"([{"version":"2.0","url":"https://e.example/d"}])", false},
        {R"({"version":2,"url":"https://e.example/d"})", false},
        {R"({"version":"2.0","url":"http://e.example/d"})", false},
        {R"({"version":"2.0","url":"HTTPS://e.example/d"})", false},
        {R"({"version":"2.0","url":"https://e.example:99999/d"})", false},
        {R"({"version":"1.0","url":"https://e.example/d"})", false},
    };
    for (const auto& [body, update] : rows)
        EXPECT_EQ(hb::update::parseManifest(QByteArray(body), QStringLiteral("1.0.0")).has_value(), update)
            << body;
    EXPECT_TRUE(hb::update::parseManifest(R"({"version":"2","url":"https://e.example/d","notes":["a"]})",
                                          QStringLiteral("1"))
                    ->notes.isEmpty());
}

// Catches: a result cached instead of fetched afresh, an error status discarding a manifest, a
// failure (silence, an oversized manifest, nothing listening, no or a foreign address) answered
// with an update, twice, at once from inside the call, or on another thread.
TEST(UpdateChecker, EachCheckFetchesAfreshAndEndsExactlyOnceOnItsThread) {
    HttpServer server;
    const QUrl latest(server.url(QStringLiteral("/latest.json")));
    const QByteArray huge = R"({"version":"99","url":"https://e.example/d","notes":")" +
                            QByteArray(hb::update::kMaxManifestBytes, 'x') + "\"}";
    const struct {
        QUrl address;
        HttpServer::Reply reply;
        const char* version;
    } rows[] = {
        {latest, {404, R"({"version":"99.1","url":"https://e.example/d"})", "application/json", {}}, "99.1"},
        {latest, {200, R"({"version":"0.1","url":"https://e.example/d"})", "application/json", {}}, ""},
        {latest, {200, {}, "application/json", {}, true}, ""},
        {latest, {200, huge, "application/json", {}}, ""},
        {QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(hb::test::freePort())), {}, ""},
        {QUrl(), {}, ""},
        {QUrl(QStringLiteral("gopher://127.0.0.1/latest.json")), {}, ""},
    };
    std::unique_ptr<UpdateChecker> checker;
    for (const auto& row : rows) {
        if (!checker || checker->manifest() != row.address) // a repeated address reuses the checker
            checker = std::make_unique<UpdateChecker>(row.address, 300ms);
        server.setAnswer([&row](const HttpServer::Request&) { return row.reply; });
        int calls = 0;
        bool returned = false, synchronous = false, otherThread = false;
        QString version;
        checker->checkForUpdate([&](std::optional<UpdateInfo> info) {
            ++calls;
            synchronous = !returned;
            otherThread = QThread::currentThread() != checker->thread();
            version = info ? info->version : QString();
        });
        returned = true;
        hb::test::waitFor([&] { return calls > 0; }, 15s);
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        const std::string name = "row " + std::to_string(&row - rows);
        EXPECT_EQ(calls, 1) << name;
        EXPECT_FALSE(synchronous || otherThread) << name;
        EXPECT_EQ(version, QString::fromUtf8(row.version)) << name;
    }
    EXPECT_EQ(server.requests()[0].method + ' ' + server.requests()[0].target, "GET /latest.json");
}

} // namespace
