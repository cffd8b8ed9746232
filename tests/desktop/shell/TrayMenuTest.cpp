#include "ShellTestSupport.h"
#include "app/AppDelegate.h"
#include "app/TrayIcon.h"
#include "support/TestSupport.h"
#include "unit/update/ManifestServer.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QSystemTrayIcon>
#include <QTimer>
#include <gtest/gtest.h>

using hb::app::AppDelegate;
using hb::app::ShellDeps;
using hb::test::MenuEntry;
using namespace std::chrono_literals;

namespace {

struct Opened {
    QList<QUrl> urls;
};

ShellDeps depsRecordingUrls(Opened& opened) {
    ShellDeps deps;
    deps.port = [] { return quint16(9000); };
    deps.pinValue = [] { return QStringLiteral("123456"); };
    deps.isFirstRun = [] { return false; };
    deps.executablePath = QStringLiteral("/usr/bin/harbly");
    deps.openURL = [&opened](const QUrl& url) {
        opened.urls.append(url);
        return true;
    };
    return deps;
}

QString describe(const QList<MenuEntry>& entries) {
    QStringList lines;
    for (const MenuEntry& e : entries)
        lines.append(e.label + (e.visible ? QString() : QStringLiteral(" (hidden)")) +
                     (e.shortcut.isEmpty() ? QString() : QStringLiteral(" [") + e.shortcut + u']'));
    return lines.join(QStringLiteral(" | "));
}

/// Polls the tray over D-Bus until `done` holds for its dump (menus update asynchronously).
QJsonObject dumpWhen(const std::function<bool(const QJsonObject&)>& done) {
    QJsonObject dump;
    hb::test::waitFor([&] { return done(dump = hb::test::trayDump()); }, 20s);
    return dump;
}

QString toolTip(const QJsonObject& dump) {
    const QJsonObject tip = dump.value(u"toolTip").toObject();
    return tip.value(u"title").toString() + tip.value(u"description").toString();
}

TEST(TrayMenu, EntriesOverDBusAndTheUpdateNoticeAfterChecks) {
    hb::test::ManifestServer manifest;
    manifest.serve(R"({"version":"0.9","url":"https://e.example/old"})");
    qputenv("HB_UPDATE_URL", manifest.manifestUrl());
    Opened opened;
    AppDelegate shell(depsRecordingUrls(opened));
    qunsetenv("HB_UPDATE_URL");
    int checks = 0;
    QObject::connect(&shell, &AppDelegate::updateCheckFinished, [&checks] { ++checks; });
    shell.setupMenuBar();
    ASSERT_NE(shell.statusItem(), nullptr);
    EXPECT_TRUE(shell.statusItem()->isVisible());

    const QString initial =
        QStringLiteral("Update available\u2026 (hidden) |  (hidden) | - (hidden) | Open Control Panel "
                       "[Control+O] | Show Pairing PIN\u2026 | - | Quit Harbly [Control+Q]");
    QJsonObject dump =
        dumpWhen([&](const QJsonObject& d) { return describe(hb::test::menuEntries(d)) == initial; });
    EXPECT_EQ(describe(hb::test::menuEntries(dump)), initial);
    EXPECT_EQ(toolTip(dump), QString());
    EXPECT_GT(dump.value(u"iconPixmaps").toInt(), 0) << "the tray shows an image, not nothing";

    // Not newer: nothing changes, and the entry has nothing to open.
    shell.runUpdateCheck();
    ASSERT_TRUE(hb::test::waitFor([&] { return checks == 1; }));
    EXPECT_FALSE(shell.pendingUpdate().has_value());
    shell.openUpdate();
    EXPECT_TRUE(opened.urls.isEmpty());

    manifest.serve(R"({"version":"2.0","url":"https://e.example/2.0","notes":"Faster pairing"})");
    shell.runUpdateCheck();
    ASSERT_TRUE(hb::test::waitFor([&] { return shell.pendingUpdate().has_value(); }));
    const QString announced =
        QStringLiteral("Update available \u2014 2.0 \u2192 | Faster pairing | - | Open Control Panel "
                       "[Control+O] | Show Pairing PIN\u2026 | - | Quit Harbly [Control+Q]");
    dump = dumpWhen([&](const QJsonObject& d) { return describe(hb::test::menuEntries(d)) == announced; });
    EXPECT_EQ(describe(hb::test::menuEntries(dump)), announced);
    EXPECT_EQ(toolTip(dump), QStringLiteral("Harbly 2.0 is available"));

    // A later failed or empty check leaves the notice; a newer one replaces texts and address.
    manifest.serve("not json");
    shell.runUpdateCheck();
    ASSERT_TRUE(hb::test::waitFor([&] { return checks == 3; }));
    EXPECT_EQ(shell.pendingUpdate()->version, QStringLiteral("2.0"));
    manifest.serve(R"({"version":"2.1","url":"https://e.example/2.1"})");
    shell.runUpdateCheck();
    ASSERT_TRUE(hb::test::waitFor([&] { return shell.pendingUpdate()->version == u"2.1"; }));
    dump = dumpWhen([](const QJsonObject& d) { return toolTip(d) == u"Harbly 2.1 is available"; });
    EXPECT_EQ(toolTip(dump), QStringLiteral("Harbly 2.1 is available"));
    EXPECT_EQ(hb::test::menuEntries(dump).value(0).label,
              QStringLiteral("Update available \u2014 2.1 \u2192"));
    EXPECT_FALSE(hb::test::menuEntries(dump).value(1).visible) << "notes of 2.0 left behind";

    // Choosing the entry (through the tray's own menu protocol) opens the download address.
    ASSERT_TRUE(hb::test::trayClick(QStringLiteral("Update available \u2014 2.1 \u2192")));
    ASSERT_TRUE(hb::test::waitFor([&] { return !opened.urls.isEmpty(); }));
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl(QStringLiteral("https://e.example/2.1"))});

    // Version text is shown as written, never as a keyboard mnemonic.
    manifest.serve(R"({"version":"3.0&1","url":"https://e.example/3"})");
    shell.runUpdateCheck();
    dump = dumpWhen([](const QJsonObject& d) { return toolTip(d) == u"Harbly 3.0&1 is available"; });
    EXPECT_EQ(hb::test::menuEntries(dump).value(0).label,
              QStringLiteral("Update available \u2014 3.0&1 \u2192"));
}

TEST(TrayMenu, UpdateChecksRunAtOnceAndThenDaily) {
    hb::test::ManifestServer manifest;
    manifest.serve(R"({"version":"7","url":"https://e.example/7"})");
    qputenv("HB_UPDATE_URL", manifest.manifestUrl());
    Opened opened;
    AppDelegate shell(depsRecordingUrls(opened));
    qunsetenv("HB_UPDATE_URL");
    shell.setupMenuBar();
    shell.scheduleUpdateChecks();
    ASSERT_TRUE(hb::test::waitFor([&] { return shell.pendingUpdate().has_value(); }));
    const auto timers = shell.findChildren<QTimer*>();
    const bool daily = std::any_of(timers.begin(), timers.end(), [](const QTimer* t) {
        return t->isActive() && !t->isSingleShot() && t->intervalAsDuration() == std::chrono::hours(24);
    });
    EXPECT_TRUE(daily);
}

TEST(TrayIcon, OwnIconThenThemePhoneThenDrawnDiamond) {
    QTemporaryDir empty;
    QTemporaryDir theme;
    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString themeName = QIcon::themeName();

    const hb::app::TrayIcon own = hb::app::chooseTrayIcon(QStringLiteral(HB_RESOURCES_DIR));
    EXPECT_EQ(own.source, hb::app::TrayIconSource::Resource);
    EXPECT_TRUE(own.icon.pixmap(128, 128).save(hb::test::artifactsDir() + QStringLiteral("/tray-icon.png")));

    // A theme with a "phone" icon stands in when our own file is missing.
    QDir(theme.path()).mkpath(QStringLiteral("t/32x32/devices"));
    QFile index(theme.path() + QStringLiteral("/t/index.theme"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=t\nDirectories=32x32/devices\n\n[32x32/devices]\nSize=32\nType=Fixed\n");
    index.close();
    QImage(32, 32, QImage::Format_ARGB32).save(theme.path() + QStringLiteral("/t/32x32/devices/phone.png"));
    QIcon::setThemeSearchPaths({theme.path()});
    QIcon::setThemeName(QStringLiteral("t"));
    EXPECT_EQ(hb::app::chooseTrayIcon(empty.path()).source, hb::app::TrayIconSource::Theme);

    QIcon::setThemeName(QStringLiteral("none-such"));
    const hb::app::TrayIcon text = hb::app::chooseTrayIcon(empty.path());
    EXPECT_EQ(text.source, hb::app::TrayIconSource::Text);
    const QImage drawn = text.icon.pixmap(64, 64).toImage();
    bool inked = false;
    for (int y = 0; y < drawn.height() && !inked; ++y)
        for (int x = 0; x < drawn.width() && !inked; ++x)
            inked = qAlpha(drawn.pixel(x, y)) > 0;
    EXPECT_TRUE(inked) << "the diamond was drawn";

    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setThemeName(themeName);
}

} // namespace
