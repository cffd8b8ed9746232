#include "MprisPlayer.h"

#include "SystemDBus.h"

#include <QStringList>
#include <algorithm>

namespace hb::actions::mpris {

namespace {

const QString kNamePrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

QString playbackStatus(const QString& player) {
    const auto status = readDBusProperty(Bus::Session, player, kObjectPath, kPlayerInterface,
                                         QStringLiteral("PlaybackStatus"));
    return status ? status->toString() : QString();
}

} // namespace

QString activePlayer() {
    QStringList players = busNames(Bus::Session);
    players.erase(std::remove_if(players.begin(), players.end(),
                                 [](const QString& name) { return !name.startsWith(kNamePrefix); }),
                  players.end());
    players.sort();
    const auto playing = std::find_if(players.begin(), players.end(), [](const QString& player) {
        return playbackStatus(player) == QLatin1String("Playing");
    });
    if (playing != players.end())
        return *playing;
    return players.isEmpty() ? QString() : players.first();
}

bool callPlayer(const QString& player, const QString& method) {
    return callDBus(DBusMethod{Bus::Session, player, kObjectPath, kPlayerInterface, method}).has_value();
}

} // namespace hb::actions::mpris
