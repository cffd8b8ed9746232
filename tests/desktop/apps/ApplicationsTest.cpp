// Applications, icons, shortcuts and web addresses against real desktop entries (see prepare()),
// the icon theme of tests/data, scripts and GIO's default browser.
#include "actions/platform/linux/Applications.h"
#include "actions/platform/linux/IconRenderer.h"
#include "actions/platform/linux/Shortcuts.h"
#include "support/TestSupport.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

using hb::actions::LinuxApplications;
using hb::actions::LinuxShortcuts;
using namespace Qt::StringLiterals;

namespace {

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        std::abort();
}

/// A command that writes `word` to the file named by $HB_TEST_MARK, as an Exec value.
QByteArray markExec(const QByteArray& word) {
    return R"(/bin/sh -c "echo )" + word + R"( > \\"\\$HB_TEST_MARK\\"")";
}

/// The private desktop-entry world, put in place before main() because GIO reads the XDG
/// variables once: two folders of desktop entries (the first one's win), tests/data's icon
/// theme; temporary data home, home and configuration (a mimeapps.list naming the test browser).
QString prepare(const QString& root) {
    const QByteArray svg = "Icon=" + QByteArray(HB_TEST_DATA_DIR "/icons/hb-test-svg.svg");
    const struct {
        const char* path; ///< under the temporary folder
        const char* name;
        QByteArray exec;
        QByteArray more;
    } entries[] = {
        {"first/hb-alpha.desktop", "Alpha", "/bin/true", "Icon=hb-test-png"},
        {"first/hb-beta.desktop", "beta", "/bin/true", "Icon=hb-no-such-icon"},
        {"first/hb-fullwidth.desktop", "\uFF21pp", "/bin/true", {}},
        {"first/hb-emoji.desktop", "\U0001F600 Party", "/bin/true", {}},
        {"first/hb-hidden.desktop", "Hidden Entry", "/bin/true", "Hidden=true"},
        {"first/hb-nodisplay.desktop", "NoDisplay Entry", "/bin/true", "NoDisplay=true"},
        {"first/hb-launch.desktop", "Launch Probe", markExec("launched"), {}},
        {"first/hb-twin.desktop", "Twin", markExec("first"), "Icon=hb-test-png"},
        {"first/hb-browser.desktop", "Test Browser",
         R"(/bin/sh -c "printf '%%s' \\"\\$1\\" > \\"\\$HB_TEST_MARK\\"" hb-browser %u)",
         "MimeType=x-scheme-handler/http;x-scheme-handler/https;x-scheme-handler/mailto;x-scheme-handler/ftp;"
         "x-scheme-handler/file;"},
        // The same desktop ID as the first folder's: unseen. The same name: the first one owns it.
        {"second/hb-alpha.desktop", "Alpha Shadowed", "/bin/true", {}},
        {"second/hb-zeta.desktop", "Zeta", "/bin/true", svg},
        {"second/hb-twin-second.desktop", "Twin", markExec("second"), svg},
    };
    for (const auto& entry : entries) {
        const QString path = QString::fromUtf8(entry.path);
        writeFile(root + u'/' + path.section(u'/', 0, 0) + u"/applications/"_s + path.section(u'/', 1),
                  "[Desktop Entry]\nType=Application\nName=" + QByteArray(entry.name) +
                      "\nExec=" + entry.exec + '\n' + entry.more + '\n');
    }
    writeFile(root + u"/config/mimeapps.list"_s,
              "[Default Applications]\nx-scheme-handler/http=hb-browser.desktop\n"
              "x-scheme-handler/https=hb-browser.desktop\nx-scheme-handler/mailto=hb-browser.desktop\n"
              "x-scheme-handler/ftp=hb-browser.desktop\n");
    QDir().mkpath(root + u"/home"_s);
    qputenv("XDG_DATA_DIRS", (root + u"/first:"_s + root + u"/second:"_s).toUtf8() + HB_TEST_DATA_DIR);
    qputenv("XDG_DATA_HOME", (root + u"/data-home"_s).toUtf8());
    qputenv("XDG_CONFIG_HOME", (root + u"/config"_s).toUtf8());
    qputenv("XDG_CONFIG_DIRS", (root + u"/config-dirs"_s).toUtf8());
    qputenv("HOME", (root + u"/home"_s).toUtf8());
    qunsetenv("XDG_CURRENT_DESKTOP");
    return root;
}

const QTemporaryDir kDir(QDir::tempPath() + u"/hb-apps-test.XXXXXX"_s);
const QString kRoot = prepare(kDir.path());

LinuxApplications& applications() {
    static LinuxApplications apps;
    return apps;
}

/// A fresh path under the temporary folder (the file does not exist).
QString freshPath(const QString& stem) {
    static QAtomicInt counter;
    return kRoot + u"/%1-%2"_s.arg(stem).arg(counter.fetchAndAddRelaxed(1));
}

/// Runs `start` with $HB_TEST_MARK naming a fresh file; what the started program wrote there.
QString startAndRead(const std::function<bool()>& start) {
    const QString mark = freshPath(u"mark"_s);
    qputenv("HB_TEST_MARK", mark.toUtf8());
    QString content;
    if (!start())
        return u"<not started>"_s;
    hb::test::waitFor([&] {
        QFile file(mark);
        return file.open(QIODevice::ReadOnly) && !(content = QString::fromUtf8(file.readAll())).isEmpty();
    });
    return content;
}

} // namespace

// Shown entries only (GIO's own rules: one hidden and one NoDisplay row stand for them), by Name,
// once each, in code-point order; shadowed IDs are out. The test browser named in mimeapps.list
// also claims mailto, ftp and file, so refusals are ours.
TEST(LinuxApplications, ListsAndLaunchesOnlyShownEntriesAndOpensOnlyWebAddresses) {
    EXPECT_EQ(applications().listApps(),
              (QStringList{u"Alpha"_s, u"Launch Probe"_s, u"Test Browser"_s, u"Twin"_s, u"Zeta"_s, u"beta"_s,
                           u"Ａpp"_s, u"😀 Party"_s}));
    EXPECT_EQ(startAndRead([] { return applications().launchApp(u"Launch Probe"_s); }), u"launched\n"_s);
    EXPECT_EQ(startAndRead([] { return applications().launchApp(u"Twin"_s); }), u"first\n"_s)
        << "the first data folder owns a shared name";
    for (const char* name :
         {"launch probe", "Hidden Entry", "NoDisplay Entry", "Alpha Shadowed", "hb-launch.desktop"})
        EXPECT_FALSE(applications().launchApp(QString::fromUtf8(name))) << name;

    EXPECT_EQ(
        startAndRead([] { return applications().openURL(u"HTTPS://Example.com:8443/?a=$(id)&b='c';d"_s); }),
        u"https://example.com:8443/?a=$(id)&b='c';d"_s);
    for (const char* refused :
         {"mailto:someone@example.com", "ftp://example.com/x", "file:///etc/passwd", "javascript:alert(1)"})
        EXPECT_EQ(startAndRead([&] { return applications().openURL(QString::fromUtf8(refused)); }),
                  u"<not started>"_s)
            << refused;
}

TEST(LinuxApplications, IconsAre64SquareRgbaPngs) {
    // PNG by theme name; SVG by path
    for (const auto& [app, centre] : {std::pair{"Alpha", QColor(Qt::red)}, {"Zeta", QColor(Qt::blue)}}) {
        SCOPED_TRACE(app);
        const QByteArray png = applications().iconPNG(QString::fromUtf8(app)).value_or(QByteArray());
        const QImage image = QImage::fromData(png, "PNG");
        ASSERT_TRUE(png.startsWith("\x89PNG\r\n\x1a\n") && !image.isNull());
        EXPECT_EQ(image.size(), QSize(64, 64));
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
        EXPECT_EQ(image.pixelColor(32, 32), centre);
    }
    for (const char* app : {"beta", "\uFF21pp", "Hidden Entry"})
        EXPECT_FALSE(applications().iconPNG(QString::fromUtf8(app)).has_value()) << app;
    EXPECT_EQ(hb::actions::apps::findIconFile(u"hb-test-png"_s),
              QStringLiteral(HB_TEST_DATA_DIR "/icons/hicolor/48x48/apps/hb-test-png.png"))
        << "found without Qt";
    EXPECT_TRUE(hb::actions::apps::findIconFile(u"../hicolor/48x48/apps/hb-test-png"_s).isEmpty());
    // QtSvg aborts on text without a font database, so headless rendering skips such files.
    for (const auto& [svg, needsFonts] : {std::pair{"<svg><rect width='1' height='1'/></svg>", false},
                                          {"<svg><svg:text>Hi</svg:text></svg>", true},
                                          {"<svg><g class='textual'/><texture/></svg>", false}})
        EXPECT_EQ(hb::actions::apps::svgNeedsFonts(QByteArray(svg)), needsFonts) << svg;
}

TEST(LinuxShortcuts, ListsAndStartsExecutableFilesDetached) {
    const QString support = freshPath(u"support"_s);
    const QString folder = support + u"/shortcuts/"_s;
    QDir().mkpath(folder + u"a-folder.sh"_s);
    // Records its pid, its session and what its stdin is.
    const QByteArray recorder =
        "#!/bin/sh\necho \"$$ $(ps -o sid= -p $$ | tr -d ' ') $(readlink /proc/self/fd/0)\" "
        "> \"$HB_TEST_MARK.tmp\" && mv \"$HB_TEST_MARK.tmp\" \"$HB_TEST_MARK\"\n";
    for (const char* name :
         {"Backup.sh", "alpha", "Zed.tar.sh", "dup.py", "dup.sh", ".hidden.sh", "😀.sh", "notes.txt"}) {
        QFile file(folder + QString::fromUtf8(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(recorder) == recorder.size());
        file.setPermissions(
            QFileDevice::ReadOwner | QFileDevice::WriteOwner |
            (file.fileName().endsWith(u".txt"_s) ? QFileDevice::Permissions() : QFileDevice::ExeOwner));
    }
    QFile::link(folder + u"gone.sh"_s, folder + u"dangling.sh"_s);
    LinuxShortcuts shortcuts(support);
    EXPECT_EQ(shortcuts.listShortcuts(),
              (QStringList{u"Backup"_s, u"Zed.tar"_s, u"alpha"_s, u"dup"_s, u"😀"_s}));
    const QStringList fields =
        startAndRead([&] { return shortcuts.runShortcut(u"Zed.tar"_s); }).trimmed().split(u' ');
    ASSERT_EQ(fields.size(), 3);
    EXPECT_EQ(fields[0], fields[1]) << "a session leader";
    EXPECT_EQ(fields[2], u"/dev/null"_s);
    EXPECT_TRUE(hb::test::waitFor([&] { return !QFile::exists(u"/proc/"_s + fields[0]); })) << "reaped";
    for (const char* name : {"notes", ".hidden", "dangling", "a-folder", "Backup.sh", "../shortcuts/Backup"})
        EXPECT_FALSE(shortcuts.runShortcut(QString::fromUtf8(name))) << name;
}
