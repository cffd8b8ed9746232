// Typing and the clipboard on a real GNOME compositor (headless mutter), end to end: the real
// server, router and desktop actions run in the session and a native Wayland window must receive
// exactly what the phone sent. Each test starts its own headless mutter (with or without Xwayland).
#include "DesktopFakes.h"
#include "actions/platform/linux/LinuxPlatform.h"
#include "support/TestSupport.h"
#include "support/api/ApiHarness.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

using namespace hb::test;
using namespace Qt::StringLiterals;

namespace {

constexpr auto kStartTimeout = std::chrono::seconds(15);

QStringList x11Sockets() {
    return QDir(u"/tmp/.X11-unix"_s).entryList({u"X*"_s}, QDir::System);
}

/// `mutter --headless --wayland --virtual-monitor 1024x768`, with Xwayland or `--no-x11`, and
/// the session's environment for its clients (DISPLAY only with Xwayland).
class HeadlessMutter {
  public:
    explicit HeadlessMutter(bool xwayland) {
        static int counter = 0;
        const QString name = u"hb-wayland-%1-%2"_s.arg(QCoreApplication::applicationPid()).arg(++counter);
        const QStringList socketsBefore = x11Sockets();
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.start(u"/usr/bin/mutter"_s,
                       QStringList{u"--headless"_s, u"--wayland"_s, u"--wayland-display="_s + name,
                                   u"--virtual-monitor"_s, u"1024x768"_s} +
                           (xwayland ? QStringList() : QStringList{u"--no-x11"_s}));
        // Input goes through Mutter's remote desktop, on the bus a moment after the socket.
        const QDir runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
        ready = waitFor(
            [&] {
                return runtime.exists(name) && QDBusConnection::sessionBus()
                                                   .interface()
                                                   ->isServiceRegistered(u"org.gnome.Mutter.RemoteDesktop"_s)
                                                   .value();
            },
            kStartTimeout);
        environment.insert(u"WAYLAND_DISPLAY"_s, name);
        environment.insert(u"XDG_SESSION_TYPE"_s, u"wayland"_s);
        environment.insert(u"QT_QPA_PLATFORM"_s, u"wayland"_s);
        environment.insert(u"XDG_CURRENT_DESKTOP"_s, u"GNOME"_s);
        environment.remove(u"DISPLAY"_s);
        environment.remove(u"XAUTHORITY"_s);
        if (!xwayland || !ready)
            return;
        // Xwayland's socket is the one that appeared since; like a real session's, it admits
        // only clients with mutter's cookie.
        ready = waitFor(
            [&] {
                for (const QString& socket : x11Sockets()) {
                    if (!socketsBefore.contains(socket))
                        environment.insert(u"DISPLAY"_s, u':' + socket.mid(1));
                }
                const QStringList cookies =
                    runtime.entryList({u".mutter-Xwaylandauth.*"_s}, QDir::Files | QDir::Hidden);
                if (!cookies.isEmpty())
                    environment.insert(u"XAUTHORITY"_s, runtime.filePath(cookies.first()));
                return environment.contains(u"DISPLAY"_s) && environment.contains(u"XAUTHORITY"_s);
            },
            kStartTimeout);
    }
    ~HeadlessMutter() {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
    }
    /// Puts this process into the session.
    void enter() const {
        for (const char* name :
             {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP", "DISPLAY", "QT_QPA_PLATFORM"}) {
            if (environment.contains(QString::fromLatin1(name)))
                qputenv(name, environment.value(QString::fromLatin1(name)).toUtf8());
            else
                qunsetenv(name);
        }
    }
    bool ready = false;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

  private:
    QProcess process_;
};

/// A focused native Wayland line edit (tests/desktop/wayland/target) and what it shows.
class TypingTarget {
  public:
    explicit TypingTarget(QProcessEnvironment environment) {
        // Under the sanitizers: the helper's leaks at exit are Qt's and libwayland's, not ours.
        environment.insert(u"ASAN_OPTIONS"_s, u"detect_leaks=0"_s);
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QStringLiteral(HB_BIN_DIR "/../tests/hb_typing_target"), QStringList());
    }
    ~TypingTarget() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(3000))
            process_.kill();
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

/// The clipboard as an X11 client of the session's Xwayland reads it.
QString x11Clipboard(const HeadlessMutter& mutter) {
    QProcess xclip;
    xclip.setProcessEnvironment(mutter.environment);
    xclip.start(QStringLiteral("/usr/bin/xclip"),
                {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
    xclip.waitForFinished(5000);
    return QString::fromUtf8(xclip.readAllStandardOutput());
}

} // namespace

// Faults caught: XTest chosen because DISPLAY is set (nothing reaches a Wayland window); the
// first key lost to the seat's late keyboard; characters beyond the layout dropped or
// reordered while "ok" says true; the user's clipboard left holding our text after typing;
// GNOME gestures failing without uinput, or answering true where GNOME binds nothing.
TEST(MutterTyping, NativeWaylandWindowReceivesExactlyWhatWasTyped) {
    if (!inTestDesktop())
        GTEST_SKIP() << "needs the private test desktop (tests/desktop.sh)";
    for (const bool xwayland : {false, true}) {
        SCOPED_TRACE(xwayland ? "with Xwayland, DISPLAY set" : "Wayland only");
        HeadlessMutter mutter(xwayland);
        ASSERT_TRUE(mutter.ready);
        TypingTarget target(mutter.environment);
        ASSERT_EQ(target.waitForText(u""_s), u""_s) << "the window is shown";
        mutter.enter();
        QTemporaryDir support;
        hb::actions::LinuxPlatform desktop(support.path());
        ApiHarness::Options options;
        options.platform = &desktop.platform();
        ApiHarness agent(options);
        const QString token = agent.pairToken();
        const auto post = [&](const char* path, const QJsonObject& body) {
            return agent.request("POST", path, QJsonDocument(body).toJson(), token).json();
        };
        if (xwayland) { // the user's clipboard, set through the agent and read by another client
            ASSERT_TRUE(post("/api/clipboard", {{u"text"_s, u"kept ✓"_s}}).value(u"ok"_s).toBool());
            ASSERT_EQ(x11Clipboard(mutter), u"kept ✓"_s);
        }
        EXPECT_TRUE(post("/api/type", {{u"text"_s, u"hi€ö😀"_s}}).value(u"ok"_s).toBool());
        EXPECT_EQ(target.waitForText(QStringLiteral("hi€ö😀")), QStringLiteral("hi€ö😀"));
        EXPECT_TRUE(post("/api/type", {{u"text"_s, u"! ä"_s}}).value(u"ok"_s).toBool())
            << "second text, same session";
        EXPECT_EQ(target.waitForText(QStringLiteral("hi€ö😀! ä")), QStringLiteral("hi€ö😀! ä"));
        if (!xwayland) {
            // A pointer call Mutter rejects (wrong method or argument types) fails on every GNOME.
            for (const char* body :
                 {R"({"dx": 12, "dy": -7})", R"({"scroll": {"dx": 1, "dy": -2}})",
                  R"({"button": "middle", "action": "down"})", R"({"button": "middle", "action": "up"})"})
                EXPECT_TRUE(
                    post("/api/pointer", QJsonDocument::fromJson(body).object()).value(u"ok"_s).toBool())
                    << body;
            continue;
        }
        EXPECT_EQ(x11Clipboard(mutter), QStringLiteral("kept ✓"));
        // GNOME's own bindings go through the same session (no uinput needed); gestures GNOME
        // has no binding for answer false instead of pressing keys that do nothing.
        for (const auto& [gesture, acts] : {std::pair{"show_desktop", false},
                                            {"app_windows", false},
                                            {"hide_others", false},
                                            {"minimize", true}}) {
            EXPECT_EQ(post("/api/gesture", {{u"value"_s, QString::fromLatin1(gesture)}}).value(u"ok"_s), acts)
                << gesture;
        }
    }
}
