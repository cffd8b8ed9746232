#pragma once
#include <QString>

namespace hb::actions::apps {

/// Opens an http(s) address with the desktop's default handler for its scheme; false for any
/// other address or when no handler takes it.
bool openWebAddress(const QString& address);

} // namespace hb::actions::apps
