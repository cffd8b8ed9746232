// The "Start at login" switch of the Control Panel.
#include "ShellTestSupport.h"
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
