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

} // namespace hb::server
