#pragma once
#include <QIcon>
#include <QString>

namespace hb::app {

/// Where the tray icon came from, in order of preference.
enum class TrayIconSource { Resource, Theme, Text };

struct TrayIcon {
    QIcon icon;
    TrayIconSource source;
};

/// Our own icon from `resourceDir`/icons/harbly.svg, else the theme's "phone" or "smartphone",
/// else the text "◆" drawn into a pixmap.
TrayIcon chooseTrayIcon(const QString& resourceDir);

/// `text` drawn in the palette's text colour on a transparent square.
QIcon textIcon(const QString& text);

} // namespace hb::app
