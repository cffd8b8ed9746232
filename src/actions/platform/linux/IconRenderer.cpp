#include "actions/platform/linux/IconRenderer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <mutex>

namespace hb::actions::apps {

namespace {

// Icon files beyond these are not icons; refusing them keeps a hostile entry from making the
// agent decode something huge.
constexpr qint64 kMaxIconFileBytes = 8 * 1024 * 1024;
constexpr int kMaxIconSourceSide = 4096;

bool isGzip(const QByteArray& bytes) {
    return bytes.startsWith("\x1f\x8b");
}

bool haveGuiApplication() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

/// Qt's icon loader keeps global caches without locks.
std::mutex& qtIconMutex() {
    static std::mutex mutex;
    return mutex;
}

QImage transparentSquare() {
    QImage square(kIconSide, kIconSide, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    return square;
}

QImage fitIntoSquare(const QImage& source) {
    const QImage scaled = source.scaled(kIconSide, kIconSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage square = transparentSquare();
    QPainter painter(&square);
    painter.drawImage((kIconSide - scaled.width()) / 2, (kIconSide - scaled.height()) / 2, scaled);
    return square;
}

std::optional<QImage> renderSvg(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    // Without a QGuiApplication there is no font database, and QtSvg aborts on text.
    if (!haveGuiApplication() && (isGzip(bytes) || svgNeedsFonts(bytes)))
        return std::nullopt;
    QSvgRenderer renderer(bytes);
    if (!renderer.isValid())
        return std::nullopt;
    QSizeF size = renderer.defaultSize();
    if (size.isEmpty())
        size = QSizeF(kIconSide, kIconSide);
    size.scale(kIconSide, kIconSide, Qt::KeepAspectRatio);
    QImage square = transparentSquare();
    QPainter painter(&square);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    renderer.render(&painter,
                    QRectF(QPointF((kIconSide - size.width()) / 2, (kIconSide - size.height()) / 2), size));
    return square;
}

std::optional<QImage> renderRaster(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.width() > kMaxIconSourceSide || size.height() > kMaxIconSourceSide)
        return std::nullopt;
    const QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    return fitIntoSquare(image);
}

bool isSvg(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QStringLiteral("svg") || suffix == QStringLiteral("svgz");
}

std::optional<QImage> fromQtTheme(const QString& name) {
    const std::lock_guard lock(qtIconMutex());
    const QIcon icon = QIcon::fromTheme(name);
    if (icon.isNull())
        return std::nullopt;
    const QPixmap pixmap = icon.pixmap(QSize(kIconSide, kIconSide));
    if (pixmap.isNull())
        return std::nullopt;
    return fitIntoSquare(pixmap.toImage());
}

std::optional<QImage> themedImage(const QString& name) {
    if (haveGuiApplication()) {
        if (auto image = fromQtTheme(name))
            return image;
    }
    const QString file = findIconFile(name);
    return file.isEmpty() ? std::nullopt : loadIconImage(file);
}

std::optional<QByteArray> encodePNG(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image.convertToFormat(QImage::Format_RGBA8888)))
        return std::nullopt;
    return bytes;
}

} // namespace

bool svgNeedsFonts(const QByteArray& svg) {
    static const QRegularExpression textElement(
        QStringLiteral(R"(<([A-Za-z_][\w.-]*:)?(text|textArea)[\s/>])"));
    return textElement.match(QString::fromUtf8(svg)).hasMatch();
}

void configureIconTheme() {
    if (!haveGuiApplication())
        return;
    const std::lock_guard lock(qtIconMutex());
    QStringList paths{QDir::homePath() + QStringLiteral("/.icons")};
    QStringList pixmaps;
    for (const QString& dir : xdgDataDirs()) {
        paths.append(dir + QStringLiteral("/icons"));
        pixmaps.append(dir + QStringLiteral("/pixmaps"));
    }
    for (const QString& path : QIcon::themeSearchPaths()) {
        if (!paths.contains(path))
            paths.append(path);
    }
    QIcon::setThemeSearchPaths(paths);
    QIcon::setFallbackSearchPaths(pixmaps + QIcon::fallbackSearchPaths());
    if (QIcon::themeName().isEmpty())
        QIcon::setThemeName(QStringLiteral("hicolor"));
}

std::optional<QImage> loadIconImage(const QString& path) {
    const QFileInfo file(path);
    if (!file.isAbsolute() || !file.isFile() || file.size() > kMaxIconFileBytes)
        return std::nullopt;
    return isSvg(path) ? renderSvg(path) : renderRaster(path);
}

std::optional<QByteArray> renderIconPNG(const IconSource& source) {
    std::optional<QImage> image;
    if (!source.filePath.isEmpty())
        image = loadIconImage(source.filePath);
    for (const QString& name : source.themeNames) {
        if (image)
            break;
        image = themedImage(name);
    }
    return image ? encodePNG(*image) : std::nullopt;
}

} // namespace hb::actions::apps
