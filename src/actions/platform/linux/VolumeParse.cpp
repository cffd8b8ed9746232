#include "VolumeParse.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

namespace hb::actions {

int parseSinkVolume(const QString& output) {
    const QString trimmed = output.trimmed();
    if (!trimmed.startsWith(QLatin1String("Volume:")))
        return -1;
    const QStringList tokens = trimmed.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    const auto percentage = std::find_if(tokens.begin(), tokens.end(),
                                         [](const QString& t) { return t.endsWith(QLatin1Char('%')); });
    if (percentage == tokens.end())
        return -1;
    const QString digits = percentage->chopped(1);
    const bool onlyDigits = !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
    if (!onlyDigits)
        return -1;
    bool ok = false;
    const int value = digits.toInt(&ok);
    return ok ? value : -1;
}

bool parseSinkMute(const QString& output) {
    return output.trimmed() == QLatin1String("Mute: yes");
}

} // namespace hb::actions
