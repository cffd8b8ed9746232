#include "actions/platform/linux/Shortcuts.h"

#include "actions/platform/linux/AppCatalog.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace hb::actions {

namespace {

/// Every shortcut file, ordered by file name (so the first of two "a.sh", "a.py" wins).
QFileInfoList shortcutFiles(const QString& folder) {
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Executable | QDir::NoDotAndDotDot, QDir::Name);
    QFileInfoList files;
    for (const QFileInfo& entry : entries) {
        // Symbolic links count when they lead to an executable regular file.
        if (!entry.fileName().startsWith(QLatin1Char('.')) && entry.isFile() && entry.isExecutable())
            files.append(entry);
    }
    return files;
}

QString shortcutName(const QFileInfo& file) {
    return file.completeBaseName();
}

} // namespace

LinuxShortcuts::LinuxShortcuts(const QString& supportDir)
    : folder_(supportDir + QStringLiteral("/shortcuts")) {}

QStringList LinuxShortcuts::listShortcuts() {
    QStringList names;
    for (const QFileInfo& file : shortcutFiles(folder_))
        names.append(shortcutName(file));
    std::sort(names.begin(), names.end(), apps::codePointLess);
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

bool LinuxShortcuts::runShortcut(const QString& name) {
    if (name.isEmpty())
        return false;
    for (const QFileInfo& file : shortcutFiles(folder_)) {
        if (shortcutName(file) == name)
            return spawnDetached(file.absoluteFilePath());
    }
    return false;
}

} // namespace hb::actions
