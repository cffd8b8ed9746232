#include "actions/Actions.h"
#include "actions/QrMatrix.h"

#include <QBuffer>
#include <QImage>
#include <qrencode.h>

namespace hb::actions {
namespace {

constexpr int kPixelsPerModule = 8;

QImage renderQr(const QrMatrix& matrix) {
    const int modules = matrix.size + 2 * kQrQuietModules;
    QImage image(modules, modules, QImage::Format_Grayscale8);
    for (int y = 0; y < modules; ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < modules; ++x)
            line[x] = matrix.dark(x - kQrQuietModules, y - kQrQuietModules) ? 0 : 255;
    }
    // Nearest-neighbour scaling turns every module into a sharp square.
    return image.scaled(modules * kPixelsPerModule, modules * kPixelsPerModule, Qt::IgnoreAspectRatio,
                        Qt::FastTransformation);
}

} // namespace

std::optional<QrMatrix> encodeQr(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    QRcode* code =
        QRcode_encodeData(static_cast<int>(bytes.size()),
                          reinterpret_cast<const unsigned char*>(bytes.constData()), 0, QR_ECLEVEL_M);
    if (!code)
        return std::nullopt;
    QrMatrix matrix;
    matrix.size = code->width;
    matrix.darkModules.resize(static_cast<size_t>(code->width) * static_cast<size_t>(code->width));
    for (size_t i = 0; i < matrix.darkModules.size(); ++i)
        matrix.darkModules[i] = (code->data[i] & 1) != 0;
    QRcode_free(code);
    return matrix;
}

std::optional<QString> qrDataURL(const QString& text) {
    const std::optional<QrMatrix> matrix = encodeQr(text);
    if (!matrix)
        return std::nullopt;
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !renderQr(*matrix).save(&buffer, "PNG"))
        return std::nullopt;
    return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64());
}

} // namespace hb::actions
