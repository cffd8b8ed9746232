// The login entry: written on the first run only, then the user's; switched from the panel.
#include "ShellTestSupport.h"
#include "app/AppDelegate.h"
#include "app/LoginItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using namespace hb::app;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

// Catches: the entry written again at every start, overruling GNOME Tweaks and KDE, which
// switch autostart off by deleting it.
TEST(Autostart, WrittenOnTheFirstRunOnly) {
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");               // the first run's panel goes to openURL
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu"); // as root, no sandbox: no embedded panel
    for (const bool firstRun : {true, false}) {
        hb::test::ScopedConfigHome home;
        ShellDeps deps;
        deps.isFirstRun = [firstRun] { return firstRun; };
        deps.executablePath = QStringLiteral("/usr/bin/harbly");
        deps.openURL = [](const QUrl&) { return true; };
        AppDelegate shell(deps);
        shell.applicationDidFinishLaunching();
        EXPECT_EQ(QFileInfo::exists(autostartEntryPath()), firstRun) << "first run: " << firstRun;
    }
}

// Catches: a "Start at login" switch that does not write or remove the entry, cannot turn on
// an entry the desktop switched off, or fights a systemd user unit.
TEST(Autostart, SwitchWritesOrRemovesTheEntry) {
    struct Row {
        const char* name;
        QByteArray existing; ///< the entry before, empty for none
        bool unit;
        bool enable;
        bool refused;
        bool enabledAfter;
    };
    const Row rows[] = {
        {"on", {}, false, true, false, true},
        {"on over an entry switched off", "[Desktop Entry]\nHidden=true\n", false, true, false, true},
        {"off", "[Desktop Entry]\nExec=x\n", false, false, false, false},
        {"on beside a systemd unit", {}, true, true, true, false},
    };
    for (const Row& row : rows) {
        hb::test::ScopedConfigHome home;
        if (!row.existing.isEmpty())
            writeFile(autostartEntryPath(), row.existing);
        if (row.unit)
            writeFile(systemdUserUnitPath(), "[Service]\n");
        const std::optional<QString> error = switchLoginItem(row.enable, QStringLiteral("/usr/bin/harbly"));
        EXPECT_EQ(error.has_value(), row.refused) << row.name;
        EXPECT_EQ(loginItemEnabled(), row.enabledAfter) << row.name;
        if (!row.enable) {
            EXPECT_FALSE(QFileInfo::exists(autostartEntryPath())) << row.name;
        }
    }
}
