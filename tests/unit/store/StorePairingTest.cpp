// The pairing rules (PIN, failure lock, tokens, one-time codes) and the paired-phone records.
// Their one owner; the endpoint tests check only the wire shape.
#include "StoreFixture.h"

#include <QRegularExpression>
#include <atomic>
#include <thread>
#include <vector>

namespace hb::test {
namespace {

using store::PairOutcome;
using store::Via;
using StorePairing = StoreFixture;

QString wrongPin(const QString& pin) {
    return pin == QStringLiteral("000000") ? QStringLiteral("111111") : QStringLiteral("000000");
}

bool isLowerHex(const QString& text, qsizetype length) {
    return text.size() == length && QRegularExpression(QStringLiteral("^[0-9a-f]*$")).match(text).hasMatch();
}

// Faults: a token of the wrong form or not saved, success not resetting the failure count, a
// revoke that takes other tokens or is not saved, a record lost, an id visibly derived from its
// token, a last contact saved on every request or never again.
TEST_F(StorePairing, TokensAndTheirRecordsPersistAndAreRevokedOneByOne) {
    store::Store& s = open();
    const QString pin = s.pinValue();
    for (int i = 0; i < store::MAX_PAIR_FAILURES - 1; ++i)
        EXPECT_EQ(s.pair(wrongPin(pin)).outcome, PairOutcome::Wrong);
    const store::PairResult kept = s.pair(pin, {QStringLiteral("Kitchen tablet"), Via::Relay});
    ASSERT_EQ(kept.outcome, PairOutcome::Ok);
    EXPECT_TRUE(isLowerHex(kept.token, 48));
    for (int i = 0; i < store::MAX_PAIR_FAILURES - 1; ++i)
        s.pair(QString());
    EXPECT_FALSE(s.isLocked());
    const QString revoked = s.pair(pin).token;
    s.removeToken(revoked);
    EXPECT_FALSE(s.tokenValid(QString()));

    const QDateTime paired = clock;
    store::Store& restarted = open();
    EXPECT_TRUE(restarted.tokenValid(kept.token));
    EXPECT_FALSE(restarted.tokenValid(revoked));
    EXPECT_EQ(readObject(statePath()).value(QStringLiteral("tokens")).toArray(), QJsonArray{kept.token});
    const QList<store::Device> devices = restarted.devices(kept.token);
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].id, store::Store::deviceId(kept.token));
    EXPECT_EQ(devices[0].id.size(), store::kDeviceIdLength);
    EXPECT_FALSE(kept.token.contains(devices[0].id));
    EXPECT_EQ(devices[0].name, QStringLiteral("Kitchen tablet"));
    EXPECT_EQ(devices[0].pairedAt, paired);
    EXPECT_EQ(devices[0].via, QStringLiteral("relay"));
    EXPECT_TRUE(devices[0].current);

    ASSERT_TRUE(QFile::remove(statePath())); // any save brings it back
    clock = paired.addSecs(store::kLastSeenSaveSeconds - 1);
    ASSERT_TRUE(restarted.useToken(kept.token, Via::Lan));
    EXPECT_FALSE(QFile::exists(statePath()));
    clock = paired.addSecs(store::kLastSeenSaveSeconds);
    ASSERT_TRUE(restarted.useToken(kept.token, Via::Lan));
    EXPECT_EQ(open().devices(kept.token)[0].lastSeen, clock);
    EXPECT_FALSE(store->useToken(revoked, Via::Lan));
}

// Faults: a PIN of the wrong form accepted or not saved, a PIN change dropping tokens, a lock
// that a new PIN lifts, or one that also blocks codes or outlives a restart.
TEST_F(StorePairing, PinRulesAndTheLockUntilRestart) {
    store::Store& s = open();
    const QString token = s.pair(s.pinValue()).token;
    const struct {
        const char* pin;
        bool accepted;
    } rows[] = {{"0000", true},
                {"12345678", true},
                {"123", false},
                {"123456789", false},
                {"12a4", false},
                {"1234\n", false},
                {"\u0661\u0662\u0663\u0664", false}};
    QString expected = s.pinValue();
    for (const auto& row : rows) {
        EXPECT_EQ(s.setPin(QString::fromUtf8(row.pin)), row.accepted) << row.pin;
        expected = row.accepted ? QString::fromUtf8(row.pin) : expected;
        EXPECT_EQ(readObject(statePath()).value(QStringLiteral("pin")).toString(), expected) << row.pin;
    }
    EXPECT_TRUE(s.tokenValid(token));

    for (int i = 0; i < store::MAX_PAIR_FAILURES; ++i)
        EXPECT_EQ(s.pair(wrongPin(expected)).outcome, PairOutcome::Wrong) << "attempt " << i + 1;
    EXPECT_EQ(s.pair(expected).outcome, PairOutcome::Locked);
    EXPECT_TRUE(s.pair(expected).token.isEmpty());
    EXPECT_TRUE(s.setPin(QStringLiteral("9999")));
    EXPECT_EQ(s.pair(QStringLiteral("9999")).outcome, PairOutcome::Locked) << "a new PIN does not lift it";
    EXPECT_TRUE(s.consumeCode(s.mintCode()).has_value()) << "codes are not locked";
    EXPECT_EQ(open().pair(QStringLiteral("9999")).outcome, PairOutcome::Ok);
}

// Faults: a code used twice (also by simultaneous callers), honoured at or after ten minutes or
// after a restart, outstanding codes without bound or dropped newest first.
TEST_F(StorePairing, CodesWorkOnceWithinTenMinutesInMemoryOnly) {
    store::Store& s = open();
    const QString code = s.mintCode();
    EXPECT_TRUE(isLowerHex(code, 16));
    EXPECT_TRUE(isLowerHex(s.consumeCode(code).value_or(QString()), 48));
    EXPECT_FALSE(s.consumeCode(code).has_value());
    EXPECT_FALSE(s.consumeCode(QString()).has_value());

    const QString early = s.mintCode();
    const QString exact = s.mintCode();
    clock = clock.addSecs(599);
    EXPECT_TRUE(s.consumeCode(early).has_value());
    clock = clock.addSecs(1);
    EXPECT_FALSE(s.consumeCode(exact).has_value()) << "expiry equal to now is expired";
    clock = clock.addSecs(-600);
    EXPECT_FALSE(s.consumeCode(exact).has_value()) << "gone even with the clock set back";

    QStringList codes;
    for (int i = 0; i < store::kMaxOutstandingCodes + 3; ++i) {
        codes.append(s.mintCode());
        clock = clock.addSecs(1);
    }
    for (int i = 0; i < codes.size(); ++i) {
        std::atomic<int> winners = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([&] { winners += s.consumeCode(codes.at(i)).has_value() ? 1 : 0; });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(winners.load(), i >= 3 ? 1 : 0) << "code " << i;
    }
    const QString kept = s.mintCode();
    EXPECT_FALSE(open().consumeCode(kept).has_value());
}

TEST(StoreDeviceName, IsTrimmedAndCapped) {
    const struct {
        QString given, expected;
    } rows[] = {
        {QStringLiteral("  Anna's\n\tphone \n"), QStringLiteral("Anna's phone")},
        {QString(39, u'x') + QStringLiteral("\U0001F4F1"), QString(39, u'x')}, // never half a character
        {QStringLiteral("   "), QString()},
    };
    for (const auto& row : rows)
        EXPECT_EQ(store::Store::deviceName(row.given), row.expected) << row.given.toStdString();
}

} // namespace
} // namespace hb::test
