#include "server/RequestReader.h"
#include "server/Response.h"
#include "server/Server.h"
#include "server/StaticFiles.h"
#include "server/Target.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace hb::server;
using State = RequestReader::State;

namespace {

constexpr qsizetype kHeaderLimit = 16 * 1024;

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

// Rows: name, bytes, state, a complete request's method, path, body and last "x-a", and `clean`: nothing
// can follow the request (bytes past the body, or a body the reader does not take in, may still be
// arriving; closing at once would reset the answer in flight). Each is also fed split at every offset.
TEST(RequestReader, RequestLineHeadersLengthAndEndingAtEverySplit) {
    const std::tuple<const char*, QByteArray, State, const char*, bool> rows[] = {
        {"headers trimmed, the last wins, a line without colon skipped",
         "POST /api/x?a=1 HTTP/1.1\r\nHost: h\r\nX-A :  1 \r\nnocolon\r\nx-a: 2 \r\nContent-Length: "
         "5\r\n\r\nabcdeTRAILING",
         State::Complete, "POST /api/x abcde 2", false},
        {"spacing around the request line", "  GET   /x  \r\n\r\n", State::Complete, "GET /x", true},
        {"empty request line", "\r\n\r\n", State::Complete, "GET /", true},
        {"invalid UTF-8 header block counts as empty",
         "POST /x HTTP/1.1\r\nX: \xFF\xFE\r\nContent-Length: 3\r\n\r\nabc", State::Complete, "GET /", false},
        {"exact body", "POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi", State::Complete, "POST / hi", true},
        {"shorter body waits", "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nabc", State::Incomplete, "",
         false},
        {"pipelined request", "GET / HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\n", State::Complete, "GET /", false},
        {"last length wins", "POST / HTTP/1.1\r\nContent-Length: 9\r\ncontent-length: 2\r\n\r\nxyz",
         State::Complete, "POST / xy", false},
        {"negative", "POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", State::BadLength, "", false},
        {"overflow", "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n", State::BadLength, "",
         false},
        {"huge refused before reading", "POST / HTTP/1.1\r\nContent-Length: 9223372036854775807\r\n\r\n",
         State::BodyTooLarge, "", false},
        {"chunked not decoded", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
         State::Complete, "POST /", false},
        {"lone LF does not end the header", "GET / HTTP/1.1\n\n", State::Incomplete, "", false},
        {"a header block that never ends", "GET / HTTP/1.1\r\nX: " + QByteArray(kHeaderLimit, 'a'),
         State::HeaderTooLarge, "", false},
    };
    for (const auto& [name, raw, state, expected, clean] : rows) {
        for (qsizetype split = 0; split <= raw.size(); ++split) {
            RequestReader reader(kHeaderLimit, 4 * 1024 * 1024);
            reader.feed(QByteArrayView(raw).first(split));
            reader.feed(QByteArrayView(raw).sliced(split));
            ASSERT_EQ(reader.state(), state) << name << ", split at " << split;
            // Bytes fed after a complete request are not looked at: the ending is judged unsplit.
            ASSERT_TRUE(split < raw.size() || reader.endedCleanly() == clean) << name;
            const auto& request = reader.request();
            const QStringList got = {request.method, request.path, QString::fromUtf8(request.body),
                                     request.header(QStringLiteral("x-a"))};
            ASSERT_TRUE(state != State::Complete || got.join(u' ').trimmed() == QString::fromUtf8(expected))
                << name << ", split at " << split << ": " << got.join(u' ').toStdString();
        }
    }
}

// Faults: a bad escape half-decoded, '+' read as a space, an encoded slash left for a later
// decoding, the fragment or an absolute form's host taken as the path.
TEST(TargetParsing, SplitsAndDecodesPathAndQuery) {
    const std::tuple<QByteArray, QString, const char*> rows[] = {
        {"/api/x?a=1&b=%20z&a=2", QStringLiteral("/api/x"), "a=2&b= z"},
        {"/api/icon?app=A+B%2BC", QStringLiteral("/api/icon"), "app=A+B+C"},
        {"/caf%C3%A9", QStringLiteral("/caf\u00E9"), ""},
        {"/bad%zz", QStringLiteral("/bad%zz"), ""},
        {"/p?a=%zz", QStringLiteral("/p?a=%zz"), ""},
        {"http://127.0.0.1:8788/x?y=1", QStringLiteral("/x"), "y=1"},
        {"/p?flag&a=", QStringLiteral("/p"), "a="},
        {"/p#frag", QStringLiteral("/p"), ""},
        {"/..%2f..%2fstate.json", QStringLiteral("/../../state.json"), ""},
    };
    for (const auto& [raw, path, query] : rows) {
        const auto target = parseTarget(raw);
        EXPECT_EQ(target.path, path) << raw.constData();
        QHash<QString, QString> expected;
        for (const QString& item : QString::fromUtf8(query).split(u'&', Qt::SkipEmptyParts))
            expected.insert(item.section(u'=', 0, 0), item.section(u'=', 1));
        EXPECT_EQ(target.query, expected) << raw.constData();
    }
}

TEST(Responses, ExactBytes) {
    EXPECT_EQ(responseBytes(200, "text/plain", "hi"),
              QByteArray("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n"
                         "Connection: close\r\n\r\nhi"));
    EXPECT_TRUE(responseBytes(204, "text/plain", "").startsWith("HTTP/1.1 204 No Content\r\n"));
    EXPECT_EQ(sseChunk(kReloadEvent), QByteArray("17\r\nevent: reload\ndata: 1\n\n\r\n"));
    EXPECT_EQ(sseChunk(QStringLiteral("\u00E9").toUtf8()).left(3), QByteArray("2\r\n"));
    EXPECT_EQ(mimeType(QStringLiteral("/app.js")), "text/javascript");
    EXPECT_EQ(mimeType(QStringLiteral("/dir.v2/README")), "application/octet-stream");
}

TEST(StaticFiles, LookupsStayInsideThePublicFolderAndCachedAnswersFollowIt) {
    QTemporaryDir root;
    const QString publicDir = root.path() + QStringLiteral("/public");
    QDir(root.path()).mkpath(QStringLiteral("public/sub"));
    for (const char* name : {"/index.html", "/admin.html", "/sub/a.css", "/../state.json"})
        writeFile(publicDir + QLatin1String(name), "x");
    QFile::link(root.path() + QStringLiteral("/state.json"), publicDir + QStringLiteral("/leak.json"));
    QFile::link(publicDir + QStringLiteral("/sub/a.css"), publicDir + QStringLiteral("/inside.css"));
    for (const char* inside : {"/", "/admin", "/sub/a.css", "/inside.css"})
        EXPECT_TRUE(resolvePublicFile(publicDir, QString::fromUtf8(inside))) << inside;
    for (const char* hostile : {"/../state.json", "/sub/../../state.json", "/./index.html", "//etc/passwd",
                                "/leak.json", "/sub\\..\\..\\state.json", "/sub", "relative.html"})
        EXPECT_FALSE(resolvePublicFile(publicDir, QString::fromUtf8(hostile))) << hostile;
    EXPECT_FALSE(resolvePublicFile(publicDir, QStringLiteral("/index.html") + QChar(u'\0')));

    // Faults: a kept answer never refreshed, or a miss kept so that a new file stays 404.
    writeFile(publicDir + QStringLiteral("/app.js"), "one");
    StaticFileCache cache(publicDir, std::chrono::milliseconds(200));
    EXPECT_EQ(cache.answer(QStringLiteral("/app.js")).body, QByteArray("one"));
    writeFile(publicDir + QStringLiteral("/app.js"), "two");
    EXPECT_EQ(cache.answer(QStringLiteral("/app.js")).body, QByteArray("one"));
    QThread::msleep(250);
    EXPECT_EQ(cache.answer(QStringLiteral("/app.js")).body, QByteArray("two"));
    EXPECT_EQ(cache.answer(QStringLiteral("/late.css")).status, 404);
    writeFile(publicDir + QStringLiteral("/late.css"), "body{}");
    EXPECT_EQ(cache.answer(QStringLiteral("/late.css")).contentType, QByteArray("text/css"));
}
