#include "store/AtomicFile.h"

#include "core/WriteAll.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hb::store {
namespace {

constexpr char kTemporarySuffix[] = ".tmp-";

// The rename itself must reach the disk too, or a power cut could bring back the old name.
void syncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

bool writeFileAtomically(const QString& path, const QByteArray& bytes, unsigned mode) {
    // A user who links the file elsewhere (a dotfiles folder) keeps the link: replace its target.
    const QFileInfo info(path);
    const QString real = info.isSymLink() ? info.symLinkTarget() : path;
    const QByteArray target = QFile::encodeName(real);
    const QByteArray folder = QFile::encodeName(QFileInfo(real).absolutePath());
    QByteArray temp = target + kTemporarySuffix + "XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    // mkostemp creates 0600; give the file its final mode before any byte is in it.
    bool ok = ::fchmod(fd, static_cast<mode_t>(mode)) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok)
        ok = ::rename(temp.constData(), target.constData()) == 0;
    if (!ok) {
        ::unlink(temp.constData());
        return false;
    }
    syncFolder(folder);
    return true;
}

void removeStaleTemporaries(const QString& path) {
    const QFileInfo info(path);
    QDir folder = info.absoluteDir();
    const QString pattern = info.fileName() + QLatin1String(kTemporarySuffix) + QStringLiteral("??????");
    const QStringList stale = folder.entryList({pattern}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : stale)
        folder.remove(name);
}

std::optional<QByteArray> readWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace hb::store
