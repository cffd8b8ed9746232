#include "app/LoginItem.h"

#include "core/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace hb::app {
namespace {

/// Quotes one Exec argument as desktop entries require: double quotes around it, a backslash
/// before `"`, `` ` ``, `$` and `\`, and `%` doubled (field codes); then the backslashes are
/// doubled again because the whole value is an escaped string.
QString quoteExecArgument(const QString& argument) {
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(QStringLiteral("%"), QStringLiteral("%%"));
    quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    return u'"' + quoted + u'"';
}

/// True when the existing entry says the user switched autostart off.
bool userDisabled(const QByteArray& entry) {
    for (const QByteArray& rawLine : entry.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")
            return true;
    }
    return false;
}

bool writeEntry(const QByteArray& entry) {
    const QString path = autostartEntryPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(entry);
    return file.commit();
}

} // namespace

QString systemdUserUnitPath() {
    return paths::configHome() + QStringLiteral("/systemd/user/harbly.service");
}

QString autostartEntryPath() {
    return paths::configHome() + QStringLiteral("/autostart/harbly.desktop");
}

std::optional<QByteArray> autostartEntry(const QString& executablePath) {
    if (!QDir::isAbsolutePath(executablePath) || executablePath.contains(u'\n') ||
        executablePath.contains(u'\r') || executablePath.contains(QChar(0)))
        return std::nullopt;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Harbly\n"
                                        "Comment=Remote launcher for this computer\n"
                                        "Exec=%1\n"
                                        "Icon=harbly\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(quoteExecArgument(executablePath));
    return text.toUtf8();
}

bool registerLoginItem(const QString& executablePath) {
    if (QFileInfo::exists(systemdUserUnitPath()))
        return false;
    const std::optional<QByteArray> entry = autostartEntry(executablePath);
    if (!entry)
        return false;
    QFile existing(autostartEntryPath());
    if (existing.open(QIODevice::ReadOnly)) {
        const QByteArray current = existing.readAll();
        if (current == *entry || userDisabled(current))
            return false;
    }
    return writeEntry(*entry);
}

bool loginItemEnabled() {
    QFile entry(autostartEntryPath());
    return entry.open(QIODevice::ReadOnly) && !userDisabled(entry.readAll());
}

std::optional<QString> switchLoginItem(bool enabled, const QString& executablePath) {
    if (QFileInfo::exists(systemdUserUnitPath()))
        return QStringLiteral("Harbly starts as a systemd user service here: switch it with "
                              "\"systemctl --user enable harbly\" or \"disable harbly\"");
    const QString path = autostartEntryPath();
    const std::optional<QByteArray> entry = autostartEntry(executablePath);
    const bool done = enabled ? entry && writeEntry(*entry) : !QFileInfo::exists(path) || QFile::remove(path);
    if (!done)
        return QStringLiteral("Could not change %1").arg(path);
    return std::nullopt;
}

} // namespace hb::app
