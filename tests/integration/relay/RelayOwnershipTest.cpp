// Only the agent holding the key of its relay identifier can link under it.
#include "RelaySupport.h"
#include "relay-service/OwnerKeys.h"
#include "relay/RelayClient.h"
#include "store/Store.h"
#include "support/TestSupport.h"
#include "support/api/ApiHarness.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace std::chrono_literals;
using hb::relay::service::OwnerKeys;
using Verdict = hb::relay::service::OwnerKeys::Verdict;

namespace {

// Catches: a binding not kept on disk or not shared between nodes, a key compared loosely, a link
// without a key taking a bound identifier, a damaged binding accepting anyone.
TEST(OwnerKeys, FirstKeyBindsForEveryNodeOnTheFolder) {
    QTemporaryDir dir;
    OwnerKeys node(dir.path());
    OwnerKeys other(dir.path()); // a second node, or this one restarted
    QString error;
    ASSERT_TRUE(node.open(&error)) << error.toStdString();
    QFile damaged(dir.path() + QStringLiteral("/id-c"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly) && damaged.write("short\n") > 0);
    damaged.close();
    const struct {
        OwnerKeys* keys;
        const char* id;
        QByteArray key;
        Verdict verdict;
    } rows[] = {
        {&node, "a", "key-1", Verdict::Owner},     {&node, "a", "key-1", Verdict::Owner},
        {&node, "a", "key-2", Verdict::Stranger},  {&node, "a", "key-", Verdict::Stranger},
        {&node, "a", "", Verdict::Stranger},       {&other, "a", "key-1", Verdict::Owner},
        {&other, "a", "key-2", Verdict::Stranger}, {&node, "b", "", Verdict::Unproven},
        {&other, "b", "key-2", Verdict::Owner},    {&node, "b", "key-1", Verdict::Stranger},
        {&node, "c", "key-1", Verdict::Failed},    {&node, "..", "key-1", Verdict::Owner},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.keys->check(QString::fromLatin1(row.id), row.key), row.verdict)
            << row.id << row.key.data();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 4) << "no temporaries left";
}

// An agent whose state file predates keys, linked to the relay; then a script that knows the
// identifier tries to take its place.
TEST(RelayOwnership, ImpostorIsRefusedAndPhonesKeepReachingTheAgent) {
    QTemporaryDir support;
    const QJsonObject old{{QStringLiteral("pin"), QStringLiteral("246810")},
                          {QStringLiteral("tokens"), QJsonArray{QStringLiteral("t-1")}},
                          {QStringLiteral("relayId"), QStringLiteral("OLD-ID")}};
    QFile state(support.path() + QStringLiteral("/state.json"));
    ASSERT_TRUE(state.open(QIODevice::WriteOnly) && state.write(QJsonDocument(old).toJson()) > 0);
    state.close();
    hb::store::Store store({support.path(), QStringLiteral(HB_RESOURCES_DIR), {}});
    const QString key = store.relayKey();
    EXPECT_EQ(key.size(), 64);
    ASSERT_TRUE(state.open(QIODevice::ReadOnly));
    QJsonObject saved = QJsonDocument::fromJson(state.readAll()).object();
    EXPECT_EQ(saved.take(QStringLiteral("relayKey")).toString(), key);
    EXPECT_EQ(saved, old) << "the other keys stay as they were";
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(state.fileName()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    QTemporaryDir bindings;
    hb::relay::service::ServiceOptions options;
    options.stateDir = bindings.path();
    hb::test::ServiceThread service(options);
    hb::test::ApiHarness agent;
    hb::relay::RelayOptions clientOptions;
    clientOptions.key = key.toLatin1();
    hb::relay::RelayClient client(
        store.relayId(), service.wsBase(), [&] { return agent.port(); }, clientOptions);
    client.setEnabled(true);
    ASSERT_TRUE(service.waitAgent(store.relayId()));

    for (const QByteArray& forged : {QByteArray("guessed-key"), QByteArray()}) {
        hb::test::TestAgent impostor(service.wsBase(), store.relayId(), forged);
        ASSERT_TRUE(hb::test::waitFor([&] { return impostor.closed; })) << forged.data();
        EXPECT_EQ(impostor.closeCode, hb::relay::service::RelayService::kCloseNotOwner);
    }
    const QByteArray token = agent.pairToken().toUtf8();
    hb::test::Phone phone;
    const auto reply = phone.request("POST", service.httpBase() + QStringLiteral("/phone/OLD-ID/api/gesture"),
                                     R"({"value":"spotlight"})", {{"x-hb-token", token}});
    EXPECT_EQ(reply.status, 200) << reply.body.constData();
    EXPECT_TRUE(agent.fake().calls().contains(QStringLiteral("runGesture:spotlight")));
}

} // namespace
