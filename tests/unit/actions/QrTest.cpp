// QR codes are checked by decoding them with a real reader (zbarimg), as a phone would.
#include "actions/Actions.h"
#include "actions/QrText.h"

#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace hb::actions {
namespace {

// What a reader finds in the image, or an error text.
QString decode(const QImage& image) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/code.png");
    if (!image.save(path, "PNG"))
        return QStringLiteral("<not saved>");
    const ProcessResult result =
        runProcess(QStringLiteral("/usr/bin/zbarimg"),
                   {QStringLiteral("--raw"), QStringLiteral("-q"), QStringLiteral("--nodbus"), path});
    if (result.status != 0)
        return QStringLiteral("<zbarimg status %1>").arg(result.status);
    return result.output.endsWith(u'\n') ? result.output.chopped(1) : result.output;
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
    // The pairing link is decoded by the browser suite; this text needs a large version.
    const QString text = QStringLiteral("https://example.com/") + QString(900, u'a');
    const QString prefix = QStringLiteral("data:image/png;base64,");
    const QString dataURL = qrDataURL(text).value_or(QString());
    ASSERT_TRUE(dataURL.startsWith(prefix));
    QImage image;
    ASSERT_TRUE(image.loadFromData(QByteArray::fromBase64(dataURL.mid(prefix.size()).toLatin1()), "PNG"));
    EXPECT_EQ(image.width(), image.height());
    EXPECT_EQ(decode(image), text);
    const QStringList lines = qrTerminalLines(text);
    for (const QString& line : lines)
        ASSERT_EQ(line.size(), lines.first().size());
    EXPECT_EQ(decode(imageOfTerminal(lines)), text);
    EXPECT_FALSE(qrDataURL(QString(3000, u'a')).has_value()) << "beyond capacity";
    EXPECT_TRUE(qrTerminalLines(QString(3000, u'a')).isEmpty());
}

} // namespace
} // namespace hb::actions
