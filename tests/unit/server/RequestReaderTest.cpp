#include "server/RequestReader.h"
#include "server/Response.h"
#include "server/Server.h"
#include "server/StaticFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using hb::server::RequestReader;
using State = RequestReader::State;

namespace {

constexpr qsizetype kHeaderLimit = 16 * 1024;
constexpr qsizetype kBodyLimit = 4 * 1024 * 1024;

RequestReader readAll(const QByteArray& bytes) {
    RequestReader reader(kHeaderLimit, kBodyLimit);
    reader.feed(bytes);
    return reader;
}

} // namespace

TEST(RequestReader, EverySplitPointGivesTheSameRequest) {
    const QByteArray raw = "POST /api/x?a=1 HTTP/1.1\r\nHost: h\r\nContent-Type :  application/json \r\n"
                           "X-A: 1\r\nx-a: 2\r\nContent-Length: 5\r\n\r\nabcdeTRAILING";
    for (qsizetype split = 0; split <= raw.size(); ++split) {
        for (qsizetype second = split; second <= raw.size(); second += 7) {
            RequestReader reader(kHeaderLimit, kBodyLimit);
            reader.feed(QByteArrayView(raw).first(split));
            reader.feed(QByteArrayView(raw).sliced(split, second - split));
            reader.feed(QByteArrayView(raw).sliced(second));
            ASSERT_EQ(reader.state(), State::Complete) << split << "/" << second;
            const auto& request = reader.request();
            EXPECT_EQ(request.method, QStringLiteral("POST"));
            EXPECT_EQ(request.path, QStringLiteral("/api/x"));
            EXPECT_EQ(request.body, QByteArray("abcde"));
            EXPECT_EQ(request.header(QStringLiteral("content-type")), QStringLiteral("application/json"));
            EXPECT_EQ(request.header(QStringLiteral("x-a")), QStringLiteral("2"));
        }
    }
}

TEST(RequestReader, RequestLineDefaultsAndSpacing) {
    EXPECT_EQ(readAll("  GET   /x  \r\n\r\n").request().path, QStringLiteral("/x"));
    const auto empty = readAll("\r\n\r\n");
    EXPECT_EQ(empty.request().method, QStringLiteral("GET"));
    EXPECT_EQ(empty.request().path, QStringLiteral("/"));
    EXPECT_EQ(readAll("get /y HTTP/1.1\r\n\r\n").request().method, QStringLiteral("get"));
    EXPECT_EQ(readAll("GET /z HTTP/1.1\r\nHost: 127.0.0.1:8788\r\nnocolon\r\n\r\n")
                  .request()
                  .header(QStringLiteral("host")),
              QStringLiteral("127.0.0.1:8788"));
}

TEST(RequestReader, ContentLengthRules) {
    struct Row {
        const char* name;
        QByteArray request;
        State state;
        QByteArray body;
    };
    const Row rows[] = {
        {"shorter body waits", "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nabc", State::Incomplete, {}},
        {"extra bytes ignored", "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcdef", State::Complete, "abc"},
        {"last one wins", "POST / HTTP/1.1\r\nContent-Length: 9\r\ncontent-length: 2\r\n\r\nxyz",
         State::Complete, "xy"},
        {"negative refused", "POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", State::BadLength, {}},
        {"overflow refused",
         "POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n",
         State::BadLength,
         {}},
        {"huge refused before reading",
         "POST / HTTP/1.1\r\nContent-Length: 9223372036854775807\r\n\r\n",
         State::BodyTooLarge,
         {}},
        {"chunked body not decoded",
         "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", State::Complete, ""},
        {"lone LF does not end the header", "GET / HTTP/1.1\n\n", State::Incomplete, {}},
    };
    for (const Row& row : rows) {
        const auto reader = readAll(row.request);
        EXPECT_EQ(reader.state(), row.state) << row.name;
        if (row.state == State::Complete) {
            EXPECT_EQ(reader.request().body, row.body) << row.name;
        }
    }
}

TEST(RequestReader, InvalidUtf8HeaderBlockCountsAsEmpty) {
    const auto reader = readAll("POST /x HTTP/1.1\r\nX: \xFF\xFE\r\nContent-Length: 3\r\n\r\nabc");
    ASSERT_EQ(reader.state(), State::Complete);
    EXPECT_EQ(reader.request().method, QStringLiteral("GET"));
    EXPECT_EQ(reader.request().path, QStringLiteral("/"));
    EXPECT_TRUE(reader.request().headers.isEmpty());
    EXPECT_TRUE(reader.request().body.isEmpty());
}

TEST(RequestReader, HeaderLimitHoldsWhetherOrNotTheTerminatorArrives) {
    RequestReader endless(kHeaderLimit, kBodyLimit);
    const QByteArray line = "X-Filler: " + QByteArray(100, 'a') + "\r\n";
    State state = endless.feed("GET / HTTP/1.1\r\n");
    while (state == State::Incomplete && endless.buffered() < 2 * kHeaderLimit)
        state = endless.feed(line);
    EXPECT_EQ(state, State::HeaderTooLarge);

    QByteArray big = "GET / HTTP/1.1\r\n";
    while (big.size() < kHeaderLimit + 10)
        big += line;
    EXPECT_EQ(readAll(big + "\r\n").state(), State::HeaderTooLarge);
}

TEST(Responses, ExactBytes) {
    EXPECT_EQ(hb::server::responseBytes(200, "text/plain", "hi"),
              QByteArray("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n"
                         "Connection: close\r\n\r\nhi"));
    EXPECT_TRUE(hb::server::responseBytes(204, "text/plain", "").startsWith("HTTP/1.1 204 No Content\r\n"));
    EXPECT_EQ(hb::server::sseChunk(hb::server::kReloadEvent),
              QByteArray("17\r\nevent: reload\ndata: 1\n\n\r\n"));
    EXPECT_EQ(hb::server::sseChunk(QStringLiteral("\u00E9").toUtf8()).left(3), QByteArray("2\r\n"));
}

TEST(StaticFiles, MimeTableIsExactAndCaseSensitive) {
    using hb::server::mimeType;
    EXPECT_EQ(mimeType(QStringLiteral("/app.js")), "text/javascript");
    EXPECT_EQ(mimeType(QStringLiteral("/app.JS")), "application/octet-stream");
    EXPECT_EQ(mimeType(QStringLiteral("/dir.v2/README")), "application/octet-stream");
}

TEST(StaticFiles, LookupsStayInsideThePublicFolder) {
    QTemporaryDir root;
    QDir(root.path()).mkpath(QStringLiteral("public/sub"));
    const QString publicDir = root.path() + QStringLiteral("/public");
    for (const char* name : {"public/index.html", "public/admin.html", "public/sub/a.css", "state.json"}) {
        QFile file(root.path() + u'/' + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
    QFile::link(root.path() + QStringLiteral("/state.json"), publicDir + QStringLiteral("/leak.json"));
    QFile::link(publicDir + QStringLiteral("/sub/a.css"), publicDir + QStringLiteral("/inside.css"));

    using hb::server::resolvePublicFile;
    EXPECT_TRUE(resolvePublicFile(publicDir, QStringLiteral("/")));
    EXPECT_TRUE(resolvePublicFile(publicDir, QStringLiteral("/admin")));
    EXPECT_TRUE(resolvePublicFile(publicDir, QStringLiteral("/sub/a.css")));
    EXPECT_TRUE(resolvePublicFile(publicDir, QStringLiteral("/inside.css")));
    for (const char* hostile : {"/../state.json", "/sub/../../state.json", "/./index.html", "//etc/passwd",
                                "/leak.json", "/sub\\..\\..\\state.json", "/sub", "relative.html"})
        EXPECT_FALSE(resolvePublicFile(publicDir, QString::fromUtf8(hostile))) << hostile;
    EXPECT_FALSE(resolvePublicFile(publicDir, QStringLiteral("/index.html") + QChar(u'\0')));
    EXPECT_EQ(hb::server::readStatic(publicDir, QStringLiteral("/nope")).body, QByteArray("not found"));
}

TEST(StaticFiles, CachedAnswersFollowTheFolderOnceStale) {
    using namespace std::chrono_literals;
    QTemporaryDir root;
    const auto write = [&](const char* name, const QByteArray& bytes) {
        QFile file(root.path() + u'/' + QLatin1String(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    write("app.js", "one");
    hb::server::StaticFileCache cache(root.path(), 200ms);
    EXPECT_EQ(cache.answer(QStringLiteral("/app.js")).body, QByteArray("one"));

    // Within the freshness period the kept answer stands; after it, the file as it is now.
    write("app.js", "two");
    EXPECT_EQ(cache.answer(QStringLiteral("/app.js")).body, QByteArray("one"));
    QThread::msleep(250);
    EXPECT_EQ(cache.answer(QStringLiteral("/app.js")).body, QByteArray("two"));

    // A miss is never kept: a file that appears is served at once.
    EXPECT_EQ(cache.answer(QStringLiteral("/late.css")).status, 404);
    write("late.css", "body{}");
    const auto late = cache.answer(QStringLiteral("/late.css"));
    EXPECT_EQ(late.status, 200);
    EXPECT_EQ(late.contentType, QByteArray("text/css"));
}

TEST(RequestReader, EndsCleanlyOnlyWhenNothingCanFollowTheRequest) {
    EXPECT_TRUE(readAll("GET / HTTP/1.1\r\n\r\n").endedCleanly());
    EXPECT_TRUE(readAll("POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi").endedCleanly());
    // Bytes past the body, or a body the reader does not take in, may still be arriving:
    // closing at once would turn them into a reset that can destroy the answer in flight.
    EXPECT_FALSE(readAll("POST / HTTP/1.1\r\nContent-Length: 1\r\n\r\nhi").endedCleanly());
    EXPECT_FALSE(readAll("GET / HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\n").endedCleanly());
    EXPECT_FALSE(readAll("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n").endedCleanly());
    EXPECT_FALSE(readAll("POST / HTTP/1.1\r\nContent-Length: 9\r\n\r\nhi").endedCleanly());
}
