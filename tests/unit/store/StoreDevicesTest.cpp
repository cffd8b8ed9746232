// Paired-phone records in state.json: kept across restarts, readable beside older files,
// last contact saved at most once a minute.
#include "store/Store.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace hb::test {
namespace {

using store::Device;
using store::Store;
using store::Via;

class StoreDevices : public ::testing::Test {
  protected:
    QString statePath() const { return dir.path() + QStringLiteral("/state.json"); }

    Store& restart() {
        store.reset();
        store = std::make_unique<Store>(Store::Options{dir.path(), dir.path(), [this] { return clock; }});
        return *store;
    }

    QJsonObject state() const {
        QFile file(statePath());
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                              : QJsonObject();
    }

    QTemporaryDir dir;
    QDateTime clock = QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC);
    std::unique_ptr<Store> store;
};

// Fault: records not saved or not read back, or the older keys changed shape.
TEST_F(StoreDevices, RecordIsKeptAcrossRestart) {
    Store& first = restart();
    const QString token = first.pair(first.pinValue(), {QStringLiteral("Kitchen tablet"), Via::Relay}).token;
    const QString pin = first.pinValue();

    const QList<Device> devices = restart().devices(token);
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].id, Store::deviceId(token));
    EXPECT_EQ(devices[0].id.size(), store::kDeviceIdLength);
    EXPECT_FALSE(token.contains(devices[0].id));
    EXPECT_EQ(devices[0].name, QStringLiteral("Kitchen tablet"));
    EXPECT_EQ(devices[0].pairedAt, clock);
    EXPECT_EQ(devices[0].lastSeen, clock);
    EXPECT_EQ(devices[0].via, QStringLiteral("relay"));
    EXPECT_TRUE(devices[0].current);

    // What an older version reads is unchanged.
    const QJsonObject saved = state();
    EXPECT_EQ(saved.value(QStringLiteral("pin")).toString(), pin);
    EXPECT_EQ(saved.value(QStringLiteral("tokens")).toArray(), QJsonArray{token});
    EXPECT_TRUE(saved.value(QStringLiteral("relayId")).isString());
}

// Fault: a state file without records drops its tokens or fails to load.
TEST_F(StoreDevices, OldStateFileWithoutRecordsLoads) {
    const QString token(48, u'a');
    QFile file(statePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"pin":"2468","tokens":[")" + token.toLatin1() + R"("],"relayId":"R-1"})");
    file.close();

    Store& s = restart();
    EXPECT_EQ(s.pinValue(), QStringLiteral("2468"));
    const QList<Device> devices = s.devices({});
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].name, QStringLiteral("Unknown phone"));
    EXPECT_FALSE(devices[0].pairedAt.isValid());
    EXPECT_FALSE(devices[0].current);
    EXPECT_TRUE(s.useToken(token, Via::Lan));
    EXPECT_EQ(s.devices({})[0].lastSeen, clock);
}

// Fault: a save on every request, or a last contact that is never saved again.
TEST_F(StoreDevices, LastSeenIsSavedAtMostOnceAMinute) {
    Store& s = restart();
    const QString token = s.pair(s.pinValue()).token;
    const QDateTime paired = clock;
    ASSERT_TRUE(QFile::remove(statePath())); // any save brings it back
    for (int second = 1; second < store::kLastSeenSaveSeconds; second += 7) {
        clock = paired.addSecs(second);
        ASSERT_TRUE(s.useToken(token, Via::Relay));
    }
    EXPECT_FALSE(QFile::exists(statePath()));
    EXPECT_EQ(s.devices(token)[0].lastSeen, paired);

    clock = paired.addSecs(store::kLastSeenSaveSeconds);
    ASSERT_TRUE(s.useToken(token, Via::Relay));
    EXPECT_TRUE(QFile::exists(statePath()));
    const Device seen = restart().devices(token)[0];
    EXPECT_EQ(seen.lastSeen, clock);
    EXPECT_EQ(seen.via, QStringLiteral("relay"));
    EXPECT_FALSE(store->useToken(QString(48, u'b'), Via::Lan));
}

TEST(StoreDeviceName, IsTrimmedAndCapped) {
    const QString emoji = QStringLiteral("\U0001F4F1");
    const struct {
        QString given, expected;
    } rows[] = {
        {QStringLiteral("  Pixel 8 \n"), QStringLiteral("Pixel 8")},
        {QStringLiteral("Anna's\n\tphone"), QStringLiteral("Anna's phone")},
        {QString(41, u'x'), QString(40, u'x')},
        {QString(39, u'x') + emoji, QString(39, u'x')}, // a character is never cut in half
        {QStringLiteral("   "), QString()},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Store::deviceName(row.given), row.expected) << row.given.toStdString();
}

} // namespace
} // namespace hb::test
