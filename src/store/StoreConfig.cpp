// The configuration document: loading from three sources, sanitising, reading and saving.
#include "store/Store.h"

#include "core/Json.h"
#include "core/Log.h"
#include "store/AtomicFile.h"

#include <QJsonDocument>

namespace hb::store {
namespace {

constexpr unsigned kConfigFileMode = 0600;

std::optional<QJsonObject> readObjectFile(const QString& path) {
    const std::optional<QByteArray> bytes = readWholeFile(path);
    return bytes ? json::parseObject(*bytes) : std::nullopt;
}

// Only the JSON booleans and the numbers exactly 1 and 0 are a relay switch.
bool switchValue(const QJsonValue& value) {
    if (value.isBool())
        return value.toBool();
    return value.isDouble() && value.toDouble() == 1.0;
}

} // namespace

QJsonObject Store::defaultSettings() {
    return QJsonObject{{QStringLiteral("columns"), 4},
                       {QStringLiteral("iconScale"), 1.12},
                       {QStringLiteral("labels"), true}};
}

QJsonObject Store::defaultConfig() {
    const QJsonObject apps{{QStringLiteral("name"), QStringLiteral("Apps")},
                           {QStringLiteral("icon"), QStringLiteral("\U0001F680")},
                           {QStringLiteral("tiles"), QJsonArray()}};
    return QJsonObject{{QStringLiteral("pages"), QJsonArray{apps}},
                       {QStringLiteral("settings"), defaultSettings()}};
}

QJsonObject Store::sanitize(QJsonObject document) {
    if (!document.value(QStringLiteral("pages")).isArray())
        document.insert(QStringLiteral("pages"), QJsonArray());
    if (!document.value(QStringLiteral("settings")).isObject())
        document.insert(QStringLiteral("settings"), defaultSettings());
    return document;
}

void Store::loadConfigLocked() {
    // The user's own file is taken as it stands; the others are written out as the user's.
    if (const auto user = readObjectFile(configFile())) {
        config_ = sanitize(*user);
        return;
    }
    const auto shipped = readObjectFile(options_.resourceDir + QStringLiteral("/config.json"));
    config_ = shipped ? sanitize(*shipped) : defaultConfig();
    saveConfigLocked();
}

void Store::saveConfigLocked() {
    const QByteArray bytes = QJsonDocument(config_).toJson(QJsonDocument::Indented);
    if (!writeFileAtomically(configFile(), bytes, kConfigFileMode))
        qCWarning(lcHarbly) << "could not save" << configFile() << "- keeping the configuration in memory";
}

QJsonObject Store::snapshotConfig() {
    std::lock_guard lock(mutex_);
    return config_;
}

void Store::saveConfig(const QJsonObject& document) {
    std::lock_guard lock(mutex_);
    config_ = sanitize(document);
    saveConfigLocked();
}

QSet<QString> Store::allowedApps() {
    std::lock_guard lock(mutex_);
    QSet<QString> apps;
    const QJsonValue pages = config_.value(QStringLiteral("pages"));
    if (!json::isArrayOfObjects(pages))
        return apps;
    for (const QJsonValue& page : pages.toArray()) {
        const QJsonValue tiles = page.toObject().value(QStringLiteral("tiles"));
        if (!json::isArrayOfObjects(tiles))
            continue;
        for (const QJsonValue& tile : tiles.toArray()) {
            const QJsonObject object = tile.toObject();
            const QJsonValue value = object.value(QStringLiteral("value"));
            if (object.value(QStringLiteral("type")) == QStringLiteral("app") && value.isString())
                apps.insert(value.toString());
        }
    }
    return apps;
}

bool Store::relayEnabled() {
    std::lock_guard lock(mutex_);
    const QJsonValue settings = config_.value(QStringLiteral("settings"));
    if (!settings.isObject())
        return false;
    return switchValue(settings.toObject().value(QStringLiteral("relayEnabled")));
}

} // namespace hb::store
