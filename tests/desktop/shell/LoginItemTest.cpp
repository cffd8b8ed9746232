// The autostart entry: written at first run, and the Control Panel's "Start at login" switch.
#include "app/LoginItem.h"
#include "DesktopFakes.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace hb::app;
using namespace hb::test;
using namespace Qt::StringLiterals;

namespace {

/// The Exec value's one argument as a desktop launcher reads it: string escapes, then quoting.
QString execArgument(const QString& entry) {
    QString value = QRegularExpression(u"\nExec=(.*)"_s).match(entry).captured(1).replace(u"\\\\"_s, u"\\"_s);
    if (value.size() < 2 || !value.startsWith(u'"') || !value.endsWith(u'"'))
        return value;
    QString argument;
    for (qsizetype i = 1; i + 1 < value.size(); ++i)
        argument += value[value[i] == u'\\' && i + 2 < value.size() ? ++i : i];
    return argument.replace(u"%%"_s, u"%"_s);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

constexpr const char* kDisabled =
    "[Desktop Entry]\nType=Application\nName=Harbly\nExec=/old/harbly\nHidden=true\n";
constexpr const char* kOld = "[Desktop Entry]\nType=Application\nName=Harbly\nExec=/old/harbly\n";
enum class Call { Register, On, Off };

// Catches: an entry a launcher cannot parse or that starts another program (quotes, $, `, %,
// backslashes, spaces); a relative or multi-line path written; an entry beside a systemd user
// unit (started twice); an entry the user switched off turned back on at a start (but not by
// the switch); a moved executable not followed; a switch that does not write or remove it.
TEST(LoginItem, WrittenAtFirstRunOnlyWhereSafeAndByTheSwitch) {
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    const struct {
        const char* exe;
        const char* existing; ///< the entry before, null for none
        bool unit;
        Call call;
        bool done;
        const char* after; ///< the entry's Exec path after, empty for none
    } rows[] = {
        {"/h/a\"b/$HOME/`x`/100%/back\\slash/my Ünï/harbly", nullptr, false, Call::Register, true,
         "/h/a\"b/$HOME/`x`/100%/back\\slash/my Ünï/harbly"},
        {"/usr/bin/harbly", nullptr, true, Call::Register, false, ""},
        {"bin/harbly", nullptr, false, Call::Register, false, ""},
        {"/opt/evil\nX-Injected=1/harbly", nullptr, false, Call::Register, false, ""},
        {"/usr/bin/harbly", kDisabled, false, Call::Register, false, "/old/harbly"},
        {"/usr/bin/harbly", kOld, false, Call::Register, true, "/usr/bin/harbly"},
        {"/usr/bin/harbly", kDisabled, false, Call::On, true, "/usr/bin/harbly"},
        {"/usr/bin/harbly", kOld, false, Call::Off, true, ""},
        {"/usr/bin/harbly", nullptr, true, Call::On, false, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.exe);
        QTemporaryDir home;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        if (row.existing)
            writeFile(autostartEntryPath(), row.existing);
        if (row.unit)
            writeFile(systemdUserUnitPath(), "[Service]\n");
        const QString exe = QString::fromUtf8(row.exe);
        const bool done = row.call == Call::Register
                              ? registerLoginItem(exe)
                              : !switchLoginItem(row.call == Call::On, exe).has_value();
        EXPECT_EQ(done, row.done);
        QFile entry(autostartEntryPath());
        EXPECT_EQ(
            execArgument(entry.open(QIODevice::ReadOnly) ? QString::fromUtf8(entry.readAll()) : QString()),
            QString::fromUtf8(row.after));
        if (row.call != Call::Register) {
            EXPECT_EQ(loginItemEnabled(), row.call == Call::On && row.done);
        }
        if (!row.done || row.call == Call::Off)
            continue;
        const ToolResult check = runTool(u"desktop-file-validate"_s, {autostartEntryPath()});
        EXPECT_EQ(check.exitCode, 0) << check.out.constData();
        EXPECT_FALSE(registerLoginItem(exe)) << "an unchanged entry is not rewritten";
    }
    qputenv("XDG_CONFIG_HOME", configHome);
}

} // namespace
