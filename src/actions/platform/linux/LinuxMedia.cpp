#include "LinuxMedia.h"

#include "LinuxInput.h"
#include "Logind.h"
#include "MprisPlayer.h"
#include "PulseVolume.h"
#include "SystemDBus.h"

namespace hb::actions {

namespace {

struct MediaKey {
    const char* name;
    const char* mprisMethod;
    Keysym key;
};

constexpr MediaKey kMediaKeys[] = {
    {"play", "PlayPause", keysym::kAudioPlay},    {"playpause", "PlayPause", keysym::kAudioPlay},
    {"next", "Next", keysym::kAudioNext},         {"prev", "Previous", keysym::kAudioPrev},
    {"previous", "Previous", keysym::kAudioPrev},
};

const MediaKey* findMediaKey(const QString& name) {
    for (const MediaKey& key : kMediaKeys) {
        if (name == QLatin1String(key.name))
            return &key;
    }
    return nullptr;
}

/// Starts the screen saver; false when no service took it (a reply of false included).
bool activateScreenSaver() {
    const DBusMethod setActive{Bus::Session, QStringLiteral("org.freedesktop.ScreenSaver"),
                               QStringLiteral("/org/freedesktop/ScreenSaver"),
                               QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("SetActive")};
    const auto reply = callDBus(setActive, {true});
    return reply && (reply->isEmpty() || reply->first().toBool());
}

} // namespace

LinuxMedia::LinuxMedia(LinuxInput& input) : input_(input) {
    mpris::trackPlayback();
}

bool LinuxMedia::mediaAction(const QString& name) {
    const MediaKey* key = findMediaKey(name);
    if (!key)
        return false;
    const QString player = mpris::activePlayer();
    if (!player.isEmpty() && mpris::callPlayer(player, QString::fromLatin1(key->mprisMethod)))
        return true;
    return input_.sendChord(Chord{{}, key->key});
}

bool LinuxMedia::setVolume(int level) {
    return pulse::setVolume(level);
}
int LinuxMedia::getVolume() {
    return pulse::getVolume();
}
bool LinuxMedia::setMuted(bool muted) {
    return pulse::setMuted(muted);
}
bool LinuxMedia::isMuted() {
    return pulse::isMuted();
}

bool LinuxMedia::systemAction(const QString& name) {
    if (name == QLatin1String("sleep"))
        return logind::suspend();
    if (name == QLatin1String("screensaver"))
        return activateScreenSaver() || logind::lockSession();
    return false;
}

} // namespace hb::actions
