#include "actions/QrText.h"

#include "actions/QrMatrix.h"

namespace hb::actions {
namespace {

QChar halfBlock(bool upperLight, bool lowerLight) {
    if (upperLight && lowerLight)
        return QChar(0x2588); // █
    if (upperLight)
        return QChar(0x2580); // ▀
    if (lowerLight)
        return QChar(0x2584); // ▄
    return u' ';
}

} // namespace

QStringList qrTerminalLines(const QString& text) {
    const std::optional<QrMatrix> matrix = encodeQr(text);
    if (!matrix)
        return {};
    const int first = -kQrQuietModules;
    const int end = matrix->size + kQrQuietModules;
    QStringList lines;
    for (int y = first; y < end; y += 2) {
        QString line;
        line.reserve(end - first);
        // Past the last row (odd height) the lower half is more quiet zone.
        for (int x = first; x < end; ++x)
            line.append(halfBlock(!matrix->dark(x, y), y + 1 >= end || !matrix->dark(x, y + 1)));
        lines.append(line);
    }
    return lines;
}

} // namespace hb::actions
