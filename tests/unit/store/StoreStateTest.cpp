#include "StoreFixture.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace hb::test {
namespace {

const QRegularExpression kSixDigits(QStringLiteral("^[0-9]{6}$"));
const QRegularExpression
    kRelayId(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"));

using StoreState = StoreFixture;

TEST_F(StoreState, FirstRunCreatesPrivateFolderAndStateFile) {
    store::Store& s = open();
    EXPECT_TRUE(s.isFirstRun());
    EXPECT_EQ(modeOf(support()), 0700u);
    EXPECT_EQ(modeOf(statePath()), 0600u);

    const QJsonObject state = readObject(statePath());
    EXPECT_EQ(state.keys(), (QStringList{QStringLiteral("pin"), QStringLiteral("relayId"),
                                         QStringLiteral("relayKey"), QStringLiteral("tokens")}));
    EXPECT_TRUE(kSixDigits.match(state.value(QStringLiteral("pin")).toString()).hasMatch());
    EXPECT_TRUE(kRelayId.match(state.value(QStringLiteral("relayId")).toString()).hasMatch());
    EXPECT_EQ(state.value(QStringLiteral("tokens")).toArray(), QJsonArray());
    EXPECT_EQ(s.pinValue(), state.value(QStringLiteral("pin")).toString());
    EXPECT_EQ(s.relayId(), state.value(QStringLiteral("relayId")).toString());
    // Compact, so the file is one line.
    EXPECT_FALSE(readFile(statePath()).contains('\n'));
}

TEST_F(StoreState, NestedMissingSupportFolderIsCreated) {
    const QString nested = root.path() + QStringLiteral("/a/b/c");
    store::Store s(store::Store::Options{nested, resources(), {}});
    EXPECT_TRUE(QFile::exists(nested + QStringLiteral("/state.json")));
    EXPECT_EQ(modeOf(nested), 0700u);
}

TEST_F(StoreState, RestartKeepsPinTokensAndRelayId) {
    store::Store& first = open();
    const QString pin = first.pinValue();
    const QString relayId = first.relayId();
    const QString paired = first.pair(pin).token;
    const QString code = first.mintCode();
    const QString redeemed = first.consumeCode(first.mintCode()).value_or(QString());
    ASSERT_TRUE(isLowerHex(paired, 48));
    ASSERT_TRUE(isLowerHex(redeemed, 48));

    store::Store& second = open();
    EXPECT_FALSE(second.isFirstRun());
    EXPECT_EQ(second.pinValue(), pin);
    EXPECT_EQ(second.relayId(), relayId);
    EXPECT_TRUE(second.tokenValid(paired));
    EXPECT_TRUE(second.tokenValid(redeemed));
    EXPECT_FALSE(second.consumeCode(code)) << "codes live in memory only";
}

// What survives of a state file that is damaged or has keys of the wrong type.
struct LoadCase {
    const char* name;
    QByteArray file;
    bool keepsPin;
    bool keepsTokens;
    bool keepsRelayId;
};

class StoreStateLoad : public StoreFixture, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(StoreStateLoad, MissingOrMistypedKeysFallBack) {
    const LoadCase& c = GetParam();
    writeFile(statePath(), c.file);
    store::Store& s = open();
    EXPECT_FALSE(s.isFirstRun());
    EXPECT_EQ(s.pinValue() == QStringLiteral("4321"), c.keepsPin);
    EXPECT_FALSE(s.pinValue().isEmpty());
    EXPECT_EQ(s.tokenValid(QStringLiteral("t1")), c.keepsTokens);
    EXPECT_EQ(s.relayId() == QStringLiteral("R-1"), c.keepsRelayId);
    EXPECT_FALSE(s.relayId().isEmpty());
    // Whatever was regenerated is on disk too.
    const QJsonObject state = readObject(statePath());
    EXPECT_EQ(state.value(QStringLiteral("pin")).toString(), s.pinValue());
    EXPECT_EQ(state.value(QStringLiteral("relayId")).toString(), s.relayId());
    EXPECT_EQ(modeOf(statePath()), 0600u);
}

INSTANTIATE_TEST_SUITE_P(
    Files, StoreStateLoad,
    ::testing::Values(
        LoadCase{"complete", R"({"pin":"4321","tokens":["t1"],"relayId":"R-1"})", true, true, true},
        LoadCase{"noRelayId", R"({"pin":"4321","tokens":["t1"]})", true, true, false},
        LoadCase{"pinIsNumber", R"({"pin":4321,"tokens":["t1"],"relayId":"R-1"})", false, true, true},
        LoadCase{"emptyPin", R"({"pin":"","tokens":["t1"],"relayId":"R-1"})", false, true, true},
        LoadCase{"oneTokenNotString", R"({"pin":"4321","tokens":["t1",7],"relayId":"R-1"})", true, false,
                 true},
        LoadCase{"tokensNotArray", R"({"pin":"4321","tokens":"t1","relayId":"R-1"})", true, false, true},
        LoadCase{"relayIdNull", R"({"pin":"4321","tokens":["t1"],"relayId":null})", true, true, false},
        LoadCase{"notJson", "{\"pin\":\"4321\",", false, false, false},
        LoadCase{"empty", "", false, false, false},
        LoadCase{"topLevelArray", R"([{"pin":"4321"}])", false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StoreState, UnknownStateKeysDisappearAtNextSave) {
    writeFile(statePath(), R"({"pin":"4321","tokens":[],"relayId":"R-1","extra":1})");
    store::Store& s = open();
    s.removeToken(QStringLiteral("not-there")); // rewrites the file even when nothing changed
    EXPECT_FALSE(readObject(statePath()).contains(QStringLiteral("extra")));
}

TEST_F(StoreState, SavesReplaceTheTargetOfALinkedFile) {
    const QString elsewhere = root.path() + QStringLiteral("/dotfiles/harbly-config.json");
    writeFile(elsewhere, R"({"pages":[],"settings":{}})");
    QDir().mkpath(support());
    ASSERT_TRUE(QFile::link(elsewhere, configPath()));
    open().saveConfig(QJsonObject{{QStringLiteral("marker"), 2}});
    EXPECT_TRUE(QFileInfo(configPath()).isSymLink());
    EXPECT_EQ(readObject(elsewhere).value(QStringLiteral("marker")), QJsonValue(2));
}

TEST_F(StoreState, FailedWritesLeaveMemoryAuthoritative) {
    store::Store& s = open();
    // A folder where the file belongs makes every save fail, even for root.
    QFile::remove(statePath());
    QFile::remove(configPath());
    ASSERT_TRUE(QDir().mkdir(statePath()));
    ASSERT_TRUE(QDir().mkdir(configPath()));

    EXPECT_TRUE(s.setPin(QStringLiteral("2468")));
    EXPECT_EQ(s.pinValue(), QStringLiteral("2468"));
    const QString token = s.pair(QStringLiteral("2468")).token;
    EXPECT_TRUE(s.tokenValid(token));
    s.saveConfig(QJsonObject{{QStringLiteral("marker"), 1}});
    EXPECT_EQ(s.snapshotConfig().value(QStringLiteral("marker")), QJsonValue(1));
    // No temporary files are left behind by the failed saves.
    EXPECT_EQ(QDir(support()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

} // namespace
} // namespace hb::test
