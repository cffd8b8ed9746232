#pragma once
#include <QString>
#include <QStringList>

namespace hb::actions {

/// A QR code of `text` for a text terminal, two module rows per line, with a quiet zone.
/// Light modules are drawn as blocks ("█", "▀", "▄") and dark ones as spaces, so print it
/// with a light foreground on a dark background. Empty when the text cannot be encoded.
QStringList qrTerminalLines(const QString& text);

} // namespace hb::actions
