#include "core/Version.h"

#include "BuildConfig.h"

namespace hb {

QString currentVersion() {
    const QString version = QStringLiteral(HB_VERSION);
    return version.isEmpty() ? QStringLiteral("0") : version;
}

} // namespace hb
