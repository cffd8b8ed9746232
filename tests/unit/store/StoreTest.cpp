// Store: the pairing rules (PIN, failure lock, tokens, one-time codes) and phone records, the
// state file (damage, atomic saves, kill -9, failed writes) and the configuration document. Their
// one owner; the endpoint tests check only the wire shape.
#include "store/Store.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace hb::test {
namespace {

// A Store on a temporary support folder, rebuilt on demand to stand for a restart, with a
// clock the test moves by hand.
class StoreTest : public ::testing::Test {
  protected:
    QString support() const { return root.path() + u"/support"_s; }
    QString resources() const { return root.path() + u"/resources"_s; }
    QString statePath() const { return support() + u"/state.json"_s; }
    QString configPath() const { return support() + u"/config.json"_s; }

    store::Store& open() {
        store.reset();
        store = std::make_unique<store::Store>(
            store::Store::Options{support(), resources(), [this] { return clock; }});
        return *store;
    }
    static void writeFile(const QString& path, const QByteArray& bytes) {
        QDir().mkpath(path.section(u'/', 0, -2));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    static QByteArray readFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static QJsonObject readObject(const QString& path) {
        return QJsonDocument::fromJson(readFile(path)).object();
    }

    QTemporaryDir root;
    QDateTime clock = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
    std::unique_ptr<store::Store> store;
};

using store::PairOutcome;
using store::Via;
bool matches(const char* pattern, const QString& text) {
    return QRegularExpression(QString::fromLatin1(pattern)).match(text).hasMatch();
}

// Faults: a token of the wrong form or not saved, success not resetting the failure count, a
// revoke that takes other tokens or is not saved, a record lost, an id visibly derived from its
// token, a last contact saved on every request or never again; on first run a new folder left
// open to others, an existing one (HB_SUPPORT=$HOME) forced to 0700, state.json readable by
// others, a PIN or relay identifier of the wrong form; a PIN of the wrong form accepted or not
// saved, a PIN change dropping tokens, a lock that a new PIN lifts, or one that also blocks codes
// or outlives a restart; a rename or revoke not saved, by an unknown id, or of the wrong phone.
TEST_F(StoreTest, PairingRevokingPinsAndTheLockAcrossRestarts) {
    store::Store& s = open();
    EXPECT_TRUE(s.isFirstRun());
    EXPECT_EQ(fileMode(support()), 0700);
    EXPECT_EQ(fileMode(statePath()), 0600);
    EXPECT_TRUE(matches("^[0-9]{6}$", s.pinValue()));
    EXPECT_TRUE(
        matches("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$", s.relayId()));
    const QString pin = s.pinValue();
    for (int i = 0; i < store::MAX_PAIR_FAILURES - 1; ++i)
        EXPECT_EQ(s.pair(u"x"_s).outcome, PairOutcome::Wrong);
    const store::PairResult kept = s.pair(pin, {u"Kitchen tablet"_s, Via::Relay});
    ASSERT_EQ(kept.outcome, PairOutcome::Ok);
    EXPECT_TRUE(matches("^[0-9a-f]{48}$", kept.token));
    for (int i = 0; i < store::MAX_PAIR_FAILURES - 1; ++i)
        s.pair(QString());
    EXPECT_FALSE(s.isLocked());
    const QString revoked = s.pair(pin).token;
    s.removeToken(revoked);
    EXPECT_FALSE(s.tokenValid(QString()));

    const QDateTime paired = clock;
    ::chmod(QFile::encodeName(support()).constData(), 0755);
    store::Store& restarted = open();
    EXPECT_EQ(fileMode(support()), 0755);
    EXPECT_TRUE(restarted.tokenValid(kept.token));
    EXPECT_FALSE(restarted.tokenValid(revoked));
    const QList<store::Device> devices = restarted.devices(kept.token);
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].id, store::Store::deviceId(kept.token));
    EXPECT_FALSE(kept.token.contains(devices[0].id));
    EXPECT_EQ(devices[0].name, u"Kitchen tablet"_s);
    EXPECT_EQ(devices[0].pairedAt, paired);
    EXPECT_EQ(devices[0].via, u"relay"_s);
    EXPECT_TRUE(devices[0].current);

    ASSERT_TRUE(QFile::remove(statePath())); // any save brings it back
    clock = paired.addSecs(store::kLastSeenSaveSeconds - 1);
    ASSERT_TRUE(restarted.useToken(kept.token, Via::Lan));
    EXPECT_FALSE(QFile::exists(statePath()));
    clock = paired.addSecs(store::kLastSeenSaveSeconds);
    ASSERT_TRUE(restarted.useToken(kept.token, Via::Lan));
    EXPECT_EQ(open().devices(kept.token)[0].lastSeen, clock);
    EXPECT_FALSE(store->useToken(revoked, Via::Lan));

    const std::pair<const char*, bool> rows[] = {{"0000", true},
                                                 {"12345678", true},
                                                 {"123", false},
                                                 {"123456789", false},
                                                 {"12a4", false},
                                                 {"1234\n", false},
                                                 {"\u0661\u0662\u0663\u0664", false}};
    QString expected = store->pinValue();
    for (const auto& [pin, accepted] : rows) {
        EXPECT_EQ(store->setPin(QString::fromUtf8(pin)), accepted) << pin;
        expected = accepted ? QString::fromUtf8(pin) : expected;
        EXPECT_EQ(readObject(statePath()).value(u"pin"_s).toString(), expected) << pin;
    }
    EXPECT_TRUE(store->tokenValid(kept.token));

    for (int i = 0; i < store::MAX_PAIR_FAILURES; ++i)
        EXPECT_EQ(store->pair(u"x"_s).outcome, PairOutcome::Wrong) << "attempt " << i + 1;
    EXPECT_EQ(store->pair(expected).outcome, PairOutcome::Locked);
    EXPECT_TRUE(store->pair(expected).token.isEmpty());
    EXPECT_TRUE(store->setPin(u"9999"_s));
    EXPECT_EQ(store->pair(u"9999"_s).outcome, PairOutcome::Locked) << "a new PIN does not lift it";
    EXPECT_TRUE(store->consumeCode(store->mintCode()).has_value()) << "codes are not locked";
    const store::PairResult late = open().pair(u"9999"_s);
    EXPECT_EQ(late.outcome, PairOutcome::Ok);

    const QString lateId = store::Store::deviceId(late.token);
    EXPECT_TRUE(store->renameDevice(lateId, u"Ben"_s));
    EXPECT_TRUE(readFile(statePath()).contains("\"Ben\"")) << "a rename not saved";
    EXPECT_FALSE(store->renameDevice(u"nobody"_s, u"x"_s));
    EXPECT_FALSE(store->revokeDevice(u"nobody"_s));
    EXPECT_TRUE(store->revokeDevice(lateId));
    EXPECT_FALSE(open().tokenValid(late.token));
    EXPECT_TRUE(store->tokenValid(kept.token)) << "the wrong phone revoked";
    store->revokeAllDevices();
    EXPECT_TRUE(open().devices({}).isEmpty());
}

// Faults: a code used twice (also by simultaneous callers), honoured at or after ten minutes or
// after a restart, outstanding codes without bound or dropped newest first.
TEST_F(StoreTest, CodesWorkOnceWithinTenMinutesInMemoryOnly) {
    store::Store& s = open();
    const QString code = s.mintCode();
    EXPECT_TRUE(matches("^[0-9a-f]{16}$", code));
    EXPECT_TRUE(matches("^[0-9a-f]{48}$", s.consumeCode(code).value_or(QString())));
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
    const std::pair<QString, QString> rows[] = {
        {u"  Anna's\n\tphone \n"_s, u"Anna's phone"_s},
        {QString(39, u'x') + u"\U0001F4F1"_s, QString(39, u'x')}, // never half a character
        {u"   "_s, QString()},
    };
    for (const auto& [given, expected] : rows)
        EXPECT_EQ(store::Store::deviceName(given), expected) << given.toStdString();
}

TEST_F(StoreTest, DamagedOrMistypedKeysFallBackAndAreRewritten) {
    const std::tuple<const char*, bool, bool, bool> rows[] = {
        // file, keeps PIN, tokens, relay id
        {R"({"pin":"4321","tokens":["t1"],"relayId":"R-1","extra":1})", true, true, true},
        {R"({"pin":4321,"tokens":["t1"],"relayId":"R-1"})", false, true, true},
        {R"({"pin":"","tokens":["t1"]})", false, true, false},
        {R"({"pin":"4321","tokens":["t1",7],"relayId":null})", true, false, false},
        {"{\"pin\":\"4321\",", false, false, false},
    };
    for (const auto& [file, keepsPin, keepsTokens, keepsRelayId] : rows) {
        writeFile(statePath(), file);
        store::Store& s = open();
        s.removeToken(u"not-there"_s); // a save
        EXPECT_FALSE(s.isFirstRun());
        EXPECT_EQ(s.pinValue() == u"4321"_s, keepsPin) << file;
        EXPECT_EQ(s.tokenValid(u"t1"_s), keepsTokens) << file;
        EXPECT_EQ(s.relayId() == u"R-1"_s, keepsRelayId) << file;
        const QJsonObject state = readObject(statePath());
        EXPECT_EQ(state.keys().size(), 4) << "unknown keys go at the next save: " << file;
        EXPECT_EQ(state.value(u"pin"_s).toString(), s.pinValue()) << file;
        EXPECT_EQ(state.value(u"relayId"_s).toString(), s.relayId()) << file;
        if (keepsTokens) { // a file from before phone records were kept
            EXPECT_EQ(s.devices({}).value(0).name, u"Unknown phone"_s) << file;
            EXPECT_TRUE(s.useToken(u"t1"_s, store::Via::Lan)) << file;
        }
    }
}

// Faults: a save that replaces a linked file with a plain one; a failed save that loses the
// change in memory or leaves temporaries behind.
TEST_F(StoreTest, SavesFollowLinksAndFailedOnesKeepMemoryAuthoritative) {
    const QString elsewhere = root.path() + u"/dotfiles/harbly-config.json"_s;
    writeFile(elsewhere, R"({"pages":[],"settings":{}})");
    QDir().mkpath(support());
    ASSERT_TRUE(QFile::link(elsewhere, configPath()));
    store::Store& s = open();
    s.saveConfig(QJsonObject{{u"marker"_s, 2}});
    EXPECT_TRUE(QFileInfo(configPath()).isSymLink());
    EXPECT_EQ(readObject(elsewhere).value(u"marker"_s), QJsonValue(2));
    // A folder where the file belongs makes every save fail, even for root.
    ASSERT_TRUE(QFile::remove(statePath()) && QFile::remove(configPath()));
    ASSERT_TRUE(QDir().mkdir(statePath()) && QDir().mkdir(configPath()));
    EXPECT_TRUE(s.setPin(u"2468"_s));
    EXPECT_TRUE(s.tokenValid(s.pair(u"2468"_s).token));
    s.saveConfig(QJsonObject{{u"marker"_s, 1}});
    EXPECT_EQ(s.snapshotConfig().value(u"marker"_s), QJsonValue(1));
    EXPECT_EQ(QDir(support()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(StoreTest, KillDuringSavesLeavesTheOldOrTheNewFileNeverADamagedOne) {
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
                    tiles.append(QJsonObject{{u"value"_s, u"%1-%2"_s.arg(round).arg(i)}});
                s.saveConfig(QJsonObject{{u"pages"_s, QJsonArray{QJsonObject{{u"tiles"_s, tiles}}}}});
            }
            ::_exit(0);
        }
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<int>(0, 30000)(random)));
        ::kill(child, SIGKILL);
        ASSERT_EQ(::waitpid(child, nullptr, 0), child);
        ASSERT_TRUE(readObject(statePath()).contains(u"pin"_s)) << "after kill " << kill;
        ASSERT_TRUE(readObject(configPath()).contains(u"pages"_s)) << "after kill " << kill;
        EXPECT_EQ(fileMode(statePath()), 0600);
    }
    open(); // sweeps away what the killed saves left half-written
    EXPECT_EQ(QDir(support()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              (QStringList{u"config.json"_s, u"state.json"_s}));
}

TEST_F(StoreTest, ConfigurationSourcesSavesAndWhatIsReadFromIt) {
    EXPECT_EQ(open().snapshotConfig(), store::Store::defaultConfig());
    EXPECT_TRUE(readFile(configPath()).contains("\n    \"pages\"")) << "written pretty";

    writeFile(resources() + u"/config.json"_s, R"({"pages":{},"theme":"dark"})");
    writeFile(configPath(), "{\"pages\": [");
    const QJsonObject shipped{{u"pages"_s, QJsonArray()},
                              {u"settings"_s, store::Store::defaultSettings()},
                              {u"theme"_s, u"dark"_s}};
    EXPECT_EQ(open().snapshotConfig(), shipped) << "a damaged user file gives way, sanitised";
    EXPECT_EQ(readObject(configPath()), shipped);

    const QByteArray user = R"({"pages":[]})";
    writeFile(configPath(), user);
    EXPECT_EQ(open().snapshotConfig().value(u"settings"_s), QJsonValue(store::Store::defaultSettings()));
    EXPECT_EQ(readFile(configPath()), user) << "completed in memory only";

    const QJsonObject document = parsed(R"({"pages":[{"name":"P","x":{"y":[1,{"z":null}]},
        "tiles":[{"type":"app","value":"Files","extra":true}]}],"settings":{"columns":3,"future":"kept"},"top":1.5})");
    store->saveConfig(document);
    EXPECT_EQ(open().snapshotConfig(), document) << "saved whole, unknown keys kept";
    const std::pair<const char*, const char*> rows[] = {
        {R"({"pages":"x","settings":{}})", R"({"pages":[],"settings":{}})"},
        {R"({"pages":[1,"a",null],"settings":[]})",
         R"({"pages":[1,"a",null],"settings":{"columns":4,"iconScale":1.12,"labels":true}})"},
    };
    for (const auto& [input, expected] : rows)
        EXPECT_EQ(store::Store::sanitize(parsed(input)), parsed(expected)) << input;

    // A relay switch that counts anything but true (or 1.0); allowed applications taken from other
    // tiles, from a value that is not text, or despite a page that is not an object.
    store::Store& s = *store;
    for (const auto& [settings, enabled] : {std::pair{R"({"relayEnabled":true})", true},
                                            {R"({"relayEnabled":1.0})", true},
                                            {R"({"relayEnabled":2})", false},
                                            {R"({"relayEnabled":"true"})", false},
                                            {R"([true])", false}}) {
        s.saveConfig(
            QJsonDocument::fromJson(QByteArray(R"({"pages":[],"settings":)") + settings + "}").object());
        EXPECT_EQ(s.relayEnabled(), enabled) << settings;
    }
    s.saveConfig(parsed(R"({"pages":[
        {"tiles":[{"type":"app","value":"Files"},{"type":"app","value":7},{"type":"APP","value":"Caps"},
                  {"type":"url","value":"https://x"}]},
        {"tiles":[{"type":"app","value":"Terminal"}]},
        {"tiles":[{"type":"app","value":"Skipped"},"a page with a non-object tile is skipped"]}]})"));
    EXPECT_EQ(s.allowedApps(), (QSet<QString>{u"Files"_s, u"Terminal"_s}));
    s.saveConfig(parsed(R"({"pages":[{"tiles":[{"type":"app","value":"Files"}]},3]})"));
    EXPECT_TRUE(s.allowedApps().isEmpty()) << "one page that is not an object hides them all";
}

TEST_F(StoreTest, FlowsGoToTheFirstFlowsPageLeaveByLabelAndAreCapped) {
    store::Store& s = open();
    const QJsonArray steps{parsed(R"({"type":"url","value":"https://a.example"})")};
    s.addFlow(u"Go"_s, u"\u2600"_s, steps);
    const QJsonObject flows = s.snapshotConfig().value(u"pages"_s).toArray().at(1).toObject();
    EXPECT_EQ(flows.value(u"name"_s), QJsonValue(u"Flows"_s));
    EXPECT_EQ(flows.value(u"tiles"_s)[0][u"steps"_s], QJsonValue(steps));
    s.saveConfig(parsed(R"({"pages":[
        {"name":"Other","tiles":[{"type":"flow","label":"Go"}]},
        {"name":"Flows","tiles":[{"type":"app","label":"Go","value":"Files"},{"type":"flow","label":"Keep"}]},
        {"name":"Flows","tiles":"broken"}],"settings":{}})"));
    s.addFlow(u"Go"_s, u"x"_s, QJsonArray());
    const auto tiles = [&](int page) {
        return s.snapshotConfig().value(u"pages"_s).toArray().at(page)[u"tiles"_s];
    };
    EXPECT_EQ(tiles(1).toArray().size(), 3) << "added to the first Flows page";
    s.removeFlow(u"Go"_s);
    EXPECT_EQ(tiles(0).toArray().size(), 1) << "other pages untouched";
    EXPECT_EQ(tiles(1).toArray(), QJsonArray{parsed(R"({"type":"flow","label":"Keep"})")});
    EXPECT_EQ(tiles(2), QJsonValue(QJsonArray()));
    EXPECT_EQ(readObject(configPath()), s.snapshotConfig());

    s.saveConfig(parsed(R"({"pages":[{"name":"Flows","tiles":[{"label":"Go"}]},3],"settings":{}})"));
    writeFile(configPath(), "untouched");
    s.removeFlow(u"Go"_s);
    EXPECT_EQ(readFile(configPath()), "untouched") << "pages not all objects: nothing changes";

    // Flows without limit: a paired phone filling the disk through config.json.
    s.saveConfig(QJsonObject());
    for (int i = 0; i < store::kMaxFlows; ++i)
        ASSERT_EQ(s.addFlow(QString::number(i), u"x"_s, steps), store::Store::FlowAdded::Added);
    EXPECT_EQ(s.addFlow(u"one more"_s, u"x"_s, steps), store::Store::FlowAdded::TooMany);
    s.removeFlow(u"7"_s);
    EXPECT_EQ(s.addFlow(u"one more"_s, u"x"_s, steps), store::Store::FlowAdded::Added);
}

} // namespace
} // namespace hb::test
