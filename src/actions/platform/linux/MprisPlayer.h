#pragma once
// Media players on the session bus (MPRIS, org.mpris.MediaPlayer2.*).
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QString>
#include <mutex>

namespace hb::actions::mpris {

/// Remembers which player last started or paused playing, from the players' PlaybackStatus
/// change signals. Updated on the thread that made it (its event loop); read from any thread.
class PlaybackHistory : public QObject {
    Q_OBJECT
  public:
    PlaybackHistory();

    /// Higher for a player active more recently; 0 for one never seen. `owner` is the
    /// player's unique bus name.
    quint64 lastActive(const QString& owner) const;

  public Q_SLOTS:
    void onPropertiesChanged(const QDBusMessage& message);

  private:
    mutable std::mutex mutex_;
    QHash<QString, quint64> lastActive_;
    quint64 changes_ = 0;
};

/// Starts recording playback changes (once; call it on a thread with an event loop).
void trackPlayback();

/// How recently `player` (a well-known name) started or paused playing; 0 when never seen.
quint64 lastActive(const QString& player);

/// The player to control: the one playing (the most recently active when several are), else
/// the one active most recently, else one with something paused, else the first by name;
/// empty when there is none.
QString activePlayer();

/// Calls org.mpris.MediaPlayer2.Player.<method> on `player`; true when it answered.
bool callPlayer(const QString& player, const QString& method);

} // namespace hb::actions::mpris
