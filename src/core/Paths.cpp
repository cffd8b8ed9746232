#include "core/Paths.h"

#include "core/Env.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>

namespace hb::paths {
namespace {

QString executableDir() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
}

} // namespace

QString resourceDir() {
    const QString fromEnv = env::getOr("HB_RESOURCES", {});
    if (!fromEnv.isEmpty())
        return fromEnv;
    // The build tree links share/harbly to the sources, so installed and built binaries
    // find their pages the same way; an installed binary never reaches into a source tree.
    return QDir::cleanPath(executableDir() + QStringLiteral("/../share/harbly"));
}

QString configHome() {
    const QString xdg = env::getOr("XDG_CONFIG_HOME", {});
    if (!xdg.isEmpty())
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString supportDir() {
    const QString fromEnv = env::getOr("HB_SUPPORT", {});
    if (!fromEnv.isEmpty())
        return fromEnv;
    return configHome() + QStringLiteral("/harbly");
}

bool makePrivateDir(const QString& path, unsigned mode) {
    QDir().mkpath(path);
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::stat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    if ((info.st_mode & 07777) != mode)
        ::chmod(native.constData(), mode);
    return true;
}

} // namespace hb::paths
