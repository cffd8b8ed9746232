#pragma once
#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <mutex>
#include <optional>

namespace hb::store {

enum class PairOutcome { Ok, Wrong, Locked };

/// Outcome of one PIN pairing attempt; `token` is set only for Ok.
struct PairResult {
    PairOutcome outcome = PairOutcome::Wrong;
    QString token;
};

inline constexpr int MAX_PAIR_FAILURES = 5;
inline constexpr int kTokenBytes = 24; // 48 hex characters
inline constexpr int kCodeBytes = 8;   // 16 hex characters
inline constexpr int kCodeLifetimeSeconds = 600;
inline constexpr int kMaxOutstandingCodes = 64;

/// How a phone reached the agent: directly, or through the relay service.
enum class Via { Lan, Relay };

/// Details a new phone is paired with; the name is cleaned by `deviceName`.
struct NewDevice {
    QString name;
    Via via = Via::Lan;
};

/// One paired phone as the device list shows it.
struct Device {
    QString id;         ///< short handle derived from the token, never the token itself
    QString name;       ///< "Unknown phone" for a token paired before records were kept
    QDateTime pairedAt; ///< invalid when unknown
    QDateTime lastSeen; ///< invalid when never seen
    QString via;        ///< "lan", "relay", or empty when never seen
    bool current = false;
};

inline constexpr int kMaxDeviceNameLength = 40;
inline constexpr int kDeviceIdLength = 12;      // hex digits of the token's SHA-256
inline constexpr int kLastSeenSaveSeconds = 60; // a phone's last contact is saved at most this often

/// The single owner of persistent state (PIN, tokens, relay identifier in state.json; the
/// configuration document in config.json) and of the in-memory pairing state (failure
/// counter, one-time codes). Every operation is atomic with respect to every other.
class Store {
  public:
    struct Options {
        QString supportDir;             ///< folder of state.json and config.json
        QString resourceDir;            ///< folder holding the first "config.json"
        std::function<QDateTime()> now; ///< clock for code expiry (UTC); system clock when empty
    };

    explicit Store(Options options);
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    /// The process-wide store, built on first use from the environment.
    static Store& shared();

    QString stateFile() const;
    QString configFile() const;
    /// True when state.json did not exist when the store was built.
    bool isFirstRun() const;

    // Pairing secrets
    QString pinValue();
    bool setPin(const QString& pin);
    PairResult pair(const QString& pin, const NewDevice& device = {});
    bool isLocked();
    bool tokenValid(const QString& token);
    void removeToken(const QString& token);
    QString mintCode();
    std::optional<QString> consumeCode(const QString& code, const NewDevice& device = {});
    QString relayId();

    // Paired phones
    /// `tokenValid`, and on success notes the phone's contact (saved at most once a minute).
    bool useToken(const QString& token, Via via);
    /// Every paired phone, oldest first; `current` marks the one holding `callerToken`.
    QList<Device> devices(const QString& callerToken);
    /// False when no phone has `id`.
    bool revokeDevice(const QString& id);
    bool renameDevice(const QString& id, const QString& name);
    void revokeAllDevices();
    static QString deviceId(const QString& token);
    /// Trimmed, inner whitespace collapsed, at most 40 characters.
    static QString deviceName(const QString& name);

    // Configuration document
    QJsonObject snapshotConfig();
    void saveConfig(const QJsonObject& document);
    QSet<QString> allowedApps();
    bool relayEnabled();

    // Flows
    void addFlow(const QString& label, const QString& emoji, const QJsonArray& steps);
    void removeFlow(const QString& label);

    /// "pages" made an array and "settings" an object when they are not; nothing else changes.
    static QJsonObject sanitize(QJsonObject document);
    static QJsonObject defaultConfig();
    static QJsonObject defaultSettings();

  private:
    void loadStateLocked();
    void saveStateLocked();
    void loadConfigLocked();
    void saveConfigLocked();
    QDateTime nowLocked() const;

    struct DeviceRecord {
        QString name;
        QDateTime pairedAt;
        QDateTime lastSeen;
        QString via;
    };
    void addDeviceLocked(const QString& token, const NewDevice& device);
    QString tokenForIdLocked(const QString& id) const;
    void loadDevicesLocked(const QJsonObject& state);
    QJsonObject devicesJsonLocked() const;

    Options options_;
    std::mutex mutex_;
    QString pin_;
    QSet<QString> tokens_;
    int pairFailures_ = 0;
    QHash<QString, QDateTime> codes_;
    QJsonObject config_;
    QString storedRelayId_;
    QHash<QString, DeviceRecord> devices_; ///< by token; saved under "devices", keyed by id
    bool isFirstRun_ = false;
};

} // namespace hb::store
