#include "app/LoginItem.h"
#include "ShellTestSupport.h"
#include "app/AppDelegate.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace hb::app;

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

hb::test::ToolResult validate(const QString& path) {
    return hb::test::runTool(QStringLiteral("desktop-file-validate"), {path});
}

/// The Exec value as a desktop launcher reads it back: string escapes, then one quoted argument.
QString execArgument(const QByteArray& entry) {
    for (const QByteArray& line : entry.split('\n')) {
        if (!line.startsWith("Exec="))
            continue;
        QString value = QString::fromUtf8(line.mid(5)).replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
        if (value.size() < 2 || !value.startsWith(u'"') || !value.endsWith(u'"'))
            return value;
        QString argument;
        for (qsizetype i = 1; i + 1 < value.size(); ++i) {
            if (value[i] == u'\\' && i + 2 < value.size())
                ++i;
            argument += value[i];
        }
        return argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    return {};
}

TEST(LoginItem, WrittenAsValidAutostartEntryForAwkwardPaths) {
    const char* paths[] = {"/opt/my apps/harbly", "/home/a\"b/$HOME/`x`/100%/back\\slash/Ünï/harbly"};
    for (const char* raw : paths) {
        hb::test::ScopedConfigHome home;
        const QString exe = QString::fromUtf8(raw);
        EXPECT_TRUE(registerLoginItem(exe)) << raw;
        EXPECT_EQ(autostartEntryPath(), home.path() + QStringLiteral("/autostart/harbly.desktop"));
        const QByteArray entry = readFile(autostartEntryPath());
        EXPECT_EQ(execArgument(entry), exe) << entry.constData();
        const hb::test::ToolResult check = validate(autostartEntryPath());
        EXPECT_TRUE(check.finished);
        EXPECT_EQ(check.exitCode, 0) << raw << "\n" << check.out.constData() << check.err.constData();
        EXPECT_FALSE(registerLoginItem(exe)) << "an unchanged entry is not rewritten";
    }
}

TEST(LoginItem, NotWrittenWhenServiceMarkerExistsOrPathUnusable) {
    {
        hb::test::ScopedConfigHome home;
        writeFile(systemdUserUnitPath(), "[Service]\nExecStart=/usr/bin/harbly\n");
        EXPECT_EQ(systemdUserUnitPath(), home.path() + QStringLiteral("/systemd/user/harbly.service"));
        EXPECT_FALSE(registerLoginItem(QStringLiteral("/usr/bin/harbly")));
        EXPECT_FALSE(QFileInfo::exists(autostartEntryPath()));
    }
    for (const char* raw : {"bin/harbly", "/opt/evil\nX-Injected=1/harbly"}) {
        hb::test::ScopedConfigHome home;
        EXPECT_FALSE(registerLoginItem(QString::fromUtf8(raw))) << raw;
        EXPECT_FALSE(QFileInfo::exists(autostartEntryPath())) << raw;
    }
}

TEST(LoginItem, SwitchedOffEntryIsKeptButAMovedExecutableIsUpdated) {
    hb::test::ScopedConfigHome home;
    const QByteArray disabled =
        "[Desktop Entry]\nType=Application\nName=Harbly\nExec=/old/harbly\nHidden=true\n";
    writeFile(autostartEntryPath(), disabled);
    EXPECT_FALSE(registerLoginItem(QStringLiteral("/usr/bin/harbly")));
    EXPECT_EQ(readFile(autostartEntryPath()), disabled);
    writeFile(autostartEntryPath(), "[Desktop Entry]\nType=Application\nName=Harbly\nExec=/old/harbly\n");
    EXPECT_TRUE(registerLoginItem(QStringLiteral("/usr/bin/harbly")));
    EXPECT_EQ(execArgument(readFile(autostartEntryPath())), QStringLiteral("/usr/bin/harbly"));
}

TEST(LoginItem, LaunchRegistersUnlessMarkerAndShipsValidEntries) {
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");               // the first run's panel goes to openURL
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu"); // as root, no sandbox: no embedded panel
    // Written on the first run only: a desktop switches autostart off by deleting the entry.
    for (const auto& [marker, firstRun] : {std::pair{false, true}, {true, true}, {false, false}}) {
        hb::test::ScopedConfigHome home;
        if (marker)
            writeFile(systemdUserUnitPath(), "[Service]\n");
        ShellDeps deps;
        deps.port = [] { return quint16(9); };
        deps.isFirstRun = [firstRun = firstRun] { return firstRun; };
        deps.executablePath = QStringLiteral("/usr/bin/harbly");
        deps.openURL = [](const QUrl&) { return true; };
        AppDelegate shell(deps);
        shell.applicationDidFinishLaunching();
        EXPECT_NE(shell.statusItem(), nullptr);
        EXPECT_EQ(QFileInfo::exists(autostartEntryPath()), !marker && firstRun) << marker << firstRun;
    }
    const QString shipped = QStringLiteral(HB_RESOURCES_DIR "/linux/harbly.desktop");
    EXPECT_EQ(validate(shipped).exitCode, 0) << validate(shipped).out.constData();
    EXPECT_TRUE(readFile(QStringLiteral(HB_RESOURCES_DIR "/linux/harbly.service")).contains("\nExecStart=/"));
}

} // namespace
