// QR codes are checked by decoding them with a real reader (zbarimg), as a phone would.
#include "actions/Actions.h"
#include "actions/QrText.h"

#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace hb::actions {
namespace {

const QString kZbarimg = QStringLiteral("/usr/bin/zbarimg");

// What a reader finds in the image, or an error text.
QString decode(const QImage& image) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/code.png");
    if (!image.save(path, "PNG"))
        return QStringLiteral("<not saved>");
    const ProcessResult result = runProcess(
        kZbarimg, {QStringLiteral("--raw"), QStringLiteral("-q"), QStringLiteral("--nodbus"), path});
    if (result.status != 0)
        return QStringLiteral("<zbarimg status %1>").arg(result.status);
    QString text = result.output;
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text;
}

QByteArray pngOf(const QString& dataURL) {
    const QString prefix = QStringLiteral("data:image/png;base64,");
    if (!dataURL.startsWith(prefix))
        return {};
    return QByteArray::fromBase64(dataURL.mid(prefix.size()).toLatin1(),
                                  QByteArray::AbortOnBase64DecodingErrors);
}

// Rebuilds the picture a terminal shows: a block is light, a space is dark.
QImage imageOfTerminal(const QStringList& lines) {
    const int width = lines.isEmpty() ? 0 : int(lines.first().size());
    QImage image(width, int(lines.size()) * 2, QImage::Format_Grayscale8);
    for (int row = 0; row < lines.size(); ++row) {
        for (int x = 0; x < width; ++x) {
            const QChar c = lines.at(row).at(x);
            const bool upper = c == QChar(0x2588) || c == QChar(0x2580);
            const bool lower = c == QChar(0x2588) || c == QChar(0x2584);
            image.scanLine(row * 2)[x] = upper ? 255 : 0;
            image.scanLine(row * 2 + 1)[x] = lower ? 255 : 0;
        }
    }
    return image.scaled(image.width() * 8, image.height() * 8, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

TEST(QrCodes, PngAndTerminalDrawingDecodeToTheExactText) {
    for (const QString& text : {QStringLiteral("http://192.168.1.20:8788/?pair=0123456789abcdef"),
                                QString(QStringLiteral("https://example.com/") + QString(900, u'a'))}) {
        const QByteArray png = pngOf(qrDataURL(text).value_or(QString()));
        ASSERT_TRUE(png.startsWith("\x89PNG\r\n\x1a\n"));
        QImage image;
        ASSERT_TRUE(image.loadFromData(png, "PNG"));
        EXPECT_EQ(image.width(), image.height());
        EXPECT_EQ(decode(image), text);
        const QStringList lines = qrTerminalLines(text);
        for (const QString& line : lines)
            ASSERT_EQ(line.size(), lines.first().size());
        EXPECT_EQ(decode(imageOfTerminal(lines)), text);
    }
}

TEST(QrCodesLimits, TextBeyondCapacityGivesNothing) {
    const QString tooLong(3000, u'a');
    EXPECT_FALSE(qrDataURL(tooLong).has_value());
    EXPECT_TRUE(qrTerminalLines(tooLong).isEmpty());
}

} // namespace
} // namespace hb::actions
