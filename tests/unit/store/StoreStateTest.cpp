// The state file: first run, restart, damaged files, atomic saves (also under kill -9) and
// failed writes.
#include "StoreFixture.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <csignal>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace hb::test {
namespace {

using StoreState = StoreFixture;

// Fault: a new folder left open to others, an existing one (HB_SUPPORT=$HOME) forced to 0700,
// state.json readable by others, a PIN or relay identifier of the wrong form.
TEST_F(StoreState, FirstRunWritesAPrivateStateFileAndKeepsAnExistingFoldersMode) {
    const QString nested = support() + QStringLiteral("/a/b");
    store::Store s(store::Store::Options{nested, resources(), {}});
    EXPECT_TRUE(s.isFirstRun());
    EXPECT_EQ(fileMode(nested), 0700);
    EXPECT_EQ(fileMode(nested + QStringLiteral("/state.json")), 0600);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]{6}$")).match(s.pinValue()).hasMatch());
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"))
                    .match(s.relayId())
                    .hasMatch());
    ::chmod(QFile::encodeName(support()).constData(), 0755);
    open();
    EXPECT_EQ(fileMode(support()), 0755);
}

TEST_F(StoreState, DamagedOrMistypedKeysFallBackAndAreRewritten) {
    const struct {
        const char* file;
        bool keepsPin, keepsTokens, keepsRelayId;
    } rows[] = {
        {R"({"pin":"4321","tokens":["t1"],"relayId":"R-1","extra":1})", true, true, true},
        {R"({"pin":4321,"tokens":["t1"],"relayId":"R-1"})", false, true, true},
        {R"({"pin":"","tokens":["t1"]})", false, true, false},
        {R"({"pin":"4321","tokens":["t1",7],"relayId":null})", true, false, false},
        {"{\"pin\":\"4321\",", false, false, false},
    };
    for (const auto& row : rows) {
        writeFile(statePath(), row.file);
        store::Store& s = open();
        s.removeToken(QStringLiteral("not-there")); // a save
        EXPECT_FALSE(s.isFirstRun());
        EXPECT_EQ(s.pinValue() == QStringLiteral("4321"), row.keepsPin) << row.file;
        EXPECT_EQ(s.tokenValid(QStringLiteral("t1")), row.keepsTokens) << row.file;
        EXPECT_EQ(s.relayId() == QStringLiteral("R-1"), row.keepsRelayId) << row.file;
        const QJsonObject state = readObject(statePath());
        EXPECT_EQ(state.keys().size(), 4) << "unknown keys go at the next save: " << row.file;
        EXPECT_EQ(state.value(QStringLiteral("pin")).toString(), s.pinValue()) << row.file;
        EXPECT_EQ(state.value(QStringLiteral("relayId")).toString(), s.relayId()) << row.file;
        if (row.keepsTokens) { // a file from before phone records were kept
            EXPECT_EQ(s.devices({}).value(0).name, QStringLiteral("Unknown phone")) << row.file;
            EXPECT_TRUE(s.useToken(QStringLiteral("t1"), store::Via::Lan)) << row.file;
        }
    }
}

// Faults: a save that replaces a linked file with a plain one; a failed save that loses the
// change in memory or leaves temporaries behind.
TEST_F(StoreState, SavesFollowLinksAndFailedOnesKeepMemoryAuthoritative) {
    const QString elsewhere = root.path() + QStringLiteral("/dotfiles/harbly-config.json");
    writeFile(elsewhere, R"({"pages":[],"settings":{}})");
    QDir().mkpath(support());
    ASSERT_TRUE(QFile::link(elsewhere, configPath()));
    store::Store& s = open();
    s.saveConfig(QJsonObject{{QStringLiteral("marker"), 2}});
    EXPECT_TRUE(QFileInfo(configPath()).isSymLink());
    EXPECT_EQ(readObject(elsewhere).value(QStringLiteral("marker")), QJsonValue(2));
    // A folder where the file belongs makes every save fail, even for root.
    ASSERT_TRUE(QFile::remove(statePath()) && QFile::remove(configPath()));
    ASSERT_TRUE(QDir().mkdir(statePath()) && QDir().mkdir(configPath()));
    EXPECT_TRUE(s.setPin(QStringLiteral("2468")));
    EXPECT_TRUE(s.tokenValid(s.pair(QStringLiteral("2468")).token));
    s.saveConfig(QJsonObject{{QStringLiteral("marker"), 1}});
    EXPECT_EQ(s.snapshotConfig().value(QStringLiteral("marker")), QJsonValue(1));
    EXPECT_EQ(QDir(support()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(StoreState, KillDuringSavesLeavesTheOldOrTheNewFileNeverADamagedOne) {
    open().pair(store->pinValue());
    store.reset();
    std::mt19937 random(std::random_device{}());
    for (int kill = 0; kill < 50; ++kill) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            store::Store s(store::Store::Options{support(), resources(), {}});
            for (int round = 0; round < 100000; ++round) {
                s.setPin(QString::number(1000 + round % 9000));
                QJsonArray tiles; // large enough that a kill often lands in the middle of writing it
                for (int i = 0; i < 2000; ++i)
                    tiles.append(
                        QJsonObject{{QStringLiteral("value"), QStringLiteral("%1-%2").arg(round).arg(i)}});
                s.saveConfig(QJsonObject{
                    {QStringLiteral("pages"), QJsonArray{QJsonObject{{QStringLiteral("tiles"), tiles}}}}});
            }
            ::_exit(0);
        }
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<int>(0, 30000)(random)));
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        ASSERT_TRUE(readObject(statePath()).contains(QStringLiteral("pin"))) << "after kill " << kill;
        ASSERT_TRUE(readObject(configPath()).contains(QStringLiteral("pages"))) << "after kill " << kill;
        EXPECT_EQ(fileMode(statePath()), 0600);
    }
    open(); // sweeps away what the killed saves left half-written
    EXPECT_EQ(QDir(support()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              (QStringList{QStringLiteral("config.json"), QStringLiteral("state.json")}));
}

} // namespace
} // namespace hb::test
