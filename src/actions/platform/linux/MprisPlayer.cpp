#include "MprisPlayer.h"

#include "SystemDBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QStringList>
#include <algorithm>
#include <tuple>

namespace hb::actions::mpris {

namespace {

const QString kNamePrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

PlaybackHistory* history = nullptr;

QString playbackStatus(const QString& player) {
    const auto status = readDBusProperty(Bus::Session, player, kObjectPath, kPlayerInterface,
                                         QStringLiteral("PlaybackStatus"));
    return status ? status->toString() : QString();
}

QString ownerOf(const QString& name) {
    const auto reply = callDBus({Bus::Session, QStringLiteral("org.freedesktop.DBus"),
                                 QStringLiteral("/org/freedesktop/DBus"),
                                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner")},
                                {name});
    return reply && !reply->isEmpty() ? reply->first().toString() : QString();
}

} // namespace

PlaybackHistory::PlaybackHistory() {
    // QtDBus offers signal connections by slot signature only.
    QDBusConnection::sessionBus().connect(
        QString(), kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"), this, SLOT(onPropertiesChanged(QDBusMessage)));
}

quint64 PlaybackHistory::lastActive(const QString& owner) const {
    std::lock_guard lock(mutex_);
    return lastActive_.value(owner, 0);
}

void PlaybackHistory::onPropertiesChanged(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2 || arguments.first().toString() != kPlayerInterface)
        return;
    QVariant status = qdbus_cast<QVariantMap>(arguments.at(1)).value(QStringLiteral("PlaybackStatus"));
    if (status.canConvert<QDBusVariant>())
        status = status.value<QDBusVariant>().variant();
    // Starting or pausing is the user's doing; "Stopped" is also what a closing tab reports.
    if (status != QStringLiteral("Playing") && status != QStringLiteral("Paused"))
        return;
    std::lock_guard lock(mutex_);
    lastActive_.insert(message.service(), ++changes_);
}

void trackPlayback() {
    if (!history)
        history = new PlaybackHistory; // lives as long as the process
}

quint64 lastActive(const QString& player) {
    return history ? history->lastActive(ownerOf(player)) : 0;
}

QString activePlayer() {
    QStringList players = busNames(Bus::Session);
    players.erase(std::remove_if(players.begin(), players.end(),
                                 [](const QString& name) { return !name.startsWith(kNamePrefix); }),
                  players.end());
    players.sort();
    // Ranked by: playing, most recently active, something paused; ties go to the first by name.
    QString best;
    std::tuple<bool, quint64, bool> bestRank{};
    for (const QString& player : std::as_const(players)) {
        const QString status = playbackStatus(player);
        const std::tuple<bool, quint64, bool> rank{status == QLatin1String("Playing"), lastActive(player),
                                                   status == QLatin1String("Paused")};
        if (best.isEmpty() || rank > bestRank) {
            best = player;
            bestRank = rank;
        }
    }
    return best;
}

bool callPlayer(const QString& player, const QString& method) {
    return callDBus(DBusMethod{Bus::Session, player, kObjectPath, kPlayerInterface, method}).has_value();
}

} // namespace hb::actions::mpris
