// openURL through GIO's default handler: a test browser entry named in mimeapps.list records
// the address it was given. It also claims mailto, ftp and file, so refusals are ours.
#include "AppsEnvironment.h"

#include "actions/platform/linux/Applications.h"

#include <QFile>
#include <gtest/gtest.h>

using hb::actions::LinuxApplications;
using namespace hb::test::apps;

TEST(LinuxApplicationsOpenURL, WebAddressesReachTheDefaultBrowserVerbatim) {
    LinuxApplications apps;
    const struct {
        const char* address;
        const char* recorded;
    } rows[] = {
        {"https://example.com/path?q=1", "https://example.com/path?q=1"},
        {"HTTPS://Example.com:8443/a/b", "https://example.com:8443/a/b"},
        {"http://127.0.0.1:8788/admin#top", "http://127.0.0.1:8788/admin#top"},
        {"https://example.com/?a=$(id)&b='c';d", "https://example.com/?a=$(id)&b='c';d"},
    };
    for (const auto& row : rows) {
        const QString mark = freshPath(QStringLiteral("url"));
        qputenv("HB_TEST_URL_MARK", mark.toUtf8());
        EXPECT_TRUE(apps.openURL(QString::fromUtf8(row.address))) << row.address;
        EXPECT_EQ(waitForContent(mark), QString::fromUtf8(row.recorded)) << row.address;
    }
}

TEST(LinuxApplicationsOpenURL, OtherAddressesAreRefused) {
    LinuxApplications apps;
    const QString mark = freshPath(QStringLiteral("refused"));
    qputenv("HB_TEST_URL_MARK", mark.toUtf8());
    const char* refused[] = {"mailto:someone@example.com",
                             "file:///etc/passwd",
                             "ftp://example.com/x",
                             "example.com",
                             "//example.com/",
                             "",
                             "javascript:alert(1)",
                             "https://exa mple.com/"};
    for (const char* address : refused)
        EXPECT_FALSE(apps.openURL(QString::fromUtf8(address))) << address;
    EXPECT_FALSE(QFile::exists(mark));
}
