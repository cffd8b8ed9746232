#include "server/Target.h"

#include <gtest/gtest.h>

using hb::server::parseTarget;

namespace {

QString queryText(const QHash<QString, QString>& query) {
    QStringList items;
    for (auto it = query.begin(); it != query.end(); ++it)
        items << it.key() + u'=' + it.value();
    items.sort();
    return items.join(u'&');
}

} // namespace

// Faults: a bad escape half-decoded, '+' read as a space, an encoded slash left for a later
// decoding, the fragment or an absolute form's host taken as the path.
TEST(TargetParsing, SplitsAndDecodesPathAndQuery) {
    const struct {
        QByteArray target;
        QString path;
        const char* query;
    } rows[] = {
        {"/api/x?a=1&b=%20z&a=2", QStringLiteral("/api/x"), "a=2&b= z"},
        {"/api/icon?app=A+B%2BC", QStringLiteral("/api/icon"), "app=A+B+C"},
        {"/caf%C3%A9", QStringLiteral("/caf\u00E9"), ""},
        {"/bad%zz", QStringLiteral("/bad%zz"), ""},
        {"/a b", QStringLiteral("/a b"), ""},
        {"/p?a=%zz", QStringLiteral("/p?a=%zz"), ""},
        {"http://127.0.0.1:8788/x?y=1", QStringLiteral("/x"), "y=1"},
        {"/p?flag&a=", QStringLiteral("/p"), "a="},
        {"/p#frag", QStringLiteral("/p"), ""},
        {"/..%2f..%2fstate.json", QStringLiteral("/../../state.json"), ""},
    };
    for (const auto& row : rows) {
        const auto target = parseTarget(row.target);
        EXPECT_EQ(target.path, row.path) << row.target.constData();
        EXPECT_EQ(queryText(target.query), QString::fromUtf8(row.query)) << row.target.constData();
    }
}
