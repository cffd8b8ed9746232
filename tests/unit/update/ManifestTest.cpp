#include "update/UpdateCheck.h"

#include <gtest/gtest.h>

using hb::update::parseManifest;

namespace {

const QString kCurrent = QStringLiteral("1.0.0");

struct RefusedCase {
    const char* name;
    const char* body;
};

class ManifestRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ManifestRefused, GivesNoUpdate) {
    EXPECT_FALSE(parseManifest(QByteArray(GetParam().body), kCurrent).has_value()) << GetParam().body;
}

const RefusedCase kRefused[] = {
    {"Empty", ""},
    {"NotJson", "<html>500</html>"},
    {"TopLevelArray", R"([{"version":"2.0","url":"https://e.example/d"}])"},
    {"TopLevelString", R"("2.0")"},
    {"VersionMissing", R"({"url":"https://e.example/d"})"},
    {"VersionNumber", R"({"version":2,"url":"https://e.example/d"})"},
    {"UrlMissing", R"({"version":"2.0"})"},
    {"UrlNotText", R"({"version":"2.0","url":{"href":"https://e.example/d"}})"},
    {"PlainHttp", R"({"version":"2.0","url":"http://e.example/d"})"},
    {"CapitalisedScheme", R"({"version":"2.0","url":"HTTPS://e.example/d"})"},
    {"MixedCaseScheme", R"({"version":"2.0","url":"Https://e.example/d"})"},
    {"NoScheme", R"({"version":"2.0","url":"e.example/d"})"},
    {"Relative", R"({"version":"2.0","url":"/download"})"},
    {"HttpsWithoutHost", R"({"version":"2.0","url":"https:download"})"},
    {"OtherScheme", R"({"version":"2.0","url":"javascript:open"})"},
    {"Unparsable", R"({"version":"2.0","url":"https://e.example:99999/d"})"},
    {"SameVersion", R"({"version":"1.0","url":"https://e.example/d"})"},
    {"OlderVersion", R"({"version":"0.9.9","url":"https://e.example/d"})"},
    {"BetaReadsOlder", R"({"version":"1.0-beta","url":"https://e.example/d"})"},
};

INSTANTIATE_TEST_SUITE_P(Table, ManifestRefused, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Manifest, NewerHttpsReleaseIsReportedAsWritten) {
    const auto info = parseManifest(
        R"({"version":"1.10","url":"https://e.example/dl/harbly-1.10.deb?x=1","notes":"Faster pairing","size":3})",
        kCurrent);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->version, QStringLiteral("1.10"));
    EXPECT_EQ(info->url, QUrl(QStringLiteral("https://e.example/dl/harbly-1.10.deb?x=1")));
    EXPECT_EQ(info->notes, QStringLiteral("Faster pairing"));
}

TEST(Manifest, NotesAbsentOrNotTextAreEmpty) {
    for (const char* body : {R"({"version":"2","url":"https://e.example/d"})",
                             R"({"version":"2","url":"https://e.example/d","notes":null})",
                             R"({"version":"2","url":"https://e.example/d","notes":["a"]})"}) {
        const auto info = parseManifest(QByteArray(body), kCurrent);
        ASSERT_TRUE(info.has_value()) << body;
        EXPECT_TRUE(info->notes.isEmpty()) << body;
    }
}

TEST(Manifest, UnknownRunningVersionTakesAnyPositiveRelease) {
    EXPECT_TRUE(parseManifest(R"({"version":"0.0.1","url":"https://e.example/d"})", QStringLiteral("0")));
    EXPECT_FALSE(parseManifest(R"({"version":"0.0","url":"https://e.example/d"})", QStringLiteral("0")));
}

} // namespace
