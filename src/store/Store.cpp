#include "store/Store.h"

#include "core/Json.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/Random.h"
#include "store/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QUuid>
#include <algorithm>

namespace hb::store {
namespace {

constexpr unsigned kStateFileMode = 0600;
constexpr unsigned kSupportDirMode = 0700;
constexpr std::uint32_t kPinRange = 1000000; // six digits

QString generatedPin() {
    return QString::asprintf("%06u", static_cast<unsigned>(randomBelow(kPinRange)));
}

QString generatedRelayId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// One non-string element makes the whole list unusable.
QSet<QString> tokensFrom(const QJsonValue& value) {
    QSet<QString> tokens;
    if (!value.isArray())
        return tokens;
    const QJsonArray array = value.toArray();
    for (const QJsonValue& element : array) {
        if (!element.isString())
            return {};
        tokens.insert(element.toString());
    }
    return tokens;
}

} // namespace

Store::Store(Options options) : options_(std::move(options)) {
    isFirstRun_ = !QFileInfo::exists(stateFile());
    paths::makePrivateDir(options_.supportDir, kSupportDirMode);
    removeStaleTemporaries(stateFile());
    removeStaleTemporaries(configFile());
    loadStateLocked();
    loadConfigLocked();
}

Store& Store::shared() {
    // Built on first use and never destroyed: threads may still call in at exit.
    static Store* instance = new Store(Options{paths::supportDir(), paths::resourceDir(), {}});
    return *instance;
}

QString Store::stateFile() const {
    return options_.supportDir + QStringLiteral("/state.json");
}

QString Store::configFile() const {
    return options_.supportDir + QStringLiteral("/config.json");
}

bool Store::isFirstRun() const {
    return isFirstRun_;
}

QDateTime Store::nowLocked() const {
    return options_.now ? options_.now() : QDateTime::currentDateTimeUtc();
}

void Store::loadStateLocked() {
    // A state file left readable by others (a restored backup, an older save) is closed first.
    QFile::setPermissions(stateFile(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const std::optional<QByteArray> bytes = readWholeFile(stateFile());
    const std::optional<QJsonObject> state = bytes ? json::parseObject(*bytes) : std::nullopt;
    if (state) {
        pin_ = json::textField(*state, QStringLiteral("pin"));
        tokens_ = tokensFrom(state->value(QStringLiteral("tokens")));
        storedRelayId_ = json::textField(*state, QStringLiteral("relayId"));
        loadDevicesLocked(*state);
    }
    bool changed = false;
    if (pin_.isEmpty()) {
        pin_ = generatedPin();
        changed = true;
    }
    if (storedRelayId_.isEmpty()) {
        storedRelayId_ = generatedRelayId();
        changed = true;
    }
    if (changed)
        saveStateLocked();
}

void Store::saveStateLocked() {
    QStringList tokens(tokens_.cbegin(), tokens_.cend());
    std::sort(tokens.begin(), tokens.end());
    QJsonObject state{{QStringLiteral("pin"), pin_},
                      {QStringLiteral("tokens"), QJsonArray::fromStringList(tokens)},
                      {QStringLiteral("relayId"), storedRelayId_}};
    const QJsonObject devices = devicesJsonLocked();
    if (!devices.isEmpty()) // no phone records: the file stays as older versions wrote it
        state.insert(QStringLiteral("devices"), devices);
    if (!writeFileAtomically(stateFile(), json::compact(state), kStateFileMode))
        qCWarning(lcHarbly) << "could not save" << stateFile() << "- keeping the state in memory";
}

} // namespace hb::store
