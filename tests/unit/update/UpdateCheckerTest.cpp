#include "ManifestServer.h"
#include "support/TestSupport.h"
#include "update/UpdateCheck.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>

using hb::update::UpdateChecker;
using hb::update::UpdateInfo;
using namespace std::chrono_literals;

namespace {

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

QUrl url(const QByteArray& text) {
    return QUrl(QString::fromLatin1(text));
}

TEST(UpdateChecker, NewerManifestFromServerIsReportedOnceLaterOnItsThread) {
    hb::test::ManifestServer server;
    server.serve(R"({"version":"99.1","url":"https://e.example/harbly.deb","notes":"n"})");
    UpdateChecker checker(url(server.manifestUrl()), 10s);
    const CheckOutcome outcome = runCheck(checker);
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_FALSE(outcome.calledSynchronously);
    EXPECT_TRUE(outcome.onObjectThread);
    ASSERT_TRUE(outcome.info.has_value());
    EXPECT_EQ(outcome.info->version, QStringLiteral("99.1"));
    EXPECT_EQ(outcome.info->notes, QStringLiteral("n"));
    EXPECT_TRUE(server.lastRequest().startsWith("GET /latest.json HTTP/1.1\r\n"));
}

TEST(UpdateChecker, EachCheckFetchesAfresh) {
    hb::test::ManifestServer server;
    server.serve(R"({"version":"99","url":"https://e.example/d"})");
    UpdateChecker checker(url(server.manifestUrl()), 10s);
    EXPECT_TRUE(runCheck(checker).info.has_value());
    server.serve(R"({"version":"0.1","url":"https://e.example/d"})");
    EXPECT_FALSE(runCheck(checker).info.has_value());
    EXPECT_EQ(server.requests(), 2);
}

TEST(UpdateChecker, ManifestInAnErrorAnswerStillCounts) {
    hb::test::ManifestServer server;
    server.serve(R"({"version":"99","url":"https://e.example/d"})", 404);
    UpdateChecker checker(url(server.manifestUrl()), 10s);
    EXPECT_TRUE(runCheck(checker).info.has_value());
}

TEST(UpdateChecker, FailuresGiveNoUpdateExactlyOnceOnItsThread) {
    hb::test::ManifestServer quiet;
    quiet.stayQuiet();
    hb::test::ManifestServer huge;
    huge.serve(R"({"version":"99","url":"https://e.example/d","notes":")" +
               QByteArray(hb::update::kMaxManifestBytes, 'x') + "\"}");
    hb::test::ManifestServer closed;
    const QByteArray closedUrl = closed.manifestUrl();
    closed.close();

    const struct {
        const char* name;
        QUrl manifest;
    } cases[] = {
        {"NoAnswerWithinTimeout", url(quiet.manifestUrl())},
        {"OversizedBody", url(huge.manifestUrl())},
        {"ConnectionRefused", url(closedUrl)},
        {"NotAnAddress", QUrl()},
        {"UnsupportedScheme", url("gopher://127.0.0.1/latest.json")},
    };
    for (const auto& c : cases) {
        UpdateChecker checker(c.manifest, 300ms);
        const CheckOutcome outcome = runCheck(checker);
        EXPECT_EQ(outcome.calls, 1) << c.name;
        EXPECT_FALSE(outcome.calledSynchronously) << c.name;
        EXPECT_TRUE(outcome.onObjectThread) << c.name;
        EXPECT_FALSE(outcome.info.has_value()) << c.name;
    }
}

TEST(UpdateChecker, ManifestAddressFromEnvironmentElseBuildDefault) {
    qputenv("HB_UPDATE_URL", "http://127.0.0.1:9/latest.json");
    EXPECT_EQ(UpdateChecker().manifest(), QUrl(QStringLiteral("http://127.0.0.1:9/latest.json")));
    qunsetenv("HB_UPDATE_URL");
    const QUrl fallback = UpdateChecker().manifest();
    EXPECT_EQ(fallback.scheme(), QStringLiteral("https"));
    EXPECT_TRUE(fallback.path().endsWith(QStringLiteral("/latest.json")));
}

} // namespace
