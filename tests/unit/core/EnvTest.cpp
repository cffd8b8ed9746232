#include "core/Env.h"

#include <gtest/gtest.h>

using hb::env::parsePort;

TEST(PortParsing, AcceptsOnlyStrictDecimalPorts) {
    struct Row {
        const char* name;
        const char* text;
        std::optional<std::uint16_t> port;
    };
    const Row rows[] = {
        {"plain", "8080", 8080},
        {"plus sign", "+8080", 8080},
        {"zero", "0", 0},
        {"largest", "65535", 65535},
        {"leading space", " 8080", std::nullopt},
        {"too large", "70000", std::nullopt},
        {"negative", "-1", std::nullopt},
        {"hex", "0x1F90", std::nullopt},
        {"overflowing int64", "99999999999999999999", std::nullopt},
        {"arabic-indic digits", "\u0668\u0660", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(parsePort(QString::fromUtf8(row.text)), row.port) << row.name;
}

TEST(PortParsing, EnvironmentFallsBackTo8788) {
    qputenv("HB_PORT", "70000");
    EXPECT_EQ(hb::env::portFromEnvironment(), 8788);
    qputenv("HB_PORT", "+8080");
    EXPECT_EQ(hb::env::portFromEnvironment(), 8080);
    qunsetenv("HB_PORT");
    EXPECT_EQ(hb::env::portFromEnvironment(), 8788);
}

TEST(Int64Parsing, CoversTheWholeRange) {
    EXPECT_EQ(hb::env::parseInt64(QStringLiteral("-9223372036854775808")), INT64_MIN);
    EXPECT_EQ(hb::env::parseInt64(QStringLiteral("9223372036854775807")), INT64_MAX);
    EXPECT_EQ(hb::env::parseInt64(QStringLiteral("9223372036854775808")), std::nullopt);
    EXPECT_EQ(hb::env::parseInt64(QStringLiteral("-9223372036854775809")), std::nullopt);
}
