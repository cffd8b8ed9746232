#include "relay-service/OwnerKeys.h"

#include "core/Random.h"
#include "core/WriteAll.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace hb::relay::service {
namespace {

constexpr qsizetype kDigestHexChars = 64;

QByteArray digestOf(const QByteArray& key) {
    return QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex();
}

// Compares without stopping at the first difference.
bool sameDigest(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

OwnerKeys::OwnerKeys(QString dir) : dir_(std::move(dir)) {}

bool OwnerKeys::open(QString* error) {
    if (dir_.isEmpty())
        return true;
    if (!QDir().mkpath(dir_) ||
        !QFile::setPermissions(dir_,
                               QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner)) {
        *error = QStringLiteral("cannot use the state folder ") + dir_;
        return false;
    }
    return true;
}

OwnerKeys::Verdict OwnerKeys::check(const QString& relayId, const QByteArray& key) {
    const std::optional<QByteArray> current = stored(relayId);
    if (!current)
        return Verdict::Failed;
    if (key.isEmpty())
        return current->isEmpty() ? Verdict::Unproven : Verdict::Stranger;
    const QByteArray digest = digestOf(key);
    if (current->isEmpty()) {
        const std::optional<QByteArray> bound = bind(relayId, digest);
        if (!bound)
            return Verdict::Failed;
        return sameDigest(*bound, digest) ? Verdict::Owner : Verdict::Stranger;
    }
    return sameDigest(*current, digest) ? Verdict::Owner : Verdict::Stranger;
}

QString OwnerKeys::fileOf(const QString& relayId) const {
    // The prefix keeps identifiers such as ".." from naming folders.
    return dir_ + QStringLiteral("/id-") + relayId;
}

std::optional<QByteArray> OwnerKeys::stored(const QString& relayId) const {
    if (dir_.isEmpty())
        return memory_.value(relayId);
    QFile file(fileOf(relayId));
    if (!file.open(QIODevice::ReadOnly))
        return file.exists() ? std::nullopt : std::optional<QByteArray>(QByteArray());
    const QByteArray digest = file.read(kDigestHexChars + 1).trimmed();
    if (digest.size() != kDigestHexChars)
        return std::nullopt; // a damaged binding refuses every key rather than accepting any
    return digest;
}

std::optional<QByteArray> OwnerKeys::bind(const QString& relayId, const QByteArray& digest) {
    if (dir_.isEmpty()) {
        memory_.insert(relayId, digest);
        return digest;
    }
    // Written whole under a temporary name, then linked into place: link() fails when the name
    // exists, so of two nodes binding at once exactly one wins and the other reads its binding.
    const QByteArray temporary = QFile::encodeName(dir_ + QStringLiteral("/.tmp-") + randomHex(8));
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return std::nullopt;
    const bool written = writeAll(fd, digest + '\n') && ::fsync(fd) == 0;
    ::close(fd);
    const bool linked =
        written && ::link(temporary.constData(), QFile::encodeName(fileOf(relayId)).constData()) == 0;
    const int linkError = errno;
    ::unlink(temporary.constData());
    if (linked)
        return digest;
    if (!written || linkError != EEXIST)
        return std::nullopt;
    const std::optional<QByteArray> winner = stored(relayId);
    return winner && !winner->isEmpty() ? winner : std::nullopt;
}

} // namespace hb::relay::service
