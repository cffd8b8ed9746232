// Media keys through fake MPRIS players, volume and mute against the PulseAudio null sink,
// and the system actions against fake logind and screen saver services.
#include "DesktopFakes.h"
#include "actions/platform/linux/LinuxInput.h"
#include "actions/platform/linux/LinuxMedia.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QKeyEvent>
#include <QWidget>
#include <gtest/gtest.h>
#include <optional>

using hb::actions::LinuxInput;
using hb::actions::LinuxMedia;
using namespace hb::test;

namespace {

class MediaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!inTestDesktop())
            GTEST_SKIP() << "needs the private test desktop (tests/desktop.sh)";
    }
    LinuxInput input;
    LinuxMedia media{input};
};

TEST_F(MediaTest, MediaActionsGoToThePlayingPlayer) {
    FakeService paused(QStringLiteral("fake_mpris_player.py"),
                       {QStringLiteral("alpha"), QStringLiteral("Paused")});
    FakeService playing(QStringLiteral("fake_mpris_player.py"),
                        {QStringLiteral("beta"), QStringLiteral("Playing")});
    ASSERT_TRUE(paused.ready() && playing.ready());
    for (const char* name : {"play", "playpause", "next", "prev", "previous"})
        EXPECT_TRUE(media.mediaAction(QString::fromLatin1(name))) << name;
    for (const char* name : {"Play", "pause", "", "next "})
        EXPECT_FALSE(media.mediaAction(QString::fromLatin1(name))) << name;
    EXPECT_EQ(playing.members(),
              (QStringList{QStringLiteral("PlayPause"), QStringLiteral("PlayPause"), QStringLiteral("Next"),
                           QStringLiteral("Previous"), QStringLiteral("Previous")}));
    EXPECT_TRUE(paused.members().isEmpty());
}

TEST_F(MediaTest, WithNoPlayerPlayingTheFirstPlayerByNameIsUsed) {
    FakeService second(QStringLiteral("fake_mpris_player.py"),
                       {QStringLiteral("zeta"), QStringLiteral("Stopped")});
    FakeService first(QStringLiteral("fake_mpris_player.py"),
                      {QStringLiteral("delta"), QStringLiteral("Paused")});
    ASSERT_TRUE(first.ready() && second.ready());
    EXPECT_TRUE(media.mediaAction(QStringLiteral("next")));
    EXPECT_EQ(first.members(), QStringList{QStringLiteral("Next")});
    EXPECT_TRUE(second.members().isEmpty());
}

/// Records key presses while focused.
class KeyRecorder : public QWidget {
  public:
    QList<int> keys;

  protected:
    void keyPressEvent(QKeyEvent* event) override { keys.append(event->key()); }
};

TEST_F(MediaTest, WithoutPlayersMediaKeysArePressed) {
    KeyRecorder recorder;
    recorder.setFocusPolicy(Qt::StrongFocus);
    recorder.show();
    recorder.activateWindow();
    recorder.setFocus();
    ASSERT_TRUE(waitFor([&] { return recorder.hasFocus(); }));
    for (const char* name : {"playpause", "next", "previous"})
        EXPECT_TRUE(runOffGuiThread([&] { return media.mediaAction(QString::fromLatin1(name)); })) << name;
    ASSERT_TRUE(waitFor([&] { return recorder.keys.size() >= 3; }));
    EXPECT_EQ(recorder.keys, (QList<int>{Qt::Key_MediaPlay, Qt::Key_MediaNext, Qt::Key_MediaPrevious}));
}

TEST_F(MediaTest, WithoutPlayersOrInjectorMediaKeysFailAndNotify) {
    XServerWithoutXTest server;
    FakeService notifications(QStringLiteral("fake_notifications.py"));
    ASSERT_TRUE(!server.display().isEmpty() && notifications.ready());
    LinuxInput blocked(server.display());
    LinuxMedia blockedMedia(blocked);
    EXPECT_FALSE(blockedMedia.mediaAction(QStringLiteral("play")));
    EXPECT_EQ(notifications.members(), QStringList{QStringLiteral("Notify")});
}

TEST_F(MediaTest, VolumeAndMuteRoundTripThroughTheDefaultSink) {
    struct Row {
        const char* name;
        int level;
        int expected;
    };
    const Row rows[] = {
        {"in range", 35, 35}, {"below zero", -5, 0}, {"above 100", 250, 100}, {"top", 100, 100}};
    for (const Row& row : rows) {
        EXPECT_TRUE(media.setVolume(row.level)) << row.name;
        EXPECT_EQ(media.getVolume(), row.expected) << row.name;
    }
    for (const bool muted : {true, false, true, false}) {
        EXPECT_TRUE(media.setMuted(muted));
        EXPECT_EQ(media.isMuted(), muted);
    }
}

class SystemActionTest : public MediaTest {
  protected:
    void SetUp() override {
        MediaTest::SetUp();
        if (!systemBusIsPrivate())
            GTEST_SKIP() << "DBUS_SYSTEM_BUS_ADDRESS is not the test desktop's private bus";
        qputenv("XDG_SESSION_ID", "7");
    }
    void TearDown() override { qunsetenv("XDG_SESSION_ID"); }
};

TEST_F(SystemActionTest, SleepAsksLogindToSuspendWithoutInteraction) {
    EXPECT_FALSE(media.systemAction(QStringLiteral("sleep"))) << "no logind: not reported as done";
    FakeService logind(QStringLiteral("fake_logind.py"), {QStringLiteral("7")});
    ASSERT_TRUE(logind.ready());
    EXPECT_TRUE(media.systemAction(QStringLiteral("sleep")));
    const auto calls = logind.calls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].value(QStringLiteral("member")).toString(), QStringLiteral("Suspend"));
    EXPECT_EQ(calls[0].value(QStringLiteral("args")).toArray(), QJsonArray{false});
}

TEST_F(SystemActionTest, ScreenSaverStartsOrTheSessionLocks) {
    enum class Saver { Absent, Accepts, Refuses };
    struct Row {
        const char* name;
        Saver saver;
        QStringList saverCalls;
        QStringList logindCalls;
    };
    const QStringList setActive{QStringLiteral("SetActive")};
    const QStringList lockSession{QStringLiteral("LockSession")};
    const Row rows[] = {
        {"screen saver accepts", Saver::Accepts, setActive, {}},
        {"screen saver refuses", Saver::Refuses, setActive, lockSession},
        {"no screen saver", Saver::Absent, {}, lockSession},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeService logind(QStringLiteral("fake_logind.py"), {QStringLiteral("7")});
        std::optional<FakeService> saver;
        if (row.saver != Saver::Absent)
            saver.emplace(QStringLiteral("fake_screensaver.py"), row.saver == Saver::Refuses
                                                                     ? QStringList{QStringLiteral("refuse")}
                                                                     : QStringList());
        ASSERT_TRUE(logind.ready() && (!saver || saver->ready()));
        EXPECT_TRUE(media.systemAction(QStringLiteral("screensaver")));
        EXPECT_EQ(saver ? saver->members() : QStringList(), row.saverCalls);
        EXPECT_EQ(logind.members(), row.logindCalls);
    }
}

TEST_F(SystemActionTest, OtherNamesRunNothing) {
    FakeService logind(QStringLiteral("fake_logind.py"), {QStringLiteral("7")});
    FakeService saver(QStringLiteral("fake_screensaver.py"));
    ASSERT_TRUE(logind.ready() && saver.ready());
    for (const char* name : {"lock", "Sleep", "", "screensaver "})
        EXPECT_FALSE(media.systemAction(QString::fromLatin1(name))) << name;
    EXPECT_TRUE(logind.members().isEmpty());
    EXPECT_TRUE(saver.members().isEmpty());
}

TEST_F(SystemActionTest, LockScreenGestureLocksThroughLogindWithoutAnInjector) {
    XServerWithoutXTest server;
    ASSERT_FALSE(server.display().isEmpty());
    LinuxInput blocked(server.display());
    FakeService logind(QStringLiteral("fake_logind.py"), {QStringLiteral("7")});
    ASSERT_TRUE(logind.ready());

    EXPECT_TRUE(blocked.runGesture(QStringLiteral("lock_screen")));
    qunsetenv("XDG_SESSION_ID"); // then the session is found from our process id
    EXPECT_TRUE(blocked.runGesture(QStringLiteral("lock_screen")));

    const auto calls = logind.calls();
    ASSERT_EQ(calls.size(), 3);
    EXPECT_EQ(calls[0].value(QStringLiteral("member")).toString(), QStringLiteral("LockSession"));
    EXPECT_EQ(calls[0].value(QStringLiteral("args")).toArray(), QJsonArray{QStringLiteral("7")});
    EXPECT_EQ(calls[1].value(QStringLiteral("member")).toString(), QStringLiteral("GetSessionByPID"));
    EXPECT_EQ(calls[2].value(QStringLiteral("member")).toString(), QStringLiteral("Lock"));
    EXPECT_EQ(calls[2].value(QStringLiteral("path")).toString(),
              QStringLiteral("/org/freedesktop/login1/session/_37"));
}

} // namespace
