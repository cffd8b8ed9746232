// Paired-phone records in state.json: kept across restarts, readable beside older files,
// last contact saved at most once a minute.
#include "StoreFixture.h"

namespace hb::test {
namespace {

using store::Device;
using store::Store;
using store::Via;
using StoreDevices = StoreFixture;

// Fault: records not saved or not read back, the id derived visibly from the token, or the
// keys an older version reads changed shape.
TEST_F(StoreDevices, RecordIsKeptAcrossRestart) {
    Store& first = open();
    const QString token = first.pair(first.pinValue(), {QStringLiteral("Kitchen tablet"), Via::Relay}).token;
    const QList<Device> devices = open().devices(token);
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].id, Store::deviceId(token));
    EXPECT_EQ(devices[0].id.size(), store::kDeviceIdLength);
    EXPECT_FALSE(token.contains(devices[0].id));
    EXPECT_EQ(devices[0].name, QStringLiteral("Kitchen tablet"));
    EXPECT_EQ(devices[0].pairedAt, clock);
    EXPECT_EQ(devices[0].via, QStringLiteral("relay"));
    EXPECT_TRUE(devices[0].current);
    EXPECT_EQ(readObject(statePath()).value(QStringLiteral("tokens")).toArray(), QJsonArray{token});
}

// Fault: a state file without records drops its tokens or fails to load.
TEST_F(StoreDevices, OldStateFileWithoutRecordsLoads) {
    const QString token(48, u'a');
    writeFile(statePath(), R"({"pin":"2468","tokens":[")" + token.toLatin1() + R"("],"relayId":"R-1"})");
    Store& s = open();
    const QList<Device> devices = s.devices({});
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].name, QStringLiteral("Unknown phone"));
    EXPECT_FALSE(devices[0].pairedAt.isValid());
    EXPECT_TRUE(s.useToken(token, Via::Lan));
}

// Fault: a save on every request, or a last contact that is never saved again.
TEST_F(StoreDevices, LastSeenIsSavedAtMostOnceAMinute) {
    Store& s = open();
    const QString token = s.pair(s.pinValue()).token;
    const QDateTime paired = clock;
    ASSERT_TRUE(QFile::remove(statePath())); // any save brings it back
    clock = paired.addSecs(store::kLastSeenSaveSeconds - 1);
    ASSERT_TRUE(s.useToken(token, Via::Relay));
    EXPECT_FALSE(QFile::exists(statePath()));
    clock = paired.addSecs(store::kLastSeenSaveSeconds);
    ASSERT_TRUE(s.useToken(token, Via::Relay));
    EXPECT_EQ(open().devices(token)[0].lastSeen, clock);
    EXPECT_FALSE(store->useToken(QString(48, u'b'), Via::Lan));
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
        EXPECT_EQ(Store::deviceName(row.given), row.expected) << row.given.toStdString();
}

} // namespace
} // namespace hb::test
