// A save interrupted by kill -9 at any moment leaves the old file or the new one, never a
// damaged one.
#include "StoreFixture.h"

#include <QJsonDocument>
#include <chrono>
#include <csignal>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace hb::test {
namespace {

constexpr int kKills = 50;
constexpr int kMaxSavesPerChild = 100000;
constexpr int kMaxDelayMicroseconds = 30000;

// Large enough that a kill often lands in the middle of writing it.
QJsonObject bulkyConfig(int round) {
    QJsonArray tiles;
    for (int i = 0; i < 2000; ++i)
        tiles.append(QJsonObject{{QStringLiteral("type"), QStringLiteral("app")},
                                 {QStringLiteral("value"), QStringLiteral("App %1-%2").arg(round).arg(i)}});
    return QJsonObject{{QStringLiteral("pages"), QJsonArray{QJsonObject{{QStringLiteral("tiles"), tiles}}}},
                       {QStringLiteral("round"), round}};
}

[[noreturn]] void saveForever(const QString& support, const QString& resources) {
    store::Store s(store::Store::Options{support, resources, {}});
    for (int round = 0; round < kMaxSavesPerChild; ++round) {
        s.setPin(QStringLiteral("%1").arg(1000 + round % 9000));
        s.saveConfig(bulkyConfig(round));
    }
    ::_exit(0);
}

bool parsesAsObjectWith(const QByteArray& bytes, const QString& key) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    return error.error == QJsonParseError::NoError && document.isObject() && document.object().contains(key);
}

using StoreCrash = StoreFixture;

TEST_F(StoreCrash, KillDuringSavesLeavesParsableFiles) {
    open().pair(store->pinValue());
    store.reset();
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> delay(0, kMaxDelayMicroseconds);

    for (int kill = 0; kill < kKills; ++kill) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            saveForever(support(), resources());
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);

        ASSERT_TRUE(parsesAsObjectWith(readFile(statePath()), QStringLiteral("pin")))
            << "after kill " << kill;
        ASSERT_TRUE(parsesAsObjectWith(readFile(configPath()), QStringLiteral("pages")))
            << "after kill " << kill;
        EXPECT_EQ(modeOf(statePath()), 0600u);
    }

    // The next start sweeps away what the killed saves left half-written.
    open();
    const QStringList leftovers = QDir(support()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    EXPECT_EQ(leftovers, (QStringList{QStringLiteral("config.json"), QStringLiteral("state.json")}));
}

} // namespace
} // namespace hb::test
