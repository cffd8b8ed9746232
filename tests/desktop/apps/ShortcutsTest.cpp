// LinuxShortcuts against a real folder of scripts.
#include "AppsEnvironment.h"

#include "actions/platform/linux/Shortcuts.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using hb::actions::LinuxShortcuts;
using namespace hb::test::apps;

namespace {

constexpr QFileDevice::Permissions kExecutable =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
constexpr QFileDevice::Permissions kPlain = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Records its pid, its session, and what its stdin is, then exits.
const QByteArray kRecorder = "#!/bin/sh\n"
                             "echo \"$$ $(ps -o sid= -p $$ | tr -d ' ') $(readlink /proc/self/fd/0)\" "
                             "> \"$HB_TEST_MARK.tmp\" && mv \"$HB_TEST_MARK.tmp\" \"$HB_TEST_MARK\"\n";

void put(const QString& path, const QByteArray& content, QFileDevice::Permissions permissions) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    ASSERT_TRUE(file.setPermissions(permissions));
}

/// A support folder whose shortcuts/ holds every kind of entry the listing must sort out.
QString makeSupportFolder() {
    const QString support = freshPath(QStringLiteral("support"));
    const QString folder = support + QStringLiteral("/shortcuts/");
    QDir().mkpath(folder + QStringLiteral("a-folder.sh"));
    put(folder + QStringLiteral("Backup.sh"), kRecorder, kExecutable);
    put(folder + QStringLiteral("alpha"), kRecorder, kExecutable);
    put(folder + QStringLiteral("Zed.tar.sh"), kRecorder, kExecutable);
    put(folder + QStringLiteral("dup.py"), kRecorder, kExecutable);
    put(folder + QStringLiteral("dup.sh"), kRecorder, kExecutable);
    put(folder + QStringLiteral("notes.txt"), kRecorder, kPlain);
    put(folder + QStringLiteral(".hidden.sh"), kRecorder, kExecutable);
    put(folder + QStringLiteral("Ａ.sh"), kRecorder, kExecutable);
    put(folder + QStringLiteral("😀.sh"), kRecorder, kExecutable);
    put(folder + QStringLiteral("broken.sh"), "no interpreter line\n", kExecutable);
    QFile::link(folder + QStringLiteral("Backup.sh"), folder + QStringLiteral("link.sh"));
    QFile::link(folder + QStringLiteral("gone.sh"), folder + QStringLiteral("dangling.sh"));
    return support;
}

} // namespace

TEST(LinuxShortcuts, ListsExecutableFilesByNameSorted) {
    LinuxShortcuts shortcuts(makeSupportFolder());
    const QStringList expected{QStringLiteral("Backup"), QStringLiteral("Zed.tar"), QStringLiteral("alpha"),
                               QStringLiteral("broken"), QStringLiteral("dup"),     QStringLiteral("link"),
                               QStringLiteral("Ａ"),     QStringLiteral("😀")};
    EXPECT_EQ(shortcuts.listShortcuts(), expected);
    EXPECT_TRUE(LinuxShortcuts(freshPath(QStringLiteral("no-support"))).listShortcuts().isEmpty());
}

// Started detached: in its own session, stdin /dev/null, and reaped once it ends.
TEST(LinuxShortcuts, RunStartsTheShortcutDetached) {
    LinuxShortcuts shortcuts(makeSupportFolder());
    for (const char* name : {"Backup", "link", "Zed.tar"}) {
        const QString mark = freshPath(QStringLiteral("shortcut"));
        qputenv("HB_TEST_MARK", mark.toUtf8());
        ASSERT_TRUE(shortcuts.runShortcut(QString::fromUtf8(name))) << name;
        const QStringList fields = waitForContent(mark).trimmed().split(QLatin1Char(' '));
        ASSERT_EQ(fields.size(), 3) << name;
        EXPECT_EQ(fields[0], fields[1]) << name << ": not a session leader";
        EXPECT_EQ(fields[2], QStringLiteral("/dev/null")) << name;
        const QString proc = QStringLiteral("/proc/") + fields[0];
        EXPECT_TRUE(hb::test::waitFor([&] { return !QFile::exists(proc); })) << name << ": not reaped";
    }
}

TEST(LinuxShortcuts, RunRefusesWhatIsNotAStartableShortcut) {
    LinuxShortcuts shortcuts(makeSupportFolder());
    for (const char* name : {"", "notes", "notes.txt", ".hidden", "hidden", "dangling", "a-folder",
                             "Backup.sh", "backup", "../shortcuts/Backup", "Missing", "broken"})
        EXPECT_FALSE(shortcuts.runShortcut(QString::fromUtf8(name))) << name;
}
