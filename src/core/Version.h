#pragma once
#include <QString>

namespace hb {

/// The running version, from the project version the build was made with ("0" when unknown).
QString currentVersion();

} // namespace hb
