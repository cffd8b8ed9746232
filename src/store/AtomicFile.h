#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

namespace hb::store {

/// Replaces the file at `path` with `bytes` so that a crash at any moment leaves either the
/// old or the new content: a temporary file in the same folder, created with `mode`, is
/// written, flushed to disk and renamed over `path`. False (and `path` untouched) on failure.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, unsigned mode);

/// Removes the temporary files that saves of `path` interrupted by a crash left behind.
void removeStaleTemporaries(const QString& path);

/// The whole file, or nothing when it cannot be read.
std::optional<QByteArray> readWholeFile(const QString& path);

} // namespace hb::store
