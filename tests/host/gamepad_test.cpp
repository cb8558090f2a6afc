#include "app/gamepad.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>

namespace kestrune::app {
namespace {

GamepadSnapshot pressing(u16 buttons, f32 trigger = 0.0f) { return {buttons, 0.0f, 0.0f, trigger}; }

std::string keysDown(const InputState& input) {
    std::string down;
    for (u32 key = 0; key < kVirtualKeyCount; ++key) {
        if (input.keyDown[key]) down += key == kVirtualKeySpace ? "space" : key == kVirtualKeyTab ? "tab"
                                      : key == kVirtualKeyEscape ? "escape" : std::string(1, static_cast<char>(key));
    }
    return down;
}

TEST(Gamepad, ButtonsTypeTheLayoutsKeysAsTheController) {
    using enum GamepadButton;
    const struct {
        u16 buttons;
        f32 trigger;
        const char* keys;
    } cases[] = {
        {buttonBit(dpadUp), 0.0f, "W"},        {buttonBit(dpadDown), 0.0f, "S"},
        {buttonBit(dpadLeft), 0.0f, "A"},      {buttonBit(dpadRight), 0.0f, "D"},
        {buttonBit(west), 0.0f, "1"},          {buttonBit(leftShoulder), 0.0f, "2"},
        {buttonBit(rightShoulder), 0.0f, "3"}, {buttonBit(north), 0.0f, "4"},
        {buttonBit(south), 0.0f, "space"},     {0, 1.0f, "tab"},
        {buttonBit(start), 0.0f, "escape"},    {buttonBit(back), 0.0f, "escape"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        InputState input;
        GamepadInput gamepad;
        gamepad.apply(pressing(c.buttons, c.trigger), input);
        EXPECT_EQ(keysDown(input), c.keys);
        for (u32 key = 0; key < kVirtualKeyCount; ++key) {
            ASSERT_EQ(input.pressed[key], input.keyDown[key]) << key;
            ASSERT_EQ(input.heldBy[key], input.keyDown[key] ? static_cast<u8>(InputSource::controller) : 0) << key;
        }
        const std::array<bool, kVirtualKeyCount> wasDown = input.keyDown;
        input.beginFrame();
        gamepad.apply(pressing(c.buttons, c.trigger), input);  // still held: no new press
        gamepad.release(input);
        EXPECT_EQ(keysDown(input), "");
        for (u32 key = 0; key < kVirtualKeyCount; ++key) {
            ASSERT_FALSE(input.pressed[key]) << key;
            ASSERT_EQ(input.released[key], wasDown[key]) << key;
        }
    }
}

TEST(Gamepad, SharedKeysAndTheTriggersThresholdsHoldUntilTheLastLetsGo) {
    const u16 start = buttonBit(GamepadButton::start);
    const u16 back = buttonBit(GamepadButton::back);
    const struct {
        u16 buttons;
        f32 trigger;
        bool escapeDown;
        bool tabDown;
        bool tabPressed;
        bool bothReleased;
    } frames[] = {
        {start, 0.24f, true, false, false, false},       // the trigger below its press point
        {start | back, 0.25f, true, true, true, false},  // pressed at exactly 0.25
        {back, 0.151f, true, true, false, false},        // Back holds Escape alone; the trigger above its release point
        {0, 0.149f, false, false, false, true},          // all let go
        {0, 0.2f, false, false, false, false},           // between the two points a released trigger stays released
    };
    InputState input;
    GamepadInput gamepad;
    for (const auto& f : frames) {
        SCOPED_TRACE(f.trigger);
        input.beginFrame();
        gamepad.apply(pressing(f.buttons, f.trigger), input);
        EXPECT_EQ(input.keyDown[kVirtualKeyEscape], f.escapeDown);
        EXPECT_EQ(input.keyDown[kVirtualKeyTab], f.tabDown);
        EXPECT_EQ(input.pressed[kVirtualKeyTab], f.tabPressed);
        EXPECT_EQ(input.released[kVirtualKeyEscape] && input.released[kVirtualKeyTab], f.bothReleased);
    }
}

TEST(Gamepad, StickHasARadialDeadZoneAndRescalesTheRestInItsOwnDirection) {
    const f32 nan = std::numeric_limits<f32>::quiet_NaN();
    const struct {
        const char* name;
        f32 x, y;
        f32 length;
    } cases[] = {
        {"rest", 0.0f, 0.0f, 0.0f},
        {"on the dead zone's edge", 0.0f, 0.24f, 0.0f},
        {"a diagonal inside it", 0.16f, 0.16f, 0.0f},
        {"just outside it", -0.25f, 0.0f, 0.01f / 0.76f},
        {"a small axis beside a larger one is kept", 0.1f, 0.3f, (std::sqrt(0.1f) - 0.24f) / 0.76f},
        {"half way", 0.0f, -0.62f, 0.5f},
        {"full right", 1.0f, 0.0f, 1.0f},
        {"a square gate's corner", 1.0f, 1.0f, 1.0f},
        {"a broken reading", nan, 0.5f, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InputState input;
        GamepadInput gamepad;
        gamepad.apply({0, c.x, c.y, 0.0f}, input);
        const f32 length = std::hypot(input.analogMoveX, input.analogMoveZ);
        EXPECT_NEAR(length, c.length, 1e-6f);
        if (c.length > 0.0f) {
            EXPECT_NEAR(input.analogMoveX * c.y - input.analogMoveZ * c.x, 0.0f, 1e-6f);  // parallel
            EXPECT_GT(input.analogMoveX * c.x + input.analogMoveZ * c.y, 0.0f);           // same way
        }
        gamepad.release(input);
        EXPECT_EQ(input.analogMoveX, 0.0f);
        EXPECT_EQ(input.analogMoveZ, 0.0f);
    }
}

}  // namespace
}  // namespace kestrune::app
