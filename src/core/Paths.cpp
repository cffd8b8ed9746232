#include "core/Paths.h"

#include "core/Env.h"
#include "core/Log.h"

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
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::stat(native.constData(), &info) == 0) {
        // The user's own folder (HB_SUPPORT=$HOME, a shared project): its mode is theirs.
        if (S_ISDIR(info.st_mode) && (info.st_mode & 0044) != 0)
            qCWarning(lcHarbly, "%s can be read by other users", native.constData());
        return S_ISDIR(info.st_mode);
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (::mkdir(native.constData(), mode) != 0)
        return false;
    ::chmod(native.constData(), mode); // whatever the umask
    return true;
}

} // namespace hb::paths
