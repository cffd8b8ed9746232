// LinuxApplications against real desktop entries and icon files (see AppsEnvironment.h).
#include "AppsEnvironment.h"

#include "actions/platform/linux/Applications.h"
#include "actions/platform/linux/IconRenderer.h"

#include <QDir>
#include <QFile>
#include <QIcon>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using hb::actions::LinuxApplications;
using namespace hb::test::apps;

namespace {

LinuxApplications& applications() {
    static LinuxApplications apps;
    return apps;
}

/// Launches `name` with $HB_TEST_MARK pointing at a fresh file; the file's content.
QString launchAndRead(const QString& name) {
    const QString mark = freshPath(QStringLiteral("mark"));
    qputenv("HB_TEST_MARK", mark.toUtf8());
    if (!applications().launchApp(name))
        return QStringLiteral("<not launched>");
    return waitForContent(mark);
}

} // namespace

// Shown entries only, by Name, once each, in code-point order (U+FF21 before U+1F600); hidden, NoDisplay,
// other desktops, missing TryExec or Exec programs, shadowed IDs and non-".desktop" files are out.
TEST(LinuxApplications, ListsShownEntriesByNameSortedOnce) {
    const QStringList expected{
        QStringLiteral("Alpha"),        QStringLiteral("Launch Probe"), QStringLiteral("Missing Icon"),
        QStringLiteral("Test Browser"), QStringLiteral("Twin"),         QStringLiteral("Zeta"),
        QStringLiteral("beta"),         QStringLiteral("Ａpp"),         QStringLiteral("😀 Party")};
    EXPECT_EQ(applications().listApps(), expected);
}

TEST(LinuxApplications, EveryListedNameResolves) {
    for (const QString& name : applications().listApps()) {
        if (name == QStringLiteral("Test Browser"))
            continue; // started with no address it would record nothing useful
        const bool hasIcon = applications().iconPNG(name).has_value();
        const bool expectIcon = name == QStringLiteral("Alpha") || name == QStringLiteral("Twin") ||
                                name == QStringLiteral("Zeta");
        EXPECT_EQ(hasIcon, expectIcon) << name.toStdString();
    }
}

TEST(LinuxApplications, InstalledAndRemovedEntriesShowAtOnce) {
    // The catalogue is kept between calls; an entry added or removed must still show at once.
    const QString late = environment().root + QStringLiteral("/data-home/applications/hb-late.desktop");
    const QString name = QStringLiteral("Late Arrival");
    ASSERT_FALSE(applications().listApps().contains(name));
    QDir().mkpath(late.section(u'/', 0, -2));
    {
        QFile file(late);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Desktop Entry]\nType=Application\nName=Late Arrival\nExec=/bin/true\nIcon=" +
                   environment().svgIcon.toUtf8() + "\n");
    }
    EXPECT_TRUE(applications().listApps().contains(name));
    EXPECT_TRUE(applications().iconPNG(name).has_value());
    ASSERT_TRUE(QFile::remove(late));
    EXPECT_FALSE(applications().listApps().contains(name));
    EXPECT_FALSE(applications().iconPNG(name).has_value());
}

TEST(LinuxApplications, LaunchRunsTheEntry) {
    EXPECT_EQ(launchAndRead(QStringLiteral("Launch Probe")), QStringLiteral("launched\n"));
    // Two entries share "Twin": the one of the first data folder owns the name.
    EXPECT_EQ(launchAndRead(QStringLiteral("Twin")), QStringLiteral("first\n"));
}

TEST(LinuxApplications, LaunchRefusesNamesThatDoNotResolve) {
    const char* names[] = {"",
                           "launch probe",
                           "Launch Probe ",
                           "Hidden Entry",
                           "NoDisplay Entry",
                           "KDE Only Entry",
                           "TryExec Entry",
                           "Upper Case File",
                           "Alpha Shadowed",
                           "hb-launch",
                           "hb-launch.desktop"};
    for (const char* name : names)
        EXPECT_FALSE(applications().launchApp(QString::fromUtf8(name))) << name;
}

TEST(LinuxApplications, IconsAre64SquareRgbaPngs) {
    const struct {
        const char* name;
        const char* app;
        QColor centre;
    } rows[] = {
        {"PNG by theme name, upscaled", "Alpha", Qt::red},
        {"SVG by absolute path", "Zeta", Qt::blue},
        {"first of two entries with one name", "Twin", Qt::red},
    };
    for (const auto& row : rows) {
        const auto bytes = applications().iconPNG(QString::fromUtf8(row.app));
        ASSERT_TRUE(bytes.has_value()) << row.name;
        const auto image = decodePNG(*bytes);
        ASSERT_TRUE(image.has_value()) << row.name;
        EXPECT_EQ(image->size(), QSize(64, 64)) << row.name;
        EXPECT_TRUE(image->hasAlphaChannel()) << row.name;
        EXPECT_EQ(qAlpha(image->pixel(0, 0)), 0) << row.name;
        EXPECT_EQ(image->pixelColor(32, 32), row.centre) << row.name;
    }
}

// Icons are served from routing threads: the same bytes from every thread, Qt's theme included.
TEST(LinuxApplications, IconsAndCatalogueFromManyThreads) {
    ASSERT_FALSE(QIcon::fromTheme(QStringLiteral("hb-test-png")).isNull())
        << "Qt does not see the fixture theme";
    const QByteArray alpha = applications().iconPNG(QStringLiteral("Alpha")).value_or(QByteArray());
    const QByteArray zeta = applications().iconPNG(QStringLiteral("Zeta")).value_or(QByteArray());
    const QStringList names = applications().listApps();
    constexpr int kThreads = 4;
    constexpr int kRounds = 5;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                mismatches[t] += applications().iconPNG(QStringLiteral("Alpha")) != alpha;
                mismatches[t] += applications().iconPNG(QStringLiteral("Zeta")) != zeta;
                mismatches[t] += applications().listApps() != names;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

TEST(LinuxApplications, NoIconGivesNothing) {
    for (const char* app : {"beta", "Missing Icon", "Nonexistent", "", "Hidden Entry"})
        EXPECT_FALSE(applications().iconPNG(QString::fromUtf8(app)).has_value()) << app;
}

// The lookup used when there is no QGuiApplication.
TEST(IconFiles, FindsThemeAndPixmapFilesWithoutQt) {
    const QString png = QStringLiteral(HB_TEST_DATA_DIR "/icons/hicolor/48x48/apps/hb-test-png.png");
    EXPECT_EQ(hb::actions::apps::findIconFile(QStringLiteral("hb-test-png")), png);
    EXPECT_EQ(hb::actions::apps::findIconFile(QStringLiteral("hb-test-png.png")), png);
    for (const char* name : {"hb-no-such-icon", "", "../hicolor/48x48/apps/hb-test-png", ".hb-test-png"})
        EXPECT_TRUE(hb::actions::apps::findIconFile(QString::fromUtf8(name)).isEmpty()) << name;

    const auto svg = hb::actions::apps::loadIconImage(environment().svgIcon);
    ASSERT_TRUE(svg.has_value());
    EXPECT_EQ(svg->size(), QSize(64, 64));
    EXPECT_FALSE(hb::actions::apps::loadIconImage(QStringLiteral("relative.png")).has_value());
    EXPECT_FALSE(hb::actions::apps::loadIconImage(environment().root).has_value());
}

// QtSvg aborts on text without a font database, so headless rendering skips such files.
TEST(IconFiles, SvgTextDetection) {
    const struct {
        const char* svg;
        bool needsFonts;
    } rows[] = {
        {"<svg><rect width='1' height='1'/></svg>", false},
        {"<svg><text x='1'>Hi</text></svg>", true},
        {"<svg><text>Hi</text></svg>", true},
        {"<svg><svg:text>Hi</svg:text></svg>", true},
        {"<svg><textArea>Hi</textArea></svg>", true},
        {"<svg><g class='textual'/><texture/></svg>", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(hb::actions::apps::svgNeedsFonts(QByteArray(row.svg)), row.needsFonts) << row.svg;
}
