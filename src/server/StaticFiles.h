#pragma once
#include <QByteArray>
#include <QHash>
#include <QString>
#include <chrono>
#include <mutex>
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

/// `readStatic` answers kept for a short while, so that a page load (a dozen files, often
/// from several phones) does not resolve and read every file again. A change to a file shows
/// once its entry is older than `freshFor`. Only found files are kept, within a bounded size.
/// Safe to use from any thread.
class StaticFileCache {
  public:
    explicit StaticFileCache(QString publicDir, std::chrono::milliseconds freshFor = std::chrono::seconds(1));

    StaticAnswer answer(const QString& path);

  private:
    struct Entry {
        StaticAnswer answer;
        std::chrono::steady_clock::time_point readAt;
    };

    const QString publicDir_;
    const std::chrono::milliseconds freshFor_;
    std::mutex mutex_;
    QHash<QString, Entry> entries_;
    qsizetype bytes_ = 0;
};

} // namespace hb::server
