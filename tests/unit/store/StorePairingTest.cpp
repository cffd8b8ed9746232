#include "StoreFixture.h"

#include <QSet>
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

TEST_F(StorePairing, RightPinIssuesPersistedToken) {
    store::Store& s = open();
    const store::PairResult result = s.pair(s.pinValue());
    ASSERT_EQ(result.outcome, PairOutcome::Ok);
    EXPECT_TRUE(isLowerHex(result.token, 48));
    EXPECT_TRUE(s.tokenValid(result.token));
    EXPECT_TRUE(readObject(statePath()).value(QStringLiteral("tokens")).toArray().contains(result.token));
}

TEST_F(StorePairing, SuccessResetsTheFailureCount) {
    store::Store& s = open();
    const QString pin = s.pinValue();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(s.pair(wrongPin(pin)).outcome, PairOutcome::Wrong);
    EXPECT_EQ(s.pair(pin).outcome, PairOutcome::Ok);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(s.pair(QString()).outcome, PairOutcome::Wrong);
    EXPECT_FALSE(s.isLocked());
    EXPECT_EQ(s.pair(pin).outcome, PairOutcome::Ok);
}

TEST_F(StorePairing, FiveFailuresLockUntilRestart) {
    store::Store& s = open();
    const QString pin = s.pinValue();
    for (int i = 0; i < store::MAX_PAIR_FAILURES; ++i)
        EXPECT_EQ(s.pair(wrongPin(pin)).outcome, PairOutcome::Wrong) << "attempt " << i + 1;
    EXPECT_TRUE(s.isLocked());
    EXPECT_EQ(s.pair(pin).outcome, PairOutcome::Locked);
    EXPECT_TRUE(s.pair(pin).token.isEmpty());
    // A new PIN does not lift the lock; codes are not affected by it.
    EXPECT_TRUE(s.setPin(QStringLiteral("9999")));
    EXPECT_EQ(s.pair(QStringLiteral("9999")).outcome, PairOutcome::Locked);
    EXPECT_TRUE(s.consumeCode(s.mintCode()).has_value());

    store::Store& restarted = open();
    EXPECT_FALSE(restarted.isLocked());
    EXPECT_EQ(restarted.pair(QStringLiteral("9999")).outcome, PairOutcome::Ok);
}

struct PinCase {
    const char* name;
    const char* pin;
    bool accepted;
};

class StoreSetPin : public StoreFixture, public ::testing::WithParamInterface<PinCase> {};

TEST_P(StoreSetPin, AcceptsFourToEightDigits) {
    store::Store& s = open();
    const QString before = s.pinValue();
    const QString pin = QString::fromUtf8(GetParam().pin);
    EXPECT_EQ(s.setPin(pin), GetParam().accepted);
    const QString expected = GetParam().accepted ? pin : before;
    EXPECT_EQ(s.pinValue(), expected);
    EXPECT_EQ(readObject(statePath()).value(QStringLiteral("pin")).toString(), expected);
}

INSTANTIATE_TEST_SUITE_P(Pins, StoreSetPin,
                         ::testing::Values(PinCase{"fourZeros", "0000", true},
                                           PinCase{"eightDigits", "12345678", true},
                                           PinCase{"threeDigits", "123", false},
                                           PinCase{"nineDigits", "123456789", false},
                                           PinCase{"letter", "12a4", false}, PinCase{"empty", "", false},
                                           PinCase{"trailingNewline", "1234\n", false},
                                           PinCase{"arabicIndicDigits", "\u0661\u0662\u0663\u0664", false},
                                           PinCase{"spaces", " 1234", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StorePairing, SetPinKeepsTokens) {
    store::Store& s = open();
    const QString token = s.pair(s.pinValue()).token;
    ASSERT_TRUE(s.setPin(QStringLiteral("2580")));
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

TEST_F(StorePairing, CodeWorksOnce) {
    store::Store& s = open();
    const QString code = s.mintCode();
    EXPECT_TRUE(isLowerHex(code, 16));
    const std::optional<QString> token = s.consumeCode(code);
    ASSERT_TRUE(token.has_value());
    EXPECT_TRUE(isLowerHex(*token, 48));
    EXPECT_TRUE(s.tokenValid(*token));
    EXPECT_FALSE(s.consumeCode(code).has_value());
    EXPECT_FALSE(s.consumeCode(QString()).has_value());
}

TEST_F(StorePairing, CodeExpiresAfterTenMinutes) {
    store::Store& s = open();
    const QString early = s.mintCode();
    const QString exact = s.mintCode();
    clock = clock.addSecs(599);
    EXPECT_TRUE(s.consumeCode(early).has_value());
    clock = clock.addSecs(1);
    EXPECT_FALSE(s.consumeCode(exact).has_value()) << "expiry equal to now is expired";

    const QString late = s.mintCode();
    clock = clock.addSecs(601);
    EXPECT_FALSE(s.consumeCode(late).has_value());
    clock = clock.addSecs(-601); // even with the clock set back, the expired code is gone
    EXPECT_FALSE(s.consumeCode(late).has_value());
}

TEST_F(StorePairing, OutstandingCodesAreCappedOldestFirst) {
    store::Store& s = open();
    QStringList codes;
    for (int i = 0; i < store::kMaxOutstandingCodes + 3; ++i) {
        codes.append(s.mintCode());
        clock = clock.addSecs(1);
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(s.consumeCode(codes.at(i)).has_value()) << "oldest code " << i << " dropped";
    for (int i = 3; i < codes.size(); ++i)
        EXPECT_TRUE(s.consumeCode(codes.at(i)).has_value()) << "code " << i << " kept";
}

TEST_F(StorePairing, SimultaneousUsesOfOneCodeYieldOneToken) {
    store::Store& s = open();
    constexpr int kThreads = 8;
    for (int round = 0; round < 20; ++round) {
        const QString code = s.mintCode();
        std::atomic<int> winners = 0;
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i)
            threads.emplace_back([&] { winners += s.consumeCode(code).has_value() ? 1 : 0; });
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(winners.load(), 1);
    }
}

} // namespace
} // namespace hb::test
