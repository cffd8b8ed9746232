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
    const std::pair<QString, std::vector<Keysym>> rows[] = {
        {QStringLiteral("aé\u00A0"), {0x61, 0xE9, 0xA0}}, // Latin-1 is its own keysym
        {QStringLiteral("€"), {0x010020AC}},
        {QStringLiteral("😀"), {0x0101F600}}, // one keysym, not two surrogates
        {QStringLiteral("a\r\nb\nc\r\t"),    // line breaks become Return, CRLF once
         {0x61, keysym::kReturn, 0x62, keysym::kReturn, 0x63, keysym::kReturn, keysym::kTab}},
        {QStringLiteral("\u0001\u007F\u0085x"), {0x78}},                 // C0, DEL and C1 controls dropped
        {QString(QChar(0xD83D)) + QLatin1Char('y'), {0x0100FFFD, 0x79}}, // a lone surrogate
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(keysymsForText(text), expected) << text.toStdString();
}

TEST(BatchesForSpareKeys, KeepsOrderAndNeverExceedsTheSpareKeycodes) {
    const auto needsSpare = [](Keysym sym) { return sym >= 100; }; // below 100: on the keyboard
    const std::tuple<std::vector<Keysym>, std::size_t, std::vector<std::vector<Keysym>>> rows[] = {
        {{1, 2, 3}, 0, {{1, 2, 3}}},
        {{1, 100}, 0, {}},
        {{100, 100, 101, 100}, 2, {{100, 100, 101, 100}}},
        {{100, 1, 101, 102, 100}, 2, {{100, 1, 101}, {102, 100}}},
    };
    for (const auto& [keysyms, spare, expected] : rows)
        EXPECT_EQ(batchesForSpareKeys(keysyms, spare, needsSpare), expected) << spare;
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
    const std::pair<std::vector<InterfaceAddress>, const char*> rows[] = {
        {{entry("eth0", "127.0.0.2", true, true, true), entry("eth1", "10.0.0.1", false),
          entry("en1", "10.0.0.2", true, false), entry("enp1s0", "fd00::1", true, true, false, false),
          entry("eth3", ""), entry("tun0", "10.9.0.2"), entry("docker0", "172.17.0.1")},
         "127.0.0.1"}, // nothing qualifies: tunnels and bridges are not the LAN either
        {{entry("wlp2s0", "10.0.2.5"), entry("veth0", "10.0.3.1"), entry("eth1", "10.0.1.5")}, "10.0.1.5"},
        {{entry("tun0", "10.9.0.2"), entry("wlan0", "10.0.2.6")}, "10.0.2.6"},
        {{entry("eth2", "10.0.4.5"), entry("enp0s3", "10.0.5.5")}, "10.0.4.5"}, // first in system order
    };
    for (const auto& [entries, chosen] : rows)
        EXPECT_EQ(chooseLanAddress(entries), QString::fromLatin1(chosen)) << chosen;
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
