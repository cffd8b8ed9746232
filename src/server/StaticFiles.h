#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

namespace hb::server {

/// Content type for a file name's extension (exact, case-sensitive).
QByteArray mimeType(const QString& fileName);

/// The file below `publicDir` that a request path names: "/" is "index.html", "/admin" is
/// "admin.html". Nothing for paths that could leave the folder (empty, "." or ".."
/// segments, backslashes, NUL) or whose real location is outside it, and for non-files.
std::optional<QString> resolvePublicFile(const QString& publicDir, const QString& path);

struct StaticAnswer {
    int status = 404;
    QByteArray contentType = QByteArrayLiteral("text/plain");
    QByteArray body = QByteArrayLiteral("not found");
};

/// Reads the file for `path` whole, or the 404 "not found" answer.
StaticAnswer readStatic(const QString& publicDir, const QString& path);

} // namespace hb::server
