// Pure rules of the Linux desktop actions: which keysyms a text becomes, how it is split over
// spare keycodes, which desktop XDG_CURRENT_DESKTOP names, and what pactl output means.
#include "actions/Gestures.h"
#include "actions/platform/linux/GestureMap.h"
#include "actions/platform/linux/HostIdentityLinux.h"
#include "actions/platform/linux/KeyboardKeys.h"
#include "actions/platform/linux/VolumeParse.h"

#include <gtest/gtest.h>

using namespace hb::actions;

TEST(KeysymsForText, MapsCharactersToTheirKeysyms) {
    const struct {
        const char* name;
        QString text;
        std::vector<Keysym> expected;
    } rows[] = {
        {"Latin-1 is its own keysym", QStringLiteral("aé\u00A0"), {0x61, 0xE9, 0xA0}},
        {"euro is Unicode based", QStringLiteral("€"), {0x010020AC}},
        {"astral character is one keysym", QStringLiteral("😀"), {0x0101F600}},
        {"line breaks become Return, CRLF once",
         QStringLiteral("a\r\nb\nc\r\t"),
         {0x61, keysym::kReturn, 0x62, keysym::kReturn, 0x63, keysym::kReturn, keysym::kTab}},
        {"C0, DEL and C1 controls are dropped", QStringLiteral("\u0001\u007F\u0085x"), {0x78}},
        {"lone surrogate types the replacement",
         QString(QChar(0xD83D)) + QLatin1Char('y'),
         {0x0100FFFD, 0x79}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(keysymsForText(row.text), row.expected) << row.name;
}

TEST(BatchesForSpareKeys, KeepsOrderAndNeverExceedsTheSpareKeycodes) {
    const auto needsSpare = [](Keysym sym) { return sym >= 100; }; // below 100: on the keyboard
    const struct {
        std::vector<Keysym> keysyms;
        std::size_t spare;
        std::vector<std::vector<Keysym>> expected;
    } rows[] = {
        {{1, 2, 3}, 0, {{1, 2, 3}}},
        {{1, 100}, 0, {}},
        {{100, 100, 101, 100}, 2, {{100, 100, 101, 100}}},
        {{100, 1, 101, 102, 100}, 2, {{100, 1, 101}, {102, 100}}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(batchesForSpareKeys(row.keysyms, row.spare, needsSpare), row.expected);
}

TEST(DesktopFromName, ReadsTheColonSeparatedList) {
    const std::pair<const char*, Desktop> rows[] = {{"ubuntu:GNOME", Desktop::Gnome},
                                                    {"gnome", Desktop::Gnome},
                                                    {"KDE", Desktop::Kde},
                                                    {"NOTGNOME", Desktop::Other}};
    for (const auto& [value, expected] : rows)
        EXPECT_EQ(desktopFromName(QString::fromLatin1(value)), expected) << value;
}

TEST(GestureSteps, EveryDesktopLocksThroughLogindAndEndsInALastResort) {
    for (const Desktop desktop : {Desktop::Gnome, Desktop::Kde, Desktop::Other}) {
        const auto lock = gestureSteps(desktop, QStringLiteral("lock_screen"));
        ASSERT_EQ(lock.size(), 1u);
        EXPECT_EQ(lock[0].kind, GestureStep::Kind::LockSession);
        EXPECT_TRUE(gestureSteps(desktop, QStringLiteral("Lock_screen")).empty());
        for (const Gesture& gesture : gestures()) { // a failed D-Bus call is never the last step
            const auto steps = gestureSteps(desktop, gesture.name);
            EXPECT_TRUE(steps.empty() || steps.back().kind != GestureStep::Kind::DBus)
                << gesture.name.toStdString();
        }
    }
}

TEST(PactlOutput, VolumeIsTheFirstWholePercentageAndMuteOnlyYes) {
    const std::pair<const char*, int> volumes[] = {
        {"Volume: front-left: 22938 /  35% / -27.36 dB,   front-right: 65536 / 100% / 0.00 dB\n", 35},
        {"Volume: front-left: 98304 / 150% / 10.57 dB", 150},
        {"Volume: front-left: 1 / 4.5% / 0 dB", -1},
        {"Volume: front-left: 1 / 99999999999% / 0 dB", -1},
        {"Failed to get sink volume: No such entity 50%", -1},
    };
    for (const auto& [output, volume] : volumes)
        EXPECT_EQ(parseSinkVolume(QString::fromUtf8(output)), volume) << output;
    const std::pair<const char*, bool> mutes[] = {
        {"  Mute: yes  ", true}, {"Mute: no\n", false}, {"Mute: Yes", false}, {"Mute: yes please", false}};
    for (const auto& [output, muted] : mutes)
        EXPECT_EQ(parseSinkMute(QString::fromUtf8(output)), muted) << output;
}

TEST(LanAddress, WiredBeforeWirelessAmongRunningIpv4EntriesElseLoopback) {
    const auto entry = [](const char* name, const char* address, bool up = true, bool running = true,
                          bool loopback = false, bool ipv4 = true) {
        return InterfaceAddress{QString::fromLatin1(name),   up, running, loopback, ipv4,
                                QString::fromLatin1(address)};
    };
    const struct {
        const char* name;
        std::vector<InterfaceAddress> entries;
        const char* chosen;
    } rows[] = {
        {"nothing qualifies",
         {entry("eth0", "127.0.0.2", true, true, true), entry("eth1", "10.0.0.1", false),
          entry("en1", "10.0.0.2", true, false), entry("enp1s0", "fd00::1", true, true, false, false),
          entry("eth3", "")},
         "127.0.0.1"},
        {"tunnels and bridges are not the LAN",
         {entry("tun0", "10.9.0.2"), entry("docker0", "172.17.0.1")},
         "127.0.0.1"},
        {"wired before wireless",
         {entry("wlp2s0", "10.0.2.5"), entry("veth0", "10.0.3.1"), entry("eth1", "10.0.1.5")},
         "10.0.1.5"},
        {"wireless alone", {entry("tun0", "10.9.0.2"), entry("wlan0", "10.0.2.6")}, "10.0.2.6"},
        {"first wired in system order", {entry("eth2", "10.0.4.5"), entry("enp0s3", "10.0.5.5")}, "10.0.4.5"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(chooseLanAddress(row.entries), QString::fromLatin1(row.chosen)) << row.name;
}

TEST(MachineInfo, PrettyHostnameIsReadLikeTheShellWould) {
    const std::pair<const char*, const char*> rows[] = {
        {"PRETTY_HOSTNAME=\"Lab Desk\"", "Lab Desk"},
        {"PRETTY_HOSTNAME='It\\s'", "It\\s"},
        {"PRETTY_HOSTNAME=\"a\\\\b\\\"c\"", "a\\b\"c"},
        {"PRETTY_HOSTNAME=One\nPRETTY_HOSTNAME=Two\n", "Two"},
        {"PRETTY_HOSTNAME=\"open", ""},
        {"ICON_NAME=computer\n#PRETTY_HOSTNAME=x\n", ""},
        {"  PRETTY_HOSTNAME=Box\r\n", "Box"},
    };
    for (const auto& [text, pretty] : rows)
        EXPECT_EQ(prettyHostnameFromMachineInfo(QByteArray(text)), QString::fromUtf8(pretty)) << text;
}
