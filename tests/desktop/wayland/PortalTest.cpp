// The RemoteDesktop portal handshake against a fake portal on the test desktop's session bus
// (the real one's approval dialog cannot be clicked here), and what the user is told.
#include "DesktopFakes.h"
#include "actions/platform/linux/LinuxInput.h"
#include "actions/platform/linux/PortalInjector.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <gtest/gtest.h>

using hb::actions::PortalInjector;
using namespace hb::test;
using namespace Qt::StringLiterals;

// Faults caught: persist_mode sent to a version-1 portal (which rejects the session); the
// token not kept, kept readable by others, or reused instead of replaced (single use: the
// user would be asked at every start); keys sent with the wrong session, order or press state;
// a declined dialog taken for a session; the phone told of macOS settings or of the "input"
// group (which lets every program read every keyboard) instead of what to do on this desktop.
TEST(Portal, RestoreTokenIsKeptPrivateAndReplacedAndARefusalSaysWhatToDo) {
    if (!inTestDesktop())
        GTEST_SKIP() << "needs the private test desktop (tests/desktop.sh)";
    QTemporaryDir dir;
    const QString tokenFile = dir.filePath(u"portal-restore-token"_s);
    const auto stored = [&tokenFile] {
        QFile file(tokenFile);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : u"<none>"_s;
    };
    const struct {
        const char* version;
        QJsonValue persistMode; ///< undefined: not sent
        QString restoreTokenSent[2];
        QString kept[2];
    } rows[] = {
        {"1", QJsonValue::Undefined, {{}, {}}, {u"<none>"_s, u"<none>"_s}},
        {"2", 2, {{}, u"token-1"_s}, {u"token-1"_s, u"token-2"_s}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.version);
        FakeService portal(u"portal"_s, {QString::fromLatin1(row.version)});
        ASSERT_TRUE(portal.ready());
        for (int start = 0; start < 2; ++start) {
            auto injector = PortalInjector::begin(tokenFile);
            ASSERT_EQ(injector->wait(std::chrono::seconds(5)), PortalInjector::State::Ready);
            const QJsonObject options =
                portal.calls(u"SelectDevices"_s).at(start).value(u"args"_s).toArray().at(1).toObject();
            EXPECT_EQ(options.value(u"types"_s), 3) << "keyboard and pointer";
            EXPECT_EQ(options.value(u"persist_mode"_s), row.persistMode);
            EXPECT_EQ(options.value(u"restore_token"_s).toString(), row.restoreTokenSent[start]);
            EXPECT_EQ(stored(), row.kept[start]);
            ASSERT_TRUE(start > 0 || injector->sendChord(hb::actions::Chord{{0xffe3}, 'v'}));
        }
        QJsonArray sent; // session, options, keysym, pressed
        for (const QJsonObject& call : portal.calls(u"NotifyKeyboardKeysym"_s))
            sent.append(call.value(u"args"_s));
        const QString keys = u"[[%1, 65507, 1], [%1, 118, 1], [%1, 118, 0], [%1, 65507, 0]]"_s.arg(
            u"\"/org/freedesktop/portal/desktop/session/1/harbly\", {}"_s); // Control_L, v
        EXPECT_EQ(sent, QJsonDocument::fromJson(keys.toUtf8()).array());
    }
    EXPECT_EQ(fileMode(tokenFile), 0600);

    qputenv("XDG_SESSION_TYPE", "wayland");
    for (const bool declining : {true, false}) {
        std::optional<FakeService> portal;
        if (declining) {
            ASSERT_TRUE(portal.emplace(u"portal"_s, QStringList{u"2"_s, u"deny"_s}).ready());
        }
        hb::actions::LinuxInput input;
        EXPECT_FALSE(input.typeText(u"a"_s));
        EXPECT_FALSE(input.accessibilityTrusted());
        const QString hint = input.accessHint();
        EXPECT_TRUE(hint.contains(declining ? u"approve it in the dialog"_s : u"TAG+=\"uaccess\""_s))
            << hint.toStdString();
        EXPECT_FALSE(hint.contains(u"\"input\""_s) || hint.contains(u"System Settings"_s));
    }
    qunsetenv("XDG_SESSION_TYPE");
}
