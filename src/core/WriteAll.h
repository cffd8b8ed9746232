#pragma once
#include <QByteArray>

namespace hb {

/// Writes all of `bytes` to `fd`, retrying after interruptions and short writes; false on an error.
bool writeAll(int fd, const QByteArray& bytes);

} // namespace hb
