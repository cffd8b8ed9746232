// Typing and the clipboard on a real GNOME compositor (headless mutter), end to end: the real
// server, router and desktop actions run in the session and a native Wayland window must receive
// exactly what the phone sent, in a session with Xwayland (DISPLAY set, as GNOME sets it).
#include "DesktopFakes.h"
#include "actions/platform/linux/LinuxPlatform.h"
#include "support/TestSupport.h"
#include "support/api/ApiHarness.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <gtest/gtest.h>
#include <optional>

using namespace hb::test;
using namespace Qt::StringLiterals;

namespace {

QStringList x11Sockets() {
    return QDir(u"/tmp/.X11-unix"_s).entryList({u"X*"_s}, QDir::System);
}

/// `mutter --headless --wayland --virtual-monitor 1024x768`, with Xwayland. Once it is ready, this
/// process and those it starts are in its session.
class HeadlessMutter {
  public:
    HeadlessMutter() {
        const QString name = u"hb-wayland-%1"_s.arg(QCoreApplication::applicationPid());
        const QStringList socketsBefore = x11Sockets();
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.start(u"/usr/bin/mutter"_s, {u"--headless"_s, u"--wayland"_s, u"--wayland-display="_s + name,
                                              u"--virtual-monitor"_s, u"1024x768"_s});
        qputenv("WAYLAND_DISPLAY", name.toUtf8());
        qputenv("XDG_SESSION_TYPE", "wayland");
        qputenv("QT_QPA_PLATFORM", "wayland");
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        qputenv("ASAN_OPTIONS", "detect_leaks=0"); // the helpers' leaks at exit are Qt's and libwayland's
        qunsetenv("DISPLAY");
        // Input goes through Mutter's remote desktop, on the bus a moment after the socket.
        // Xwayland's socket is the one that appeared since; like a real session's, it admits only
        // clients with mutter's cookie.
        const QDir runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
        ready = waitFor(
            [&] {
                for (const QString& socket : x11Sockets()) {
                    if (!socketsBefore.contains(socket))
                        qputenv("DISPLAY", ':' + socket.mid(1).toUtf8());
                }
                const QStringList cookies =
                    runtime.entryList({u".mutter-Xwaylandauth.*"_s}, QDir::Files | QDir::Hidden);
                if (!cookies.isEmpty())
                    qputenv("XAUTHORITY", runtime.filePath(cookies.first()).toUtf8());
                return runtime.exists(name) && qEnvironmentVariableIsSet("DISPLAY") && !cookies.isEmpty() &&
                       QDBusConnection::sessionBus()
                           .interface()
                           ->isServiceRegistered(u"org.gnome.Mutter.RemoteDesktop"_s)
                           .value();
            },
            std::chrono::seconds(30));
    }
    ~HeadlessMutter() {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
    }
    bool ready = false;

  private:
    QProcess process_;
};

/// A focused native Wayland line edit (tests/desktop/wayland/target) and what it shows.
class TypingTarget {
  public:
    TypingTarget() {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(HB_BIN_DIR "/../tests/hb_typing_target"), QStringList());
    }
    ~TypingTarget() {
        process_.kill();
        process_.waitForFinished();
    }
    /// Waits until the window is shown with the text `expected`; the text then.
    QString waitForText(const QString& expected) {
        waitFor(
            [&] {
                for (QByteArray line; process_.canReadLine();) {
                    line = process_.readLine().trimmed();
                    text_ = QString::fromUtf8(QByteArray::fromHex(line.mid(5))); // "shown" or "text:<hex>"
                }
                return text_ == expected;
            },
            std::chrono::seconds(10));
        return text_.value_or(u"<not shown>"_s);
    }

  private:
    QProcess process_;
    std::optional<QString> text_;
};

} // namespace

// Faults caught: XTest chosen because DISPLAY is set (nothing reaches a Wayland window); the
// first key lost to the seat's late keyboard; characters beyond the layout dropped or
// reordered while "ok" says true; the user's clipboard left holding our text after typing;
// pointer calls Mutter rejects (wrong method or argument types: they fail on every GNOME);
// GNOME gestures failing without uinput, or answering true where GNOME binds nothing.
TEST(MutterTyping, NativeWaylandWindowReceivesExactlyWhatWasTyped) {
    if (!inTestDesktop())
        GTEST_SKIP() << "needs the private test desktop (tests/desktop.sh)";
    HeadlessMutter mutter;
    ASSERT_TRUE(mutter.ready);
    TypingTarget target;
    ASSERT_EQ(target.waitForText(u""_s), u""_s) << "the window is shown";
    QTemporaryDir support;
    hb::actions::LinuxPlatform desktop(support.path());
    ApiHarness::Options options;
    options.platform = &desktop.platform();
    ApiHarness agent(options);
    const QString token = agent.pairToken();
    const auto ok = [&](const char* path, const QByteArray& body) {
        return agent.request("POST", path, body, token).json().value(u"ok"_s);
    };
    const auto clipboard = [] { // as another X11 client of the session reads it
        return QString::fromUtf8(
            runTool(u"/usr/bin/xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s}).out);
    };
    ASSERT_EQ(ok("/api/clipboard", R"({"text": "kept ✓"})"), true);
    ASSERT_EQ(clipboard(), u"kept ✓"_s);
    EXPECT_EQ(ok("/api/type", R"({"text": "hi€ö😀"})"), true);
    EXPECT_EQ(target.waitForText(u"hi€ö😀"_s), u"hi€ö😀"_s);
    EXPECT_EQ(ok("/api/type", R"({"text": "! ä"})"), true) << "second text, same session";
    EXPECT_EQ(target.waitForText(u"hi€ö😀! ä"_s), u"hi€ö😀! ä"_s);
    EXPECT_EQ(clipboard(), u"kept ✓"_s);
    for (const char* body :
         {R"({"dx": 12, "dy": -7})", R"({"scroll": {"dx": 1, "dy": -2}})",
          R"({"button": "middle", "action": "down"})", R"({"button": "middle", "action": "up"})"})
        EXPECT_EQ(ok("/api/pointer", body), true) << body;
    // GNOME's own bindings go through the same session (no uinput needed).
    for (const auto& [gesture, acts] : {std::pair{"show_desktop", false}, {"minimize", true}})
        EXPECT_EQ(ok("/api/gesture", R"({"value": ")" + QByteArray(gesture) + "\"}"), acts) << gesture;
}
