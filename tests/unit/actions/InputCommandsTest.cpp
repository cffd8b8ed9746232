// What a phone may ask of the pointer and the keyboard, as one table per request kind. Catches
// refusals let through to the desktop (unknown keys, fractions, mixed shapes), motion and
// scrolling left unbounded, and modifiers lost or doubled.
#include "actions/InputCommands.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace hb::actions;

namespace {

using Kind = PointerCommand::Kind;

/// Parses each body with `parse`: the expected command, or a refusal with an error when nothing.
template <typename Command, typename Parse>
void check(Parse parse, std::initializer_list<std::pair<const char*, std::optional<Command>>> cases) {
    for (const auto& [body, expected] : cases) {
        const auto parsed = parse(QJsonDocument::fromJson(body).object());
        if (expected)
            EXPECT_TRUE(std::holds_alternative<Command>(parsed) && std::get<Command>(parsed) == *expected)
                << body;
        else
            EXPECT_FALSE(std::holds_alternative<Command>(parsed) || std::get<QString>(parsed).isEmpty())
                << body;
    }
}

TEST(InputCommands, PointerAndKeyRequests) {
    check<PointerCommand>(
        parsePointer, {
                          {R"({"dx": 3, "dy": -4})", PointerCommand{Kind::Move, 3, -4}},
                          {R"({"dx": 5})", PointerCommand{Kind::Move, 5, 0}},
                          {R"({"dx": 99999, "dy": -1e300})", PointerCommand{Kind::Move, 2000, -2000}},
                          {R"({"button": "right", "action": "down"})",
                           PointerCommand{Kind::Button, 0, 0, PointerButton::Right, ButtonAction::Down}},
                          {R"({"button": "middle"})",
                           PointerCommand{Kind::Button, 0, 0, PointerButton::Middle, ButtonAction::Click}},
                          {R"({"scroll": {"dx": -1000, "dy": 2}})", PointerCommand{Kind::Scroll, -50, 2}},
                          {R"({})", std::nullopt},
                          {R"({"dx": 1.5, "dy": 0})", std::nullopt},
                          {R"({"dx": "3", "dy": 0})", std::nullopt},
                          {R"({"dx": 1, "button": "left"})", std::nullopt},
                          {R"({"button": "LEFT", "action": "click"})", std::nullopt},
                          {R"({"button": "left", "action": "hold"})", std::nullopt},
                          {R"({"scroll": {"dy": null}})", std::nullopt},
                      });
    check<KeyCommand>(parseKey, {
                                    {R"({"key": "Escape"})", KeyCommand{0xff1b, {}}},
                                    {R"({"key": "F12", "modifiers": ["ctrl", "shift", "ctrl"]})",
                                     KeyCommand{0xffc9, {0xffe3, 0xffe1}}},
                                    {R"({"key": "AudioVolumeUp", "modifiers": ["super"]})",
                                     KeyCommand{0x1008ff13, {0xffeb}}},
                                    {R"({"key": "escape"})", std::nullopt},
                                    {R"({"key": "XF86PowerOff"})", std::nullopt},
                                    {R"({"key": "Enter", "modifiers": ["hyper"]})", std::nullopt},
                                    {R"({"key": "Enter", "modifiers": "ctrl"})", std::nullopt},
                                });
}

} // namespace
