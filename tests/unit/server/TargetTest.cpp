#include "server/Target.h"

#include <gtest/gtest.h>

using hb::server::parseTarget;

TEST(TargetParsing, SplitsAndDecodesPathAndQuery) {
    const auto target = parseTarget("/api/x?a=1&b=%20z&a=2");
    EXPECT_EQ(target.path, QStringLiteral("/api/x"));
    EXPECT_EQ(target.query.value(QStringLiteral("a")), QStringLiteral("2"));
    EXPECT_EQ(target.query.value(QStringLiteral("b")), QStringLiteral(" z"));
    EXPECT_EQ(target.query.size(), 2);
}

TEST(TargetParsing, Rows) {
    struct Row {
        const char* name;
        QByteArray target;
        QString path;
        int queryItems;
    };
    const Row rows[] = {
        {"utf-8 escape", "/caf%C3%A9", QStringLiteral("/caf\u00E9"), 0},
        {"bad escape keeps raw target", "/bad%zz", QStringLiteral("/bad%zz"), 0},
        {"space rejected", "/a b", QStringLiteral("/a b"), 0},
        {"bad query escape keeps raw", "/p?a=%zz", QStringLiteral("/p?a=%zz"), 0},
        {"absolute form", "http://127.0.0.1:8788/x?y=1", QStringLiteral("/x"), 1},
        {"item without value dropped", "/p?flag&a=", QStringLiteral("/p"), 1},
        {"fragment dropped", "/p#frag", QStringLiteral("/p"), 0},
        {"encoded slash decoded", "/..%2f..%2fstate.json", QStringLiteral("/../../state.json"), 0},
        {"non-ascii byte rejected", "/caf\xC3\xA9", QStringLiteral("/caf\u00E9"), 0},
    };
    for (const Row& row : rows) {
        const auto target = parseTarget(row.target);
        EXPECT_EQ(target.path, row.path) << row.name;
        EXPECT_EQ(target.query.size(), row.queryItems) << row.name;
    }
}

TEST(TargetParsing, PlusStaysPlus) {
    const auto target = parseTarget("/api/icon?app=A+B%2BC");
    EXPECT_EQ(target.query.value(QStringLiteral("app")), QStringLiteral("A+B+C"));
}
