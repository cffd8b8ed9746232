// The message rules on both ends of the relay, as pure functions: one row per class of input.
#include "relay/RelayMessages.h"
#include "relay-service/PhoneExchange.h"

#include <gtest/gtest.h>

using hb::relay::MessageVerdict;
using namespace Qt::StringLiterals;

namespace {

// Catches: a malformed message answered or replayed, a path that leaves the local server (other
// host, scheme-relative, fragments, bad escapes), a method or header that splits the request,
// framing and relay-marker fields taken from the phone, a body lost or re-encoded.
TEST(RelayMessages, RequestMessagesAreDroppedRefusedOrReplayedAsSent) {
    const std::pair<const char*, MessageVerdict> refused[] = {
        {"not json", MessageVerdict::Drop},
        {R"(["reqId","method","path"])", MessageVerdict::Drop},
        {R"({"reqId":7,"method":"GET","path":"/a"})", MessageVerdict::Drop},
        {R"({"reqId":"r","method":"GET","path":["/a"]})", MessageVerdict::Drop},
        {R"({"reqId":"r","method":"GET","path":"api/admin"})", MessageVerdict::Refuse},
        {R"({"reqId":"r","method":"GET","path":"//evil.example/api"})", MessageVerdict::Refuse},
        {R"({"reqId":"r","method":"GET","path":"/a\r\nx-hb-token: forged"})", MessageVerdict::Refuse},
        {R"({"reqId":"r","method":"GET","path":"/bad%zz"})", MessageVerdict::Refuse},
        {R"({"reqId":"r","method":"GET","path":"/a#frag"})", MessageVerdict::Refuse},
        {R"({"reqId":"r","method":"GET","path":"/\\evil.example"})", MessageVerdict::Refuse},
        {R"({"reqId":"r","method":"GET /x HTTP/1.1\r\nx: y","path":"/a"})", MessageVerdict::Refuse},
    };
    for (const auto& [message, verdict] : refused)
        EXPECT_EQ(hb::relay::parseRequestMessage(QString::fromUtf8(message)).verdict, verdict) << message;
    // Message, then the path, headers and body replayed.
    const std::tuple<const char*, const char*, const char*, QByteArray> replayed[] = {
        {R"({"reqId":"r","method":"GET","path":"/api/icon?app=Text%20Editor&x=+"})",
         "/api/icon?app=Text%20Editor&x=+", "", ""},
        {R"({"reqId":"r","method":"POST","path":"/a","body":"abc","headers":{"Host":"evil","Content-Length":"1",
            "Transfer-Encoding":"chunked","X-Hb-Relay":"0","x-bad":"v\r\nx-hb-token: f","bad name":"v",
            "x-hb-token":"t"}})",
         "/a", "x-hb-token=t", "abc"},
        {R"({"reqId":"r","method":"GET","path":"/a","headers":{"x-hb-token":"t","x-n":5}})", "/a", "", ""},
        {R"({"reqId":"r","method":"POST","path":"/a","body":{"value":1}})", "/a", "", ""},
        {R"({"reqId":"r","method":"POST","path":"/t","body":"Hé €😀"})", "/t", "",
         "H\xc3\xa9 \xe2\x82\xac\xf0\x9f\x98\x80"},
    };
    for (const auto& [message, path, headers, body] : replayed) {
        const auto parsed = hb::relay::parseRequestMessage(QString::fromUtf8(message));
        ASSERT_EQ(parsed.verdict, MessageVerdict::Replay) << message;
        QStringList sent;
        for (const auto& [name, value] : parsed.request.headers)
            sent << QString::fromUtf8(name + '=' + value);
        EXPECT_EQ(parsed.request.path, QString::fromUtf8(path)) << message;
        EXPECT_EQ(sent.join(u';'), QString::fromUtf8(headers)) << message;
        EXPECT_EQ(parsed.request.body, body) << message;
    }
}

// Catches: bytes that are not text corrupted by a text body, a Content-Type invented when the
// local answer had none or lost on the way, an unusable agent reply (status not an integer in
// range, broken base64) reaching the phone as if valid, and header injection through the
// Content-Type.
TEST(RelayMessages, RepliesReachThePhoneAsTheLocalServerGaveThem) {
    const auto reply = [](const QString& type, const QByteArray& body) {
        return QString::fromUtf8(hb::relay::replyMessage(u"r"_s, 401, type, body));
    };
    const QByteArray png = QByteArray::fromHex("89504e470d0a1a0aff00fe");
    // Reply, usable, and when usable the status, type and body the phone gets.
    const std::tuple<QString, bool, int, QByteArray, QByteArray> rows[] = {
        {reply(u"application/json"_s, R"({"ok":false})"), true, 401, "application/json", R"({"ok":false})"},
        {reply(QString(), ""), true, 401, "", ""},
        {reply(u"image/png"_s, png), true, 401, "image/png", png},
        {uR"({"reqId":"r","status":204})"_s, true, 204, "", ""},
        {uR"({"reqId":"r","status":200,"headers":{"Content-Type":"text/html\r\nSet-Cookie: a=b"},"body":"x"})"_s,
         true, 200, "", "x"},
        {uR"({"reqId":"r","status":"200"})"_s, false, 0, "", ""},
        {uR"({"reqId":"r","status":600})"_s, false, 0, "", ""},
        {uR"({"reqId":"r","status":200,"bodyBase64":"@@@"})"_s, false, 0, "", ""},
    };
    for (const auto& [text, usable, status, contentType, body] : rows) {
        const auto answer = hb::relay::service::parseAgentReply(text);
        EXPECT_TRUE(answer.valid) << text.toStdString();
        EXPECT_EQ(answer.usable, usable) << text.toStdString();
        if (usable) {
            EXPECT_EQ(answer.status, status) << text.toStdString();
            EXPECT_EQ(answer.contentType, contentType) << text.toStdString();
            EXPECT_EQ(answer.body, body) << text.toStdString();
        }
    }
    EXPECT_FALSE(hb::relay::service::parseAgentReply(QStringLiteral(R"({"status":200})")).valid);
}

// Catches: a phone path sent on to the agent in another form than the relay read it (a second
// decoding, a lost query), and identifiers that are not identifiers.
TEST(RelayMessages, PhonePathsSplitIntoIdentifierAndAgentTarget) {
    using Kind = hb::relay::service::PhoneTarget::Kind;
    // Path, query, kind, identifier, and the rest (or the location of a redirect).
    const std::tuple<const char*, QHash<QString, QString>, Kind, const char*, QByteArray> rows[] = {
        {"/phone/A-1/", {{u"app"_s, u"Text Editor"_s}}, Kind::Forward, "A-1", "/?app=Text%20Editor"},
        {"/phone/A-1/a%2Fb c", {}, Kind::Forward, "A-1", "/a%252Fb%20c"},
        {"/phone/A-1", {{u"x"_s, u"1"_s}}, Kind::Redirect, "A-1", "/phone/A-1/?x=1"},
        {"/phone/bad id/", {}, Kind::Other, "", ""},
        {"/mac/ws", {}, Kind::Other, "", ""},
    };
    for (const auto& [path, query, kind, id, forwarded] : rows) {
        const auto target = hb::relay::service::phoneTarget(QString::fromUtf8(path), query);
        EXPECT_EQ(target.kind, kind) << path;
        EXPECT_EQ(target.relayId, QString::fromUtf8(id)) << path;
        EXPECT_EQ(kind == Kind::Redirect ? target.location : target.rest, forwarded) << path;
    }
}

} // namespace
