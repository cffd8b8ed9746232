// The autostart entry: written at first run, and the Control Panel's "Start at login" switch.
#include "app/LoginItem.h"
#include "ShellTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace hb::app;

namespace {

/// XDG_CONFIG_HOME pointed at a fresh folder for the life of the object.
struct ScopedConfigHome {
    ScopedConfigHome() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path())); }
    ~ScopedConfigHome() { qputenv("XDG_CONFIG_HOME", previous); }
    QTemporaryDir dir;
    QByteArray previous = qgetenv("XDG_CONFIG_HOME");
};

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

/// The Exec value as a desktop launcher reads it back: string escapes, then one quoted argument.
QString execArgument(const QByteArray& entry) {
    const qsizetype at = entry.indexOf("\nExec=");
    QString value = QString::fromUtf8(entry.mid(at + 6))
                        .section(u'\n', 0, 0)
                        .replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    if (at < 0)
        return {};
    if (value.size() < 2 || !value.startsWith(u'"') || !value.endsWith(u'"'))
        return value;
    QString argument;
    for (qsizetype i = 1; i + 1 < value.size(); ++i)
        argument += value[value[i] == u'\\' && i + 2 < value.size() ? ++i : i];
    return argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
}

constexpr const char* kDisabled =
    "[Desktop Entry]\nType=Application\nName=Harbly\nExec=/old/harbly\nHidden=true\n";

// Catches: an entry a launcher cannot parse or that starts another program (quotes, $, `, %,
// backslashes, spaces); a relative or multi-line path written; an entry beside a systemd user
// unit (started twice); a switched-off entry turned back on; a moved executable not followed.
TEST(LoginItem, RegisteredAtFirstRunOnlyWhereSafe) {
    const struct {
        const char* exe;
        QByteArray existing; ///< the entry before, empty for none
        bool unit;
        bool written;
        QByteArray after; ///< the entry's Exec path after, empty for none
    } rows[] = {
        {"/opt/my apps/harbly", {}, false, true, "/opt/my apps/harbly"},
        {"/home/a\"b/$HOME/`x`/100%/back\\slash/Ünï/harbly",
         {},
         false,
         true,
         "/home/a\"b/$HOME/`x`/100%/back\\slash/Ünï/harbly"},
        {"/usr/bin/harbly", {}, true, false, {}},
        {"bin/harbly", {}, false, false, {}},
        {"/opt/evil\nX-Injected=1/harbly", {}, false, false, {}},
        {"/usr/bin/harbly", kDisabled, false, false, "/old/harbly"},
        {"/usr/bin/harbly", "[Desktop Entry]\nType=Application\nExec=/old/harbly\n", false, true,
         "/usr/bin/harbly"},
    };
    for (const auto& row : rows) {
        ScopedConfigHome home;
        if (!row.existing.isEmpty())
            writeFile(autostartEntryPath(), row.existing);
        if (row.unit)
            writeFile(systemdUserUnitPath(), "[Service]\n");
        const QString exe = QString::fromUtf8(row.exe);
        EXPECT_EQ(registerLoginItem(exe), row.written) << row.exe;
        EXPECT_EQ(execArgument(readFile(autostartEntryPath())), QString::fromUtf8(row.after)) << row.exe;
        if (!row.written)
            continue;
        const hb::test::ToolResult check =
            hb::test::runTool(QStringLiteral("desktop-file-validate"), {autostartEntryPath()});
        EXPECT_EQ(check.exitCode, 0) << row.exe << "\n" << check.out.constData() << check.err.constData();
        EXPECT_FALSE(registerLoginItem(exe)) << "an unchanged entry is not rewritten";
    }
}

// Catches: a "Start at login" switch that does not write or remove the entry, cannot turn on
// an entry the desktop switched off, or fights a systemd user unit.
TEST(LoginItem, SwitchWritesOrRemovesTheEntry) {
    const struct {
        const char* name;
        QByteArray existing;
        bool unit;
        bool enable;
        bool refused;
    } rows[] = {
        {"on", {}, false, true, false},
        {"on over an entry switched off", kDisabled, false, true, false},
        {"off", "[Desktop Entry]\nExec=x\n", false, false, false},
        {"on beside a systemd unit", {}, true, true, true},
    };
    for (const auto& row : rows) {
        ScopedConfigHome home;
        if (!row.existing.isEmpty())
            writeFile(autostartEntryPath(), row.existing);
        if (row.unit)
            writeFile(systemdUserUnitPath(), "[Service]\n");
        EXPECT_EQ(switchLoginItem(row.enable, QStringLiteral("/usr/bin/harbly")).has_value(), row.refused)
            << row.name;
        EXPECT_EQ(loginItemEnabled(), row.enable && !row.refused) << row.name;
        EXPECT_EQ(QFileInfo::exists(autostartEntryPath()), row.enable && !row.refused) << row.name;
    }
}

} // namespace
