#include "PulseVolume.h"

#include "VolumeParse.h"
#include "actions/Actions.h"

#include <algorithm>

namespace hb::actions::pulse {

namespace {

constexpr int kMinVolume = 0;
constexpr int kMaxVolume = 100;
const QString kDefaultSink = QStringLiteral("@DEFAULT_SINK@");

/// Runs pactl in the C locale: its output is translated otherwise ("Stumm: ja").
ProcessResult pactl(const QStringList& arguments) {
    return runProcess(QStringLiteral("/usr/bin/env"),
                      QStringList{QStringLiteral("LC_ALL=C"), QStringLiteral("/usr/bin/pactl")} + arguments);
}

} // namespace

bool setVolume(int level) {
    const int clamped = std::clamp(level, kMinVolume, kMaxVolume);
    return pactl(
               {QStringLiteral("set-sink-volume"), kDefaultSink, QString::number(clamped) + QLatin1Char('%')})
               .status == 0;
}

int getVolume() {
    const ProcessResult result = pactl({QStringLiteral("get-sink-volume"), kDefaultSink});
    return result.status == 0 ? parseSinkVolume(result.output) : -1;
}

bool setMuted(bool muted) {
    const QString flag = muted ? QStringLiteral("1") : QStringLiteral("0");
    return pactl({QStringLiteral("set-sink-mute"), kDefaultSink, flag}).status == 0;
}

bool isMuted() {
    const ProcessResult result = pactl({QStringLiteral("get-sink-mute"), kDefaultSink});
    return result.status == 0 && parseSinkMute(result.output);
}

} // namespace hb::actions::pulse
