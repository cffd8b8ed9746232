// The relay's settings on the normal path (refusals: RelayProcess.RefusesUnusableSettings).
#include "relay-service/ServiceOptions.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

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
    EXPECT_EQ(options->address, QHostAddress(u"::1"_s));
    EXPECT_EQ(options->trustedProxy, QHostAddress(u"10.0.0.7"_s));
    EXPECT_EQ(options->stateDir, u"/tmp/hb-owners"_s);
    EXPECT_EQ(options->linksPerSecond, 3);
    EXPECT_EQ(options->requestsPerSecond, 0);
    EXPECT_LT(options->maxAgents, 100) << "1 MiB holds a few dozen links";
}
