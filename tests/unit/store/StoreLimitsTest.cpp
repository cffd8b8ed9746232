#include "StoreFixture.h"

#include <QJsonArray>

using hb::store::Store;

namespace {

class StoreLimitsTest : public hb::test::StoreFixture {};

QJsonArray oneStep() {
    return QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("url")},
                                  {QStringLiteral("value"), QStringLiteral("https://example.com")}}};
}

} // namespace

// Catches: an existing folder (HB_SUPPORT=$HOME, a shared project) forced to 0700 at every
// start, a new one left open to others, or state.json readable by them.
TEST_F(StoreLimitsTest, NewFolderIsPrivateAnExistingOneKeepsItsMode) {
    struct Row {
        const char* name;
        int existingMode; ///< -1: the folder does not exist yet
        unsigned expected;
    };
    const Row rows[] = {{"new", -1, 0700}, {"existing, shared", 0755, 0755}};
    for (const Row& row : rows) {
        QDir(support()).removeRecursively();
        if (row.existingMode >= 0) {
            QDir().mkpath(support());
            QFile::setPermissions(support(), QFileDevice::Permissions());
            ::chmod(QFile::encodeName(support()).constData(), mode_t(row.existingMode));
        }
        open();
        EXPECT_EQ(hb::test::fileMode(support()), int(row.expected)) << row.name;
        EXPECT_EQ(hb::test::fileMode(statePath()), 0600) << row.name;
        store.reset();
    }
}

// Catches: flows without limit (a paired phone filling the disk through config.json).
TEST_F(StoreLimitsTest, FlowsAreCappedInNumberAndSize) {
    Store& s = open();
    EXPECT_EQ(s.addFlow(QStringLiteral("big"), QStringLiteral("x"),
                        QJsonArray{
                            QJsonObject{{QStringLiteral("value"), QString(hb::store::kMaxFlowBytes, u'a')}}}),
              Store::FlowAdded::TooLarge);
    QJsonArray tiles;
    for (int i = 0; i < hb::store::kMaxFlows; ++i)
        tiles.append(QJsonObject{{QStringLiteral("type"), QStringLiteral("flow")},
                                 {QStringLiteral("label"), QString::number(i)},
                                 {QStringLiteral("steps"), oneStep()}});
    s.saveConfig(QJsonObject{
        {QStringLiteral("pages"), QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("Flows")},
                                                         {QStringLiteral("tiles"), tiles}}}}});
    EXPECT_EQ(s.addFlow(QStringLiteral("one more"), QStringLiteral("x"), oneStep()),
              Store::FlowAdded::TooMany);
    s.removeFlow(QStringLiteral("7"));
    EXPECT_EQ(s.addFlow(QStringLiteral("one more"), QStringLiteral("x"), oneStep()), Store::FlowAdded::Added);
}
