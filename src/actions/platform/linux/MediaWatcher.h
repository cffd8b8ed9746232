#pragma once
// Follows what the desktop is playing and its output volume, without polling: MPRIS
// PropertiesChanged and player arrivals on the session bus, and `pactl subscribe` for the
// default sink. Each change that alters the state hands the new state to a callback.
#include <QJsonObject>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

namespace hb::actions {

class MediaWatcherCore;

class MediaWatcher {
  public:
    /// `changed` runs on the watcher's own thread with the new state:
    /// {"player", "title", "artist", "playing", "status", "volume", "muted"}.
    explicit MediaWatcher(std::function<void(const QJsonObject&)> changed);
    ~MediaWatcher();

    /// The last state read (empty until the first one).
    QJsonObject state() const;

  private:
    void publish(const QJsonObject& state);

    std::function<void(const QJsonObject&)> changed_;
    mutable std::mutex mutex_;
    QJsonObject state_;
    std::unique_ptr<QThread> thread_;
    MediaWatcherCore* core_ = nullptr; ///< lives on thread_, deleted when it finishes
};

/// The event-stream message for `state`: "event: media" and the state as one JSON line.
QByteArray mediaEvent(const QJsonObject& state);

} // namespace hb::actions
