#include "core/Env.h"

#include <gtest/gtest.h>

using hb::env::parsePort;

TEST(PortParsing, AcceptsOnlyStrictDecimalPortsAndFallsBackTo8788) {
    const std::pair<const char*, std::optional<std::uint16_t>> rows[] = {
        {"+8080", 8080},
        {"0", 0},
        {"65535", 65535},
        {" 8080", std::nullopt},
        {"70000", std::nullopt},
        {"-1", std::nullopt},
        {"0x1F90", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"\u0668\u0660", std::nullopt}, // Arabic-Indic digits
    };
    for (const auto& [text, port] : rows)
        EXPECT_EQ(parsePort(QString::fromUtf8(text)), port) << text;
    qputenv("HB_PORT", "70000");
    EXPECT_EQ(hb::env::portFromEnvironment(), 8788);
    qputenv("HB_PORT", "+8080");
    EXPECT_EQ(hb::env::portFromEnvironment(), 8080);
    qunsetenv("HB_PORT");
}

TEST(Int64Parsing, CoversTheWholeRange) {
    EXPECT_EQ(hb::env::parseInt64(QStringLiteral("-9223372036854775808")), INT64_MIN);
    EXPECT_EQ(hb::env::parseInt64(QStringLiteral("9223372036854775807")), INT64_MAX);
    EXPECT_EQ(hb::env::parseInt64(QStringLiteral("9223372036854775808")), std::nullopt);
    EXPECT_EQ(hb::env::parseInt64(QStringLiteral("-9223372036854775809")), std::nullopt);
}
