// The relay service's own rules: who owns an identifier (bindings on disk, shared by every node
// pointed at the folder), and its settings on the normal path (refusals: RelayProcess).
#include "relay-service/OwnerKeys.h"
#include "relay-service/ServiceOptions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

using hb::relay::service::OwnerKeys;
using Verdict = hb::relay::service::OwnerKeys::Verdict;

namespace {

// Catches: a binding not kept on disk or not shared between nodes, a key compared loosely, a link
// without a key taking a bound identifier, a damaged binding accepting anyone, two binders both
// winning.
TEST(OwnerKeys, FirstKeyBindsForEveryNodeOnTheFolder) {
    QTemporaryDir dir;
    OwnerKeys node(dir.path());
    OwnerKeys other(dir.path()); // a second node, or this one restarted
    QString error;
    ASSERT_TRUE(node.open(&error)) << error.toStdString();
    QFile damaged(dir.path() + QStringLiteral("/id-c"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly) && damaged.write("short\n") > 0);
    damaged.close();
    const std::tuple<OwnerKeys*, const char*, QByteArray, Verdict> rows[] = {
        {&node, "a", "key-1", Verdict::Owner},   {&node, "a", "key-2", Verdict::Stranger},
        {&node, "a", "key-", Verdict::Stranger}, {&node, "a", "", Verdict::Stranger},
        {&other, "a", "key-1", Verdict::Owner},  {&node, "b", "", Verdict::Unproven},
        {&other, "b", "key-2", Verdict::Owner},  {&node, "b", "key-1", Verdict::Stranger},
        {&node, "c", "key-1", Verdict::Failed},  {&node, "..", "key-1", Verdict::Owner},
    };
    for (const auto& [keys, id, key, verdict] : rows)
        EXPECT_EQ(keys->check(QString::fromLatin1(id), key), verdict) << id << key.data();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 4) << "no temporaries left";

    // Two nodes binding one identifier at once: the later write must not replace the first.
    for (int i = 0; i < 20; ++i) {
        const QString id = QStringLiteral("race-") + QString::number(i);
        Verdict first{};
        std::thread binder([&] { first = node.check(id, "key-1"); });
        const Verdict second = other.check(id, "key-2");
        binder.join();
        EXPECT_NE(first == Verdict::Owner, second == Verdict::Owner) << "exactly one binder wins " << i;
    }
}

} // namespace

// Catches: a setting read from the wrong variable, ignored or misparsed; a rate of 0 (the limit
// off) taken as "not given"; the memory budget not bounding the agents.
TEST(ServiceOptions, EverySettingIsReadFromTheEnvironment) {
    const std::pair<const char*, const char*> settings[] = {
        {"HB_RELAY_PORT", "9123"},      {"HB_RELAY_LISTEN", "::1"},
        {"HB_RELAY_PROXY", "10.0.0.7"}, {"HB_RELAY_STATE_DIR", "/tmp/hb-owners"},
        {"HB_RELAY_LINK_RATE", "3"},    {"HB_RELAY_REQUEST_RATE", "0"},
        {"HB_RELAY_MEMORY_MB", "1"}};
    for (const auto& [name, value] : settings)
        qputenv(name, value);
    QString error;
    const auto options = hb::relay::service::optionsFromEnvironment(&error);
    for (const auto& [name, value] : settings)
        qunsetenv(name);
    ASSERT_TRUE(options) << error.toStdString();
    EXPECT_EQ(options->port, 9123);
    EXPECT_EQ(options->address, QHostAddress(QStringLiteral("::1")));
    EXPECT_EQ(options->trustedProxy, QHostAddress(QStringLiteral("10.0.0.7")));
    EXPECT_EQ(options->stateDir, QStringLiteral("/tmp/hb-owners"));
    EXPECT_EQ(options->linksPerSecond, 3);
    EXPECT_EQ(options->requestsPerSecond, 0);
    EXPECT_LT(options->maxAgents, 100) << "1 MiB holds a few dozen links";
}
