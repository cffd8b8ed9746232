// One real check per input, media and system backend of the private test desktop: XTest
// typing and chords on Xvfb, the X clipboard, KWin shortcuts, notifications, MPRIS players,
// PulseAudio's null sink, logind and the screen saver (the last four as fake D-Bus services).
#include "DesktopFakes.h"
#include "actions/platform/linux/HostIdentityLinux.h"
#include "actions/platform/linux/LinuxInput.h"
#include "actions/platform/linux/LinuxMedia.h"
#include "actions/platform/linux/MprisPlayer.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

using hb::actions::LinuxInput;
using hb::actions::LinuxMedia;
using namespace hb::test;

namespace {

/// Records the keys it receives while focused.
class KeyRecorder : public QWidget {
  public:
    QList<QKeyCombination> presses;

  protected:
    void keyPressEvent(QKeyEvent* event) override { presses.append(event->keyCombination()); }
};

/// Shows `widget` and waits until it has the keyboard focus.
bool focus(QWidget& widget) {
    widget.setFocusPolicy(Qt::StrongFocus);
    widget.resize(300, 60);
    widget.show();
    widget.activateWindow();
    widget.setFocus();
    return waitFor([&widget] { return widget.isActiveWindow() && widget.hasFocus(); });
}

class Desktop : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!inTestDesktop())
            GTEST_SKIP() << "needs the private test desktop (tests/desktop.sh)";
        qunsetenv("XDG_CURRENT_DESKTOP");
    }
    void TearDown() override { qunsetenv("XDG_CURRENT_DESKTOP"); }
    LinuxInput input;
    LinuxMedia media{input};
};

} // namespace

TEST_F(Desktop, TypingReachesTheFocusedWidgetWholeAndGivesBorrowedKeycodesBack) {
    QString text = QStringLiteral("Hé €😀 𝄞 #42~_");
    for (char32_t c = U'\u4E00'; c < U'\u4E00' + 60; ++c) // more distinct characters than spare keycodes
        text += QString::fromUcs4(&c, 1);
    ASSERT_TRUE(waitFor([] { return emptyKeycodes() > 2; }));
    const int emptyBefore = emptyKeycodes();
    QLineEdit edit;
    ASSERT_TRUE(focus(edit));
    std::atomic<bool> other{false};
    QThread* second = QThread::create([&] { other = input.typeText(QStringLiteral("øßxy🙈")); });
    second->start();
    EXPECT_TRUE(runOffGuiThread([&] { return input.typeText(text); }));
    ASSERT_TRUE(waitFor([&] { return second->isFinished(); }));
    delete second;
    EXPECT_TRUE(other.load());
    EXPECT_TRUE(waitFor(
        [&] {
            return edit.text() == text + QStringLiteral("øßxy🙈") ||
                   edit.text() == QStringLiteral("øßxy🙈") + text;
        },
        std::chrono::seconds(10)))
        << "two texts at once do not interleave: " << edit.text().toStdString();
    EXPECT_TRUE(waitFor([&] { return emptyKeycodes() == emptyBefore; }));
    EXPECT_FALSE(input.typeText(QString(10001, QLatin1Char('a')))) << "would hold the keyboard for minutes";
}

TEST_F(Desktop, GesturesPressTheChordOrCallKWin) {
    KeyRecorder recorder;
    ASSERT_TRUE(focus(recorder));
    EXPECT_TRUE(runOffGuiThread([&] { return input.runGesture(QStringLiteral("mission_control")); }));
    ASSERT_TRUE(waitFor([&] {
        return recorder.presses.contains(QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_Up));
    }));
    EXPECT_FALSE(input.runGesture(QStringLiteral("Spotlight")));

    qputenv("XDG_CURRENT_DESKTOP", "KDE");
    FakeService kwin(QStringLiteral("fake_kglobalaccel.py"));
    ASSERT_TRUE(kwin.ready());
    recorder.presses.clear();
    EXPECT_TRUE(runOffGuiThread([&] { return input.runGesture(QStringLiteral("show_desktop")); }));
    ASSERT_EQ(kwin.calls().size(), 1);
    EXPECT_EQ(kwin.calls()[0].value(QStringLiteral("args")).toArray().at(0), QStringLiteral("Show Desktop"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(recorder.presses.isEmpty());
}

TEST_F(Desktop, ClipboardSetFromAWorkerIsReadableByOtherClients) {
    const QString text = QStringLiteral("Grüße 😀\nline two");
    EXPECT_TRUE(runOffGuiThread([&] { return input.setClipboard(text); }));
    QProcess xclip; // it asks this process for the selection: the event loop must keep running
    xclip.start(QStringLiteral("/usr/bin/xclip"),
                {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")});
    ASSERT_TRUE(waitFor([&] { return xclip.state() == QProcess::NotRunning; }));
    EXPECT_EQ(QString::fromUtf8(xclip.readAllStandardOutput()), text);
}

TEST_F(Desktop, WithoutXTestInjectionFailsAndTheUserIsToldOnce) {
    XServerWithoutXTest server;
    FakeService notifications(QStringLiteral("fake_notifications.py"));
    ASSERT_TRUE(!server.display().isEmpty() && notifications.ready());
    LinuxInput blocked(server.display());
    LinuxMedia blockedMedia(blocked);
    EXPECT_FALSE(blocked.accessibilityTrusted());
    EXPECT_FALSE(blocked.runGesture(QStringLiteral("unknown_gesture")));
    EXPECT_TRUE(notifications.members().isEmpty()) << "no prompt for unknown names";
    EXPECT_FALSE(blocked.typeText(QStringLiteral("x")));
    EXPECT_FALSE(blockedMedia.mediaAction(QStringLiteral("play")));
    const QList<QJsonObject> calls = notifications.calls();
    ASSERT_EQ(calls.size(), 2);
    EXPECT_TRUE(
        calls[0].value(QStringLiteral("args")).toArray().at(4).toString().contains(QStringLiteral("XTEST")));
    EXPECT_EQ(calls[1].value(QStringLiteral("args")).toArray().at(1).toInt(), 1) << "replaces the first";
}

TEST_F(Desktop, MediaGoesToThePlayingPlayerElseKeysArePressed) {
    KeyRecorder recorder;
    ASSERT_TRUE(focus(recorder));
    EXPECT_TRUE(runOffGuiThread([&] { return media.mediaAction(QStringLiteral("next")); }));
    ASSERT_TRUE(waitFor([&] { return recorder.presses.contains(QKeyCombination(Qt::Key_MediaNext)); }));

    FakeService paused(QStringLiteral("fake_mpris_player.py"),
                       {QStringLiteral("alpha"), QStringLiteral("Paused")});
    FakeService playing(QStringLiteral("fake_mpris_player.py"),
                        {QStringLiteral("beta"), QStringLiteral("Playing"), QStringLiteral("toggles")});
    ASSERT_TRUE(paused.ready() && playing.ready());
    EXPECT_TRUE(media.mediaAction(QStringLiteral("play"))); // beta pauses: now nothing plays
    ASSERT_TRUE(waitFor(
        [] { return hb::actions::mpris::lastActive(QStringLiteral("org.mpris.MediaPlayer2.beta")) > 0; }));
    for (const char* name : {"next", "prev"})
        EXPECT_TRUE(media.mediaAction(QString::fromLatin1(name))) << name << ": to the player active last";
    EXPECT_FALSE(media.mediaAction(QStringLiteral("Play")));
    EXPECT_EQ(playing.members(),
              (QStringList{QStringLiteral("PlayPause"), QStringLiteral("Next"), QStringLiteral("Previous")}));
    EXPECT_TRUE(paused.members().isEmpty());
}

TEST_F(Desktop, VolumeAndMuteRoundTripThroughTheDefaultSink) {
    for (const auto& [level, expected] : {std::pair{35, 35}, {-5, 0}, {250, 100}}) {
        EXPECT_TRUE(media.setVolume(level));
        EXPECT_EQ(media.getVolume(), expected);
    }
    for (const bool muted : {true, false}) {
        EXPECT_TRUE(media.setMuted(muted));
        EXPECT_EQ(media.isMuted(), muted);
    }
}

TEST_F(Desktop, SleepScreenSaverAndLockGoThroughLogind) {
    if (!systemBusIsPrivate())
        GTEST_SKIP() << "DBUS_SYSTEM_BUS_ADDRESS is not the test desktop's private bus";
    qputenv("XDG_SESSION_ID", "7");
    EXPECT_FALSE(media.systemAction(QStringLiteral("sleep"))) << "no logind: not reported as done";
    FakeService logind(QStringLiteral("fake_logind.py"), {QStringLiteral("7")});
    ASSERT_TRUE(logind.ready());
    EXPECT_TRUE(media.systemAction(QStringLiteral("sleep")));
    EXPECT_TRUE(media.systemAction(QStringLiteral("screensaver"))) << "no screen saver: the session locks";
    {
        FakeService saver(QStringLiteral("fake_screensaver.py"));
        ASSERT_TRUE(saver.ready());
        EXPECT_TRUE(media.systemAction(QStringLiteral("screensaver")));
        EXPECT_EQ(saver.members(), QStringList{QStringLiteral("SetActive")});
    }
    EXPECT_FALSE(media.systemAction(QStringLiteral("Sleep")));
    XServerWithoutXTest server;
    LinuxInput blocked(server.display());
    qunsetenv("XDG_SESSION_ID"); // then the session is found from our process id
    EXPECT_TRUE(blocked.runGesture(QStringLiteral("lock_screen"))) << "no injector needed";
    EXPECT_EQ(logind.members(), (QStringList{QStringLiteral("Suspend"), QStringLiteral("LockSession"),
                                             QStringLiteral("GetSessionByPID"), QStringLiteral("Lock")}));
    EXPECT_EQ(logind.calls()[0].value(QStringLiteral("args")).toArray(), QJsonArray{false});
    EXPECT_EQ(logind.calls()[3].value(QStringLiteral("path")).toString(),
              QStringLiteral("/org/freedesktop/login1/session/_37"));
}

// Catches: the name shown on the phone not taken from hostnamed, else machine-info, else the host
// name without ".local".
TEST_F(Desktop, ComputerNameFromHostnamedThenMachineInfoThenHost) {
    if (!systemBusIsPrivate())
        GTEST_SKIP() << "DBUS_SYSTEM_BUS_ADDRESS is not the test desktop's private bus";
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("machine-info")));
    const auto name = [&](const char* hostnamed, const QByteArray& machineInfo) {
        FakeService service(QStringLiteral("fake_hostname1.py"), {QString::fromUtf8(hostnamed)});
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(machineInfo);
        file.close();
        hb::actions::LinuxHostIdentity identity(
            {file.fileName(), [] { return QStringLiteral("a.local.b.local"); }});
        return service.ready() ? identity.computerName() : QStringLiteral("<no hostnamed>");
    };
    EXPECT_EQ(name("Kitchen Laptop \u2615", "PRETTY_HOSTNAME=F\n"), QStringLiteral("Kitchen Laptop \u2615"));
    EXPECT_EQ(name("", "# by hand\nPRETTY_HOSTNAME=\"Den PC\"\n"), QStringLiteral("Den PC"));
    EXPECT_EQ(name("", "PRETTY_HOSTNAME=\n"), QStringLiteral("a.b"));
}
