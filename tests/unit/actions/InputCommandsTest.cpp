// What a phone may ask of the pointer and the keyboard: one table of accepted and refused
// requests. Catches refusals let through to the desktop (unknown keys, fractions, mixed
// shapes), motion left unbounded, and modifiers lost or doubled.
#include "actions/InputCommands.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace hb::actions;

namespace {

QJsonObject body(const char* json) {
    return QJsonDocument::fromJson(json).object();
}

using Kind = PointerCommand::Kind;

TEST(InputCommands, PointerRequests) {
    struct Case {
        const char* body;
        std::optional<PointerCommand> expected; ///< nothing: refused
    };
    const Case cases[] = {
        {R"({"dx": 3, "dy": -4})", PointerCommand{Kind::Move, 3, -4}},
        {R"({"dx": 5})", PointerCommand{Kind::Move, 5, 0}},
        {R"({"dx": 99999, "dy": -1e300})", PointerCommand{Kind::Move, 2000, -2000}},
        {R"({"button": "right", "action": "down"})",
         PointerCommand{Kind::Button, 0, 0, PointerButton::Right, ButtonAction::Down}},
        {R"({"button": "middle"})",
         PointerCommand{Kind::Button, 0, 0, PointerButton::Middle, ButtonAction::Click}},
        {R"({"scroll": {"dy": 2}})", PointerCommand{Kind::Scroll, 0, 2}},
        {R"({"scroll": {"dx": -1000, "dy": 0}})", PointerCommand{Kind::Scroll, -50, 0}},
        {R"({})", std::nullopt},
        {R"({"dx": 1.5, "dy": 0})", std::nullopt},
        {R"({"dx": "3", "dy": 0})", std::nullopt},
        {R"({"dx": 1, "button": "left"})", std::nullopt},
        {R"({"button": "LEFT", "action": "click"})", std::nullopt},
        {R"({"button": "left", "action": "hold"})", std::nullopt},
        {R"({"scroll": 3})", std::nullopt},
        {R"({"scroll": {"dy": null}})", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto parsed = parsePointer(body(c.body));
        if (c.expected)
            EXPECT_EQ(std::get_if<PointerCommand>(&parsed) ? *std::get_if<PointerCommand>(&parsed)
                                                           : PointerCommand{},
                      *c.expected)
                << c.body;
        else
            EXPECT_FALSE(std::get<QString>(parsed).isEmpty()) << c.body;
    }
}

TEST(InputCommands, KeyRequests) {
    struct Case {
        const char* body;
        std::optional<KeyCommand> expected;
    };
    const Case cases[] = {
        {R"({"key": "Escape"})", KeyCommand{0xff1b, {}}},
        {R"({"key": "F12", "modifiers": ["ctrl", "shift", "ctrl"]})", KeyCommand{0xffc9, {0xffe3, 0xffe1}}},
        {R"({"key": "Tab", "modifiers": ["alt"]})", KeyCommand{0xff09, {0xffe9}}},
        {R"({"key": "AudioVolumeUp", "modifiers": []})", KeyCommand{0x1008ff13, {}}},
        {R"({"key": "a"})", std::nullopt},
        {R"({"key": "escape"})", std::nullopt},
        {R"({"key": "XF86PowerOff"})", std::nullopt},
        {R"({"key": "Enter", "modifiers": ["hyper"]})", std::nullopt},
        {R"({"key": "Enter", "modifiers": "ctrl"})", std::nullopt},
        {R"({})", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto parsed = parseKey(body(c.body));
        if (c.expected)
            EXPECT_EQ(std::get_if<KeyCommand>(&parsed) ? *std::get_if<KeyCommand>(&parsed) : KeyCommand{},
                      *c.expected)
                << c.body;
        else
            EXPECT_FALSE(std::get<QString>(parsed).isEmpty()) << c.body;
    }
}

} // namespace
