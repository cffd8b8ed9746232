#include "DesktopFakes.h"
#include "actions/platform/linux/LinuxInput.h"
#include "actions/platform/linux/LinuxMedia.h"
#include "actions/platform/linux/MprisPlayer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace hb::test;

// Catches: with nothing playing, media keys going to the first player by name (a browser tab)
// instead of the music player the user just paused.
TEST(RecentPlayer, NothingPlayingGoesToThePlayerActiveLast) {
    if (!inTestDesktop())
        GTEST_SKIP() << "needs the private test desktop (tests/desktop.sh)";
    hb::actions::LinuxInput input;
    hb::actions::LinuxMedia media{input};
    FakeService tab(QStringLiteral("fake_mpris_player.py"),
                    {QStringLiteral("alpha"), QStringLiteral("Paused")});
    FakeService music(QStringLiteral("fake_mpris_player.py"),
                      {QStringLiteral("zeta"), QStringLiteral("Playing"), QStringLiteral("toggles")});
    ASSERT_TRUE(tab.ready() && music.ready());

    ASSERT_TRUE(media.mediaAction(QStringLiteral("playpause"))); // the music pauses
    ASSERT_TRUE(waitFor(
        [] { return hb::actions::mpris::lastActive(QStringLiteral("org.mpris.MediaPlayer2.zeta")) > 0; }));
    ASSERT_TRUE(media.mediaAction(QStringLiteral("next")));
    EXPECT_EQ(music.members(), (QStringList{QStringLiteral("PlayPause"), QStringLiteral("Next")}));
    EXPECT_TRUE(tab.members().isEmpty());
}
