// Pairing secrets: the PIN and its failure lockout, tokens, one-time codes, relay identifier.
#include "store/Store.h"

#include "core/Random.h"

#include <QRegularExpression>

namespace hb::store {
namespace {

bool isAcceptablePin(const QString& pin) {
    // Anchored on the whole text: a bare "$" would also accept "1234\n".
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{4,8}")));
    return pattern.match(pin).hasMatch();
}

} // namespace

QString Store::pinValue() {
    std::lock_guard lock(mutex_);
    return pin_;
}

bool Store::setPin(const QString& pin) {
    if (!isAcceptablePin(pin))
        return false;
    std::lock_guard lock(mutex_);
    pin_ = pin;
    saveStateLocked();
    return true;
}

PairResult Store::pair(const QString& pin, const NewDevice& device) {
    std::lock_guard lock(mutex_);
    if (pairFailures_ >= MAX_PAIR_FAILURES)
        return {PairOutcome::Locked, {}};
    if (pin != pin_) {
        ++pairFailures_;
        return {PairOutcome::Wrong, {}};
    }
    pairFailures_ = 0;
    const QString token = randomHex(kTokenBytes);
    tokens_.insert(token);
    addDeviceLocked(token, device);
    saveStateLocked();
    return {PairOutcome::Ok, token};
}

bool Store::isLocked() {
    std::lock_guard lock(mutex_);
    return pairFailures_ >= MAX_PAIR_FAILURES;
}

bool Store::tokenValid(const QString& token) {
    std::lock_guard lock(mutex_);
    return tokens_.contains(token);
}

void Store::removeToken(const QString& token) {
    std::lock_guard lock(mutex_);
    tokens_.remove(token);
    devices_.remove(token);
    saveStateLocked();
}

QString Store::mintCode() {
    std::lock_guard lock(mutex_);
    const QDateTime now = nowLocked();
    codes_.removeIf([&now](const auto& entry) { return entry.value() <= now; });
    // Every code lives equally long, so the earliest expiry is the oldest code.
    while (codes_.size() >= kMaxOutstandingCodes) {
        auto oldest = std::min_element(codes_.begin(), codes_.end());
        codes_.erase(oldest);
    }
    const QString code = randomHex(kCodeBytes);
    codes_.insert(code, now.addSecs(kCodeLifetimeSeconds));
    return code;
}

std::optional<QString> Store::consumeCode(const QString& code, const NewDevice& device) {
    std::lock_guard lock(mutex_);
    const auto entry = codes_.constFind(code);
    if (entry == codes_.cend())
        return std::nullopt;
    const bool fresh = entry.value() > nowLocked();
    codes_.erase(entry);
    if (!fresh)
        return std::nullopt;
    const QString token = randomHex(kTokenBytes);
    tokens_.insert(token);
    addDeviceLocked(token, device);
    saveStateLocked();
    return token;
}

QString Store::relayId() {
    std::lock_guard lock(mutex_);
    return storedRelayId_;
}

} // namespace hb::store
