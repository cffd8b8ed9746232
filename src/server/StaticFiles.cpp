#include "server/StaticFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace hb::server {

QByteArray mimeType(const QString& fileName) {
    const qsizetype slash = fileName.lastIndexOf(u'/');
    const QString last = fileName.sliced(slash + 1);
    const qsizetype dot = last.lastIndexOf(u'.');
    const QString extension = dot < 0 ? QString() : last.sliced(dot + 1);
    static const QHash<QString, QByteArray> table = {
        {QStringLiteral("html"), QByteArrayLiteral("text/html")},
        {QStringLiteral("js"), QByteArrayLiteral("text/javascript")},
        {QStringLiteral("css"), QByteArrayLiteral("text/css")},
        {QStringLiteral("png"), QByteArrayLiteral("image/png")},
        {QStringLiteral("svg"), QByteArrayLiteral("image/svg+xml")},
        {QStringLiteral("json"), QByteArrayLiteral("application/json")},
        {QStringLiteral("webmanifest"), QByteArrayLiteral("application/manifest+json")},
        {QStringLiteral("ico"), QByteArrayLiteral("image/x-icon")},
    };
    return table.value(extension, QByteArrayLiteral("application/octet-stream"));
}

namespace {

QString filePart(const QString& path) {
    if (path == QStringLiteral("/"))
        return QStringLiteral("/index.html");
    if (path == QStringLiteral("/admin"))
        return QStringLiteral("/admin.html");
    return path;
}

} // namespace

std::optional<QString> resolvePublicFile(const QString& publicDir, const QString& path) {
    const QString file = filePart(path);
    if (!file.startsWith(u'/') || file.contains(u'\\') || file.contains(QChar(u'\0')))
        return std::nullopt;
    const QStringList segments = file.sliced(1).split(u'/');
    for (const QString& segment : segments) {
        if (segment.isEmpty() || segment == QStringLiteral(".") || segment == QStringLiteral(".."))
            return std::nullopt;
    }
    // The real location must stay inside the folder, whatever symlinks say.
    const QString root = QFileInfo(publicDir).canonicalFilePath();
    const QFileInfo info(publicDir + file);
    const QString real = info.canonicalFilePath();
    if (root.isEmpty() || real.isEmpty() || !real.startsWith(root + u'/'))
        return std::nullopt;
    if (!QFileInfo(real).isFile())
        return std::nullopt;
    return real;
}

StaticAnswer readStatic(const QString& publicDir, const QString& path) {
    const auto real = resolvePublicFile(publicDir, path);
    if (!real)
        return {};
    QFile file(*real);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    StaticAnswer answer;
    answer.status = 200;
    answer.contentType = mimeType(filePart(path));
    answer.body = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {};
    return answer;
}

namespace {
constexpr qsizetype kMaxCachedFile = 1024 * 1024;
constexpr qsizetype kMaxCachedBytes = 8 * 1024 * 1024;
constexpr qsizetype kMaxCachedEntries = 256;
} // namespace

StaticFileCache::StaticFileCache(QString publicDir, std::chrono::milliseconds freshFor)
    : publicDir_(std::move(publicDir)), freshFor_(freshFor) {}

StaticAnswer StaticFileCache::answer(const QString& path) {
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(mutex_);
        const auto found = entries_.constFind(path);
        if (found != entries_.cend() && now - found->readAt < freshFor_)
            return found->answer;
    }
    StaticAnswer answer = readStatic(publicDir_, path);
    std::lock_guard lock(mutex_);
    if (auto stale = entries_.find(path); stale != entries_.end()) {
        bytes_ -= stale->answer.body.size();
        entries_.erase(stale);
    }
    if (answer.status != 200 || answer.body.size() > kMaxCachedFile)
        return answer; // misses are not kept: their names are the client's to choose
    if (entries_.size() >= kMaxCachedEntries || bytes_ + answer.body.size() > kMaxCachedBytes) {
        entries_.clear();
        bytes_ = 0;
    }
    entries_.insert(path, Entry{answer, now});
    bytes_ += answer.body.size();
    return answer;
}

} // namespace hb::server
