// Paired phones: what is known of each token (name, pairing time, last contact and its road),
// kept in state.json under "devices" beside the keys older versions read.
#include "store/Store.h"

#include "core/Json.h"

#include <QCryptographicHash>
#include <algorithm>
#include <cstdlib>

namespace hb::store {
namespace {

const QString kUnknownPhone = QStringLiteral("Unknown phone");

QString viaText(Via via) {
    return via == Via::Relay ? QStringLiteral("relay") : QStringLiteral("lan");
}

QString timeText(const QDateTime& time) {
    return time.isValid() ? time.toUTC().toString(Qt::ISODate) : QString();
}

QDateTime timeFrom(const QJsonObject& object, const QString& key) {
    return QDateTime::fromString(json::textField(object, key), Qt::ISODate);
}

} // namespace

QString Store::deviceId(const QString& token) {
    // A prefix of a one-way hash: it names the phone and cannot be turned back into the token.
    return QString::fromLatin1(
        QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex().left(kDeviceIdLength));
}

QString Store::deviceName(const QString& name) {
    QString clean = name.simplified();
    if (clean.size() > kMaxDeviceNameLength) {
        clean.truncate(kMaxDeviceNameLength);
        if (clean.back().isHighSurrogate()) // never cut a character in half
            clean.chop(1);
        clean = clean.trimmed();
    }
    return clean;
}

void Store::addDeviceLocked(const QString& token, const NewDevice& device) {
    const QDateTime now = nowLocked();
    devices_.insert(token, DeviceRecord{deviceName(device.name), now, now, viaText(device.via)});
}

QString Store::tokenForIdLocked(const QString& id) const {
    for (const QString& token : tokens_) {
        if (deviceId(token) == id)
            return token;
    }
    return {};
}

// Records whose token is gone (revoked by an older version) are dropped.
void Store::loadDevicesLocked(const QJsonObject& state) {
    devices_.clear();
    const QJsonObject records = state.value(QStringLiteral("devices")).toObject();
    for (const QString& token : std::as_const(tokens_)) {
        const QJsonValue value = records.value(deviceId(token));
        if (!value.isObject())
            continue;
        const QJsonObject record = value.toObject();
        const QString via = json::textField(record, QStringLiteral("via"));
        devices_.insert(token, DeviceRecord{deviceName(json::textField(record, QStringLiteral("name"))),
                                            timeFrom(record, QStringLiteral("pairedAt")),
                                            timeFrom(record, QStringLiteral("lastSeen")),
                                            via == u"lan" || via == u"relay" ? via : QString()});
    }
}

QJsonObject Store::devicesJsonLocked() const {
    QJsonObject records;
    for (auto entry = devices_.cbegin(); entry != devices_.cend(); ++entry) {
        if (!tokens_.contains(entry.key()))
            continue;
        const DeviceRecord& record = entry.value();
        records.insert(deviceId(entry.key()),
                       QJsonObject{{QStringLiteral("name"), record.name},
                                   {QStringLiteral("pairedAt"), timeText(record.pairedAt)},
                                   {QStringLiteral("lastSeen"), timeText(record.lastSeen)},
                                   {QStringLiteral("via"), record.via}});
    }
    return records;
}

bool Store::useToken(const QString& token, Via via) {
    std::lock_guard lock(mutex_);
    if (!tokens_.contains(token))
        return false;
    // A phone paired before records were kept gets one now, still without a name.
    DeviceRecord& record = devices_[token];
    const QDateTime now = nowLocked();
    // Saved at most once a minute per phone; a clock set back starts a new minute.
    if (record.lastSeen.isValid() && std::abs(record.lastSeen.secsTo(now)) < kLastSeenSaveSeconds)
        return true;
    record.lastSeen = now;
    record.via = viaText(via);
    saveStateLocked();
    return true;
}

QList<Device> Store::devices(const QString& callerToken) {
    std::lock_guard lock(mutex_);
    QList<Device> list;
    for (const QString& token : std::as_const(tokens_)) {
        const DeviceRecord record = devices_.value(token);
        list.append(Device{deviceId(token), record.name.isEmpty() ? kUnknownPhone : record.name,
                           record.pairedAt, record.lastSeen, record.via, token == callerToken});
    }
    std::sort(list.begin(), list.end(), [](const Device& a, const Device& b) {
        return std::tie(a.pairedAt, a.id) < std::tie(b.pairedAt, b.id);
    });
    return list;
}

bool Store::revokeDevice(const QString& id) {
    std::lock_guard lock(mutex_);
    const QString token = tokenForIdLocked(id);
    if (token.isEmpty())
        return false;
    tokens_.remove(token);
    devices_.remove(token);
    saveStateLocked();
    return true;
}

bool Store::renameDevice(const QString& id, const QString& name) {
    std::lock_guard lock(mutex_);
    const QString token = tokenForIdLocked(id);
    if (token.isEmpty())
        return false;
    devices_[token].name = deviceName(name);
    saveStateLocked();
    return true;
}

void Store::revokeAllDevices() {
    std::lock_guard lock(mutex_);
    tokens_.clear();
    devices_.clear();
    saveStateLocked();
}

} // namespace hb::store
