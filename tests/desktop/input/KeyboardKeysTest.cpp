// Pure rules: which keysyms a text becomes, how it is split over spare keycodes, which desktop
// XDG_CURRENT_DESKTOP names, and what pactl output means.
#include "actions/platform/linux/KeyboardKeys.h"
#include "actions/Gestures.h"
#include "actions/platform/linux/GestureMap.h"
#include "actions/platform/linux/VolumeParse.h"

#include <gtest/gtest.h>

using namespace hb::actions;

namespace {

TEST(KeysymsForText, MapsCharactersToTheirKeysyms) {
    struct Row {
        const char* name;
        QString text;
        std::vector<Keysym> expected;
    };
    const Row rows[] = {
        {"ascii and Latin-1 are their own keysyms", QStringLiteral("aé"), {0x61, 0xE9}},
        {"no-break space is Latin-1", QStringLiteral("\u00A0"), {0xA0}},
        {"euro is Unicode based", QStringLiteral("€"), {0x010020AC}},
        {"astral character is one keysym, not two surrogates", QStringLiteral("😀"), {0x0101F600}},
        {"variation selector is kept", QStringLiteral("\u2B07\uFE0F"), {0x01002B07, 0x0100FE0F}},
        {"line breaks become Return, CRLF once",
         QStringLiteral("a\r\nb\nc\rd"),
         {0x61, keysym::kReturn, 0x62, keysym::kReturn, 0x63, keysym::kReturn, 0x64}},
        {"tab", QStringLiteral("\t"), {keysym::kTab}},
        {"C0, DEL and C1 controls are dropped", QStringLiteral("\u0001\u007F\u0085x"), {0x78}},
        {"lone surrogate types the replacement character",
         QString(QChar(0xD83D)) + QLatin1Char('y'),
         {0x0100FFFD, 0x79}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(keysymsForText(row.text), row.expected) << row.name;
}

TEST(BatchesForSpareKeys, KeepsOrderAndNeverExceedsTheSpareKeycodes) {
    using Batches = std::vector<std::vector<Keysym>>;
    // Keysyms below 100 are on the keyboard; the others need a spare keycode.
    const auto needsSpare = [](Keysym sym) { return sym >= 100; };
    struct Row {
        const char* name;
        std::vector<Keysym> keysyms;
        std::size_t spare;
        Batches expected;
    };
    const Row rows[] = {
        {"nothing to type", {}, 4, {}},
        {"keyboard symbols need no spare keycode", {1, 2, 3}, 0, {{1, 2, 3}}},
        {"a missing symbol without spare keycodes types nothing", {1, 100}, 0, {}},
        {"repeats share a keycode", {100, 100, 101, 100}, 2, {{100, 100, 101, 100}}},
        {"a new symbol past the limit starts a batch",
         {100, 1, 101, 102, 100},
         2,
         {{100, 1, 101}, {102, 100}}},
        {"keyboard symbols do not count", {100, 1, 2, 3, 100}, 1, {{100, 1, 2, 3, 100}}},
        {"one spare keycode", {100, 100, 101}, 1, {{100, 100}, {101}}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(batchesForSpareKeys(row.keysyms, row.spare, needsSpare), row.expected) << row.name;
}

TEST(DesktopFromName, ReadsTheColonSeparatedList) {
    struct Row {
        const char* value;
        Desktop expected;
    };
    const Row rows[] = {
        {"GNOME", Desktop::Gnome},
        {"ubuntu:GNOME", Desktop::Gnome},
        {"GNOME-Classic:GNOME", Desktop::Gnome},
        {"gnome", Desktop::Gnome},
        {"KDE", Desktop::Kde},
        {"XFCE", Desktop::Other},
        {"X-Cinnamon", Desktop::Other},
        {"", Desktop::Other},
        {"NOTGNOME", Desktop::Other},
    };
    for (const Row& row : rows)
        EXPECT_EQ(desktopFromName(QString::fromLatin1(row.value)), row.expected) << row.value;
}

TEST(GestureSteps, EveryDesktopLocksThroughLogindAndKnowsOnlyTableNames) {
    for (const Desktop desktop : {Desktop::Gnome, Desktop::Kde, Desktop::Other}) {
        const auto lock = gestureSteps(desktop, QStringLiteral("lock_screen"));
        ASSERT_EQ(lock.size(), 1u);
        EXPECT_EQ(lock[0].kind, GestureStep::Kind::LockSession);
        EXPECT_TRUE(gestureSteps(desktop, QStringLiteral("Lock_screen")).empty());
        // Every gesture the desktop supports ends in a chord or lock, so a failed D-Bus call
        // never leaves a supported gesture without a last resort.
        for (const Gesture& gesture : gestures()) {
            const auto steps = gestureSteps(desktop, gesture.name);
            if (!steps.empty()) {
                EXPECT_NE(steps.back().kind, GestureStep::Kind::DBus) << gesture.name.toStdString();
            }
        }
    }
}

TEST(ParseSinkVolume, TakesTheFirstWholePercentage) {
    struct Row {
        const char* name;
        const char* output;
        int expected;
    };
    const Row rows[] = {
        {"stereo",
         "Volume: front-left: 22938 /  35% / -27.36 dB,   front-right: 22938 /  35% / -27.36 dB\n"
         "        balance 0.00\n",
         35},
        {"first channel wins",
         "Volume: front-left: 65536 / 100% / 0.00 dB,   front-right: 0 /   0% / -inf dB", 100},
        {"mono zero", "Volume: mono: 0 /   0% / -inf dB\n", 0},
        {"above 100 is reported as is", "Volume: front-left: 98304 / 150% / 10.57 dB", 150},
        {"fraction", "Volume: front-left: 1 / 4.5% / 0 dB", -1},
        {"sign", "Volume: front-left: 1 / +7% / 0 dB", -1},
        {"bare percent sign", "Volume: front-left: 1 / % / 0 dB", -1},
        {"no percentage", "Volume: front-left: 65536", -1},
        {"overflow", "Volume: front-left: 1 / 99999999999% / 0 dB", -1},
        {"empty", "", -1},
        {"error text", "Failed to get sink volume: No such entity 50%", -1},
        {"translated output", "Lautstärke: front-left: 22938 /  35% / -27.36 dB", -1},
    };
    for (const Row& row : rows)
        EXPECT_EQ(parseSinkVolume(QString::fromUtf8(row.output)), row.expected) << row.name;
}

TEST(ParseSinkMute, IsTrueOnlyForMuteYes) {
    struct Row {
        const char* output;
        bool expected;
    };
    const Row rows[] = {{"Mute: yes\n", true},
                        {"  Mute: yes  ", true},
                        {"Mute: no\n", false},
                        {"Mute: Yes", false},
                        {"Mute: yes please", false},
                        {"Stumm: ja", false},
                        {"", false}};
    for (const Row& row : rows)
        EXPECT_EQ(parseSinkMute(QString::fromUtf8(row.output)), row.expected) << row.output;
}

} // namespace
