#pragma once
// Application icons as small PNGs: a themed icon name or an icon file, rendered into a square.
#include "actions/platform/linux/AppCatalog.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

namespace hb::actions::apps {

inline constexpr int kIconSide = 64;

/// Points Qt's icon theme at $XDG_DATA_HOME and $XDG_DATA_DIRS and picks "hicolor" when no
/// theme is set. Does nothing without a QGuiApplication. Call on the GUI thread.
void configureIconTheme();

/// The icon as a kIconSide-square RGBA PNG, or nothing when no image can be found or read.
std::optional<QByteArray> renderIconPNG(const IconSource& source);

/// The best file for a themed icon name in the hicolor theme folders and the pixmaps folders
/// of the XDG data directories; empty when there is none.
QString findIconFile(const QString& name);

/// An image file (PNG, SVG, XPM, ...) scaled smoothly into a transparent kIconSide square,
/// aspect ratio kept; nothing when it cannot be read.
std::optional<QImage> loadIconImage(const QString& path);

/// True when the SVG document has text elements (which need a font database to render).
bool svgNeedsFonts(const QByteArray& svg);

} // namespace hb::actions::apps
