// One real check per input, media and system backend of the private test desktop: XTest and the
// X clipboard on Xvfb, PulseAudio's null sink, and D-Bus services as fakes of tests/fakes.
#include "DesktopFakes.h"
#include "actions/platform/linux/HostIdentityLinux.h"
#include "actions/platform/linux/LinuxInput.h"
#include "actions/platform/linux/LinuxMedia.h"
#include "actions/platform/linux/MprisPlayer.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QCursor>
#include <QFile>
#include <QJsonArray>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <algorithm>
#include <future>
#include <gtest/gtest.h>

// Last: Xlib's macros clash with Qt names.
#include <X11/Xlib.h>

using namespace hb::actions;
using namespace hb::test;
using namespace Qt::StringLiterals;

namespace {

/// Records what reaches it: "press 1", "release 1", "wheel down", keys as "Ctrl+Shift+Home".
class Recorder : public QWidget {
  public:
    QStringList seen;

  protected:
    void mousePressEvent(QMouseEvent* event) override { seen << u"press %1"_s.arg(int(event->button())); }
    void mouseReleaseEvent(QMouseEvent* event) override { seen << u"release %1"_s.arg(int(event->button())); }
    void wheelEvent(QWheelEvent* event) override {
        seen << (event->angleDelta().y() < 0 ? u"wheel down"_s : u"wheel other"_s);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() < Qt::Key_Shift || event->key() > Qt::Key_Super_R) // not a modifier's own press
            seen << QKeySequence(event->keyCombination()).toString();
    }
};

/// Shows `widget` at (100, 100) and waits until it has the keyboard focus.
bool focus(QWidget& widget) {
    widget.setFocusPolicy(Qt::StrongFocus);
    widget.setGeometry(100, 100, 400, 300);
    widget.show();
    widget.activateWindow();
    widget.setFocus();
    return waitFor([&widget] { return widget.isActiveWindow() && widget.hasFocus(); });
}

/// How many keycodes of $DISPLAY carry no symbol; -1 when it cannot be opened.
int emptyKeycodes() {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return -1;
    int minCode = 0, maxCode = 0, perCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    KeySym* map =
        XGetKeyboardMapping(display, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
    int empty = 0;
    for (int code = 0; map && code <= maxCode - minCode; ++code) {
        const KeySym* row = map + static_cast<std::ptrdiff_t>(code) * perCode;
        empty += std::all_of(row, row + perCode, [](KeySym sym) { return sym == NoSymbol; }) ? 1 : 0;
    }
    XFree(map);
    XCloseDisplay(display);
    return empty;
}

/// Runs `call` on a worker thread while the GUI thread keeps handling events (typing rebinds
/// keys that this process's own windows must read meanwhile).
bool runOffGuiThread(const std::function<bool()>& call) {
    std::future<bool> result = std::async(std::launch::async, call);
    waitFor([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            std::chrono::seconds(20));
    return result.get();
}

QJsonValue argument(const QJsonObject& call, int index) {
    return call.value(u"args"_s).toArray().at(index);
}

class Desktop : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!inTestDesktop())
            GTEST_SKIP() << "needs the private test desktop (tests/desktop.sh)";
    }
    LinuxInput input;
    LinuxMedia media{input};
};

} // namespace

TEST_F(Desktop, TypingReachesTheFocusedWidgetWholeAndGivesBorrowedKeycodesBack) {
    QString text = u"Hé €😀 𝄞 #42~_"_s;
    for (char32_t c = U'\u4E00'; c < U'\u4E00' + 60; ++c) // more distinct characters than spare keycodes
        text += QString::fromUcs4(&c, 1);
    ASSERT_TRUE(waitFor([] { return emptyKeycodes() > 2; }));
    const int emptyBefore = emptyKeycodes();
    QLineEdit edit;
    ASSERT_TRUE(focus(edit));
    std::future<bool> other = std::async(std::launch::async, [&] { return input.typeText(u"øßxy🙈"_s); });
    EXPECT_TRUE(runOffGuiThread([&] { return input.typeText(text); }));
    EXPECT_TRUE(runOffGuiThread([&] { return other.get(); }));
    EXPECT_TRUE(waitFor([&] { return edit.text() == text + u"øßxy🙈"_s || edit.text() == u"øßxy🙈"_s + text; },
                        std::chrono::seconds(10)))
        << "two texts at once do not interleave: " << edit.text().toStdString();
    EXPECT_TRUE(waitFor([&] { return emptyKeycodes() == emptyBefore; }));
    EXPECT_FALSE(input.typeText(QString(10001, u'a'))) << "would hold the keyboard for minutes";

    const QString copied = u"Grüße 😀\nline two"_s; // set from a worker, read by another client
    EXPECT_TRUE(runOffGuiThread([&] { return input.setClipboard(copied); }));
    // xclip asks this process for the selection: the event loop must keep running.
    EXPECT_EQ(QString::fromUtf8(runTool(u"/usr/bin/xclip"_s, {u"-o"_s, u"-selection"_s, u"clipboard"_s}).out),
              copied);
}

// Catches motion that is absolute, scaled or swapped, clicks of the wrong button, scrolling the
// wrong way, modifiers not held around a key, a gesture's or media key's chord not pressed, and
// on KDE a gesture that presses keys instead of calling KWin.
TEST_F(Desktop, PointerKeysGesturesAndMediaKeysReachAWindow) {
    Recorder window;
    ASSERT_TRUE(focus(window));
    QCursor::setPos(300, 250);
    ASSERT_TRUE(input.pointer({PointerCommand::Kind::Move, 17, -9}));
    EXPECT_EQ(QCursor::pos(), QPoint(317, 241));
    ASSERT_TRUE(input.pointer({PointerCommand::Kind::Move, -30, 40}));
    EXPECT_EQ(QCursor::pos(), QPoint(287, 281));
    for (const PointerButton button : {PointerButton::Left, PointerButton::Right})
        ASSERT_TRUE(input.pointer({PointerCommand::Kind::Button, 0, 0, button, ButtonAction::Click}));
    ASSERT_TRUE(input.pointer({PointerCommand::Kind::Scroll, 0, 2}));
    ASSERT_TRUE(input.pressKey(KeyCommand{0xff50, {0xffe3, 0xffe1}})); // ctrl+shift+Home
    ASSERT_TRUE(input.pressKey(KeyCommand{0xff1b, {}}));               // Escape
    EXPECT_TRUE(runOffGuiThread([&] { return input.runGesture(u"mission_control"_s); }));
    EXPECT_TRUE(runOffGuiThread([&] { return media.mediaAction(u"next"_s); })) << "no player: the key";
    const QString expected =
        u"press 1,release 1,press 2,release 2,wheel down,wheel down,Ctrl+Shift+Home,Esc,Ctrl+Alt+Up,Media Next"_s;
    EXPECT_TRUE(waitFor([&] { return window.seen.join(u',') == expected; }))
        << window.seen.join(u',').toStdString();
    EXPECT_FALSE(input.runGesture(u"Spotlight"_s));

    qputenv("XDG_CURRENT_DESKTOP", "KDE");
    FakeService kwin(u"kglobalaccel"_s);
    ASSERT_TRUE(kwin.ready());
    window.seen.clear();
    EXPECT_TRUE(runOffGuiThread([&] { return input.runGesture(u"show_desktop"_s); }));
    ASSERT_EQ(kwin.calls().size(), 1);
    EXPECT_EQ(argument(kwin.calls()[0], 0), u"Show Desktop"_s);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.seen.isEmpty());
}

TEST_F(Desktop, MediaGoesToThePlayingPlayerAndVolumeToTheDefaultSink) {
    FakeService paused(u"mpris"_s, {u"alpha"_s, u"Paused"_s});
    FakeService playing(u"mpris"_s, {u"beta"_s, u"Playing"_s});
    ASSERT_TRUE(paused.ready() && playing.ready());
    EXPECT_TRUE(media.mediaAction(u"play"_s)); // beta pauses: now nothing plays
    ASSERT_TRUE(waitFor([] { return mpris::lastActive(u"org.mpris.MediaPlayer2.beta"_s) > 0; }));
    for (const char* name : {"next", "prev"})
        EXPECT_TRUE(media.mediaAction(QString::fromLatin1(name))) << name << ": to the player active last";
    EXPECT_FALSE(media.mediaAction(u"Play"_s));
    EXPECT_EQ(playing.members(), (QStringList{u"PlayPause"_s, u"Next"_s, u"Previous"_s}));
    EXPECT_TRUE(paused.members().isEmpty());

    for (const auto& [level, expected] : {std::pair{35, 35}, {-5, 0}, {250, 100}}) {
        EXPECT_TRUE(media.setVolume(level));
        EXPECT_EQ(media.getVolume(), expected);
    }
    for (const bool muted : {true, false}) {
        EXPECT_TRUE(media.setMuted(muted));
        EXPECT_EQ(media.isMuted(), muted);
    }
}

// Catches: injection failing silently without XTEST (the user told never, or at every call);
// sleep reported done without logind; the screen saver not falling back to locking; locking
// that needs an injector.
TEST_F(Desktop, WithoutXTestTheUserIsToldOnceAndSystemActionsGoThroughLogind) {
    qputenv("XDG_SESSION_ID", "7");
    EXPECT_FALSE(media.systemAction(u"sleep"_s)) << "no logind: not reported as done";
    QProcess server; // -noreset: else it resets (refusing clients) whenever its last client leaves
    server.start(u"Xvfb"_s, {u"-displayfd"_s, u"1"_s, u"-noreset"_s, u"-extension"_s, u"XTEST"_s,
                             u"-nolisten"_s, u"tcp"_s});
    FakeService notifications(u"notifications"_s);
    FakeService logind(u"logind"_s, {u"7"_s});
    ASSERT_TRUE(waitFor([&] { return server.canReadLine(); }) && notifications.ready() && logind.ready());
    LinuxInput blocked(':' + server.readLine().trimmed());
    LinuxMedia blockedMedia(blocked);
    EXPECT_FALSE(blocked.accessibilityTrusted());
    EXPECT_FALSE(blocked.runGesture(u"unknown_gesture"_s));
    EXPECT_TRUE(notifications.members().isEmpty()) << "no prompt for unknown names";
    EXPECT_FALSE(blocked.typeText(u"x"_s));
    EXPECT_FALSE(blockedMedia.mediaAction(u"play"_s));
    const QList<QJsonObject> calls = notifications.calls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_TRUE(argument(calls[0], 4).toString().contains(u"XTEST"_s));
    EXPECT_EQ(argument(calls[1], 1).toInt(), 1) << "replaces the first";

    EXPECT_TRUE(media.systemAction(u"sleep"_s));
    EXPECT_TRUE(media.systemAction(u"screensaver"_s)) << "no screen saver: the session locks";
    FakeService saver(u"screensaver"_s);
    ASSERT_TRUE(saver.ready());
    EXPECT_TRUE(media.systemAction(u"screensaver"_s));
    EXPECT_EQ(saver.members(), QStringList{u"SetActive"_s});
    EXPECT_FALSE(media.systemAction(u"Sleep"_s));
    qunsetenv("XDG_SESSION_ID"); // then the session is found from our process id
    EXPECT_TRUE(blocked.runGesture(u"lock_screen"_s)) << "no injector needed";
    EXPECT_EQ(logind.members(),
              (QStringList{u"Suspend"_s, u"LockSession"_s, u"GetSessionByPID"_s, u"Lock"_s}));
    EXPECT_EQ(argument(logind.calls()[0], 0), false);
    EXPECT_EQ(logind.calls()[3].value(u"path"_s), u"/org/freedesktop/login1/session/_37"_s);
}

// Catches: the name shown on the phone not taken from hostnamed, else machine-info, else the host
// name without ".local".
TEST_F(Desktop, ComputerNameFromHostnamedThenMachineInfoThenHost) {
    QTemporaryDir dir;
    QFile file(dir.filePath(u"machine-info"_s));
    for (const auto& [hostnamed, machineInfo, expected] :
         {std::tuple{"Kitchen Laptop \u2615", "PRETTY_HOSTNAME=F\n", "Kitchen Laptop \u2615"},
          {"", "# by hand\nPRETTY_HOSTNAME=\"Den PC\"\n", "Den PC"},
          {"", "PRETTY_HOSTNAME=\n", "a.b"}}) {
        FakeService service(u"hostname1"_s, {QString::fromUtf8(hostnamed)});
        ASSERT_TRUE(service.ready() && file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(machineInfo);
        file.close();
        LinuxHostIdentity identity({file.fileName(), [] { return u"a.local.b.local"_s; }});
        EXPECT_EQ(identity.computerName(), QString::fromUtf8(expected));
    }
}
