// The pairing rules: PIN, failure lock, tokens and one-time codes. Their one owner; the
// endpoint tests check only the wire shape.
#include "StoreFixture.h"

#include <atomic>
#include <thread>
#include <vector>

namespace hb::test {
namespace {

using store::PairOutcome;
using StorePairing = StoreFixture;

QString wrongPin(const QString& pin) {
    return pin == QStringLiteral("000000") ? QStringLiteral("111111") : QStringLiteral("000000");
}

TEST_F(StorePairing, RightPinIssuesAPersistedTokenAndResetsTheFailureCount) {
    store::Store& s = open();
    const QString pin = s.pinValue();
    for (int i = 0; i < store::MAX_PAIR_FAILURES - 1; ++i)
        EXPECT_EQ(s.pair(wrongPin(pin)).outcome, PairOutcome::Wrong);
    const store::PairResult result = s.pair(pin);
    ASSERT_EQ(result.outcome, PairOutcome::Ok);
    EXPECT_TRUE(isLowerHex(result.token, 48));
    EXPECT_TRUE(open().tokenValid(result.token)) << "kept across a restart";
    for (int i = 0; i < store::MAX_PAIR_FAILURES - 1; ++i)
        store->pair(QString());
    EXPECT_FALSE(store->isLocked());
}

TEST_F(StorePairing, FiveFailuresLockUntilRestartWhatEverThePin) {
    store::Store& s = open();
    const QString pin = s.pinValue();
    for (int i = 0; i < store::MAX_PAIR_FAILURES; ++i)
        EXPECT_EQ(s.pair(wrongPin(pin)).outcome, PairOutcome::Wrong) << "attempt " << i + 1;
    EXPECT_EQ(s.pair(pin).outcome, PairOutcome::Locked);
    EXPECT_TRUE(s.pair(pin).token.isEmpty());
    EXPECT_TRUE(s.setPin(QStringLiteral("9999")));
    EXPECT_EQ(s.pair(QStringLiteral("9999")).outcome, PairOutcome::Locked) << "a new PIN does not lift it";
    EXPECT_TRUE(s.consumeCode(s.mintCode()).has_value()) << "codes are not locked";
    EXPECT_EQ(open().pair(QStringLiteral("9999")).outcome, PairOutcome::Ok);
}

TEST_F(StorePairing, SetPinAcceptsFourToEightAsciiDigitsAndKeepsTokens) {
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
        const QString pin = QString::fromUtf8(row.pin);
        EXPECT_EQ(s.setPin(pin), row.accepted) << row.pin;
        expected = row.accepted ? pin : expected;
        EXPECT_EQ(readObject(statePath()).value(QStringLiteral("pin")).toString(), expected) << row.pin;
    }
    EXPECT_TRUE(s.tokenValid(token));
}

TEST_F(StorePairing, RemoveTokenRevokesOnlyThatToken) {
    store::Store& s = open();
    const QString a = s.pair(s.pinValue()).token;
    const QString b = s.pair(s.pinValue()).token;
    s.removeToken(a);
    EXPECT_FALSE(s.tokenValid(a));
    EXPECT_TRUE(s.tokenValid(b));
    EXPECT_FALSE(s.tokenValid(QString()));
    EXPECT_FALSE(open().tokenValid(a));
}

TEST_F(StorePairing, CodesWorkOnceUntilTenMinutesAndLiveInMemoryOnly) {
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
    const QString kept = s.mintCode();
    EXPECT_FALSE(open().consumeCode(kept).has_value());
}

TEST_F(StorePairing, OutstandingCodesAreCappedOldestFirst) {
    store::Store& s = open();
    QStringList codes;
    for (int i = 0; i < store::kMaxOutstandingCodes + 3; ++i) {
        codes.append(s.mintCode());
        clock = clock.addSecs(1);
    }
    for (int i = 0; i < codes.size(); ++i)
        EXPECT_EQ(s.consumeCode(codes.at(i)).has_value(), i >= 3) << "code " << i;
}

TEST_F(StorePairing, SimultaneousUsesOfOneCodeYieldOneToken) {
    store::Store& s = open();
    for (int round = 0; round < 20; ++round) {
        const QString code = s.mintCode();
        std::atomic<int> winners = 0;
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&] { winners += s.consumeCode(code).has_value() ? 1 : 0; });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(winners.load(), 1);
    }
}

} // namespace
} // namespace hb::test
