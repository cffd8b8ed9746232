#include "MediaWatcher.h"

#include "MprisPlayer.h"
#include "PulseVolume.h"
#include "SystemDBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QJsonDocument>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <algorithm>

namespace hb::actions {

namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNamePrefix = QStringLiteral("org.mpris.MediaPlayer2.");
/// Changes closer together than this are read once (a track change sends several signals).
constexpr int kSettleMs = 30;
/// After `pactl subscribe` ends (PulseAudio restarted), it is started again this much later,
/// doubling while it keeps ending quickly.
constexpr int kResubscribeMs = 2000;
constexpr int kMaxResubscribeMs = 60'000;

QVariantMap metadataOf(const QString& player) {
    const auto value =
        readDBusProperty(Bus::Session, player, kObjectPath, kPlayerInterface, QStringLiteral("Metadata"));
    if (!value)
        return {};
    if (value->canConvert<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value->value<QDBusArgument>());
    return value->toMap();
}

QString textOf(const QVariant& value) {
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QStringList>(value.value<QDBusArgument>()).join(QStringLiteral(", "));
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

QJsonObject readState() {
    QJsonObject state;
    const QString player = mpris::activePlayer();
    QString status;
    if (!player.isEmpty()) {
        const auto identity =
            readDBusProperty(Bus::Session, player, kObjectPath, QStringLiteral("org.mpris.MediaPlayer2"),
                             QStringLiteral("Identity"));
        const QString name = identity ? identity->toString() : QString();
        const auto playback = readDBusProperty(Bus::Session, player, kObjectPath, kPlayerInterface,
                                               QStringLiteral("PlaybackStatus"));
        status = playback ? playback->toString() : QString();
        const QVariantMap metadata = metadataOf(player);
        state.insert(QStringLiteral("player"), name.isEmpty() ? player.mid(kNamePrefix.size()) : name);
        state.insert(QStringLiteral("title"), textOf(metadata.value(QStringLiteral("xesam:title"))));
        state.insert(QStringLiteral("artist"), textOf(metadata.value(QStringLiteral("xesam:artist"))));
    } else {
        state.insert(QStringLiteral("player"), QString());
        state.insert(QStringLiteral("title"), QString());
        state.insert(QStringLiteral("artist"), QString());
    }
    state.insert(QStringLiteral("status"), status.isEmpty() ? QStringLiteral("Stopped") : status);
    state.insert(QStringLiteral("playing"), status == QLatin1String("Playing"));
    state.insert(QStringLiteral("volume"), pulse::getVolume());
    state.insert(QStringLiteral("muted"), pulse::isMuted());
    return state;
}

} // namespace

/// The part that lives on the watcher's thread: bus signals, the pactl subscription, and
/// the settle timer that turns a burst of changes into one read.
class MediaWatcherCore : public QObject {
    Q_OBJECT
  public:
    explicit MediaWatcherCore(std::function<void(const QJsonObject&)> publish)
        : publish_(std::move(publish)) {}
    ~MediaWatcherCore() override {
        pactl_.disconnect(this);
        pactl_.kill();
        pactl_.waitForFinished(1000);
    }

  public Q_SLOTS:
    void start() {
        settle_.setSingleShot(true);
        settle_.setInterval(kSettleMs);
        connect(&settle_, &QTimer::timeout, this, [this] { publish_(readState()); });
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.connect(QString(), kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                    QStringLiteral("PropertiesChanged"), this,
                    SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
        bus.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
                    SLOT(nameOwnerChanged(QString, QString, QString)));
        connect(&pactl_, &QProcess::readyReadStandardOutput, this, &MediaWatcherCore::pulseEvents);
        // Without a sound server pactl ends at once: wait longer each time, up to a minute.
        connect(&pactl_, &QProcess::finished, this, [this] {
            QTimer::singleShot(resubscribeMs_, this, &MediaWatcherCore::subscribe);
            resubscribeMs_ = std::min(resubscribeMs_ * 2, kMaxResubscribeMs);
        });
        subscribe();
        settle_.start();
    }

    void propertiesChanged(const QString& interface, const QVariantMap&, const QStringList&) {
        if (interface == kPlayerInterface)
            settle_.start();
    }

    void nameOwnerChanged(const QString& name, const QString&, const QString&) {
        if (name.startsWith(kNamePrefix))
            settle_.start();
    }

  private:
    void subscribe() {
        pactl_.setProcessEnvironment([] {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
            return environment;
        }());
        pactl_.start(QStringLiteral("/usr/bin/pactl"), {QStringLiteral("subscribe")});
    }

    /// "Event 'change' on sink #0", or on "server" when the default sink moves.
    void pulseEvents() {
        resubscribeMs_ = kResubscribeMs; // it is running: the next loss starts again quickly
        while (pactl_.canReadLine()) {
            const QByteArray line = pactl_.readLine();
            if (line.contains(" on sink #") || line.contains(" on server"))
                settle_.start();
        }
    }

    std::function<void(const QJsonObject&)> publish_;
    int resubscribeMs_ = kResubscribeMs;
    // Children, so that they move to the watcher's thread with it.
    QTimer settle_{this};
    QProcess pactl_{this};
};

MediaWatcher::MediaWatcher(std::function<void(const QJsonObject&)> changed)
    : changed_(std::move(changed)), thread_(std::make_unique<QThread>()) {
    thread_->setObjectName(QStringLiteral("media-watcher"));
    core_ = new MediaWatcherCore([this](const QJsonObject& state) { publish(state); });
    core_->moveToThread(thread_.get());
    QObject::connect(thread_.get(), &QThread::finished, core_, &QObject::deleteLater);
    thread_->start();
    QMetaObject::invokeMethod(core_, &MediaWatcherCore::start, Qt::QueuedConnection);
}

MediaWatcher::~MediaWatcher() {
    thread_->quit();
    thread_->wait();
}

QJsonObject MediaWatcher::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void MediaWatcher::publish(const QJsonObject& state) {
    {
        std::lock_guard lock(mutex_);
        if (state == state_)
            return;
        state_ = state;
    }
    changed_(state);
}

QByteArray mediaEvent(const QJsonObject& state) {
    return "event: media\ndata: " + QJsonDocument(state).toJson(QJsonDocument::Compact) + "\n\n";
}

} // namespace hb::actions

#include "MediaWatcher.moc"
