#include "app/TrayIcon.h"

#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

namespace hb::app {
namespace {

constexpr int kTextIconSize = 64;

} // namespace

QIcon textIcon(const QString& text) {
    QPixmap pixmap(kTextIconSize, kTextIconSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = painter.font();
    font.setPixelSize(kTextIconSize * 3 / 4);
    painter.setFont(font);
    painter.setPen(QGuiApplication::palette().color(QPalette::WindowText));
    painter.drawText(pixmap.rect(), Qt::AlignCenter, text);
    painter.end();
    return QIcon(pixmap);
}

TrayIcon chooseTrayIcon(const QString& resourceDir) {
    const QString own = resourceDir + QStringLiteral("/icons/harbly.svg");
    if (QFileInfo(own).isFile()) {
        const QIcon icon(own);
        // A broken file or a missing SVG engine yields no sizes at all.
        if (!icon.availableSizes().isEmpty() || !icon.pixmap(16, 16).isNull())
            return {icon, TrayIconSource::Resource};
    }
    for (const QString& name : {QStringLiteral("phone"), QStringLiteral("smartphone")}) {
        if (QIcon::hasThemeIcon(name))
            return {QIcon::fromTheme(name), TrayIconSource::Theme};
    }
    return {textIcon(QString(QChar(0x25C6))), TrayIconSource::Text};
}

} // namespace hb::app
