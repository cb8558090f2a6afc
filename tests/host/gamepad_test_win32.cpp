#include "app/gamepad_win32.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <optional>
#include <string>

#include "app/log.h"
#include "render/test_support.h"

namespace kestrune::app {
namespace {

TEST(XInput, PadStatesReadAsTheLayoutsButtonsStickAndTrigger) {
    using enum GamepadButton;
    const struct {
        const char* name;
        XINPUT_GAMEPAD pad;  // buttons, left and right trigger, left stick x and y, right stick x and y
        u16 buttons;
        f32 stickX, stickY, trigger;
    } cases[] = {
        {"A", {XINPUT_GAMEPAD_A, 0, 0, 0, 0, 0, 0}, buttonBit(south), 0, 0, 0},
        {"X", {XINPUT_GAMEPAD_X, 0, 0, 0, 0, 0, 0}, buttonBit(west), 0, 0, 0},
        {"Y", {XINPUT_GAMEPAD_Y, 0, 0, 0, 0, 0, 0}, buttonBit(north), 0, 0, 0},
        {"shoulders", {XINPUT_GAMEPAD_LEFT_SHOULDER | XINPUT_GAMEPAD_RIGHT_SHOULDER, 0, 0, 0, 0, 0, 0},
         static_cast<u16>(buttonBit(leftShoulder) | buttonBit(rightShoulder)), 0, 0, 0},
        {"Back and Start", {XINPUT_GAMEPAD_BACK | XINPUT_GAMEPAD_START, 0, 0, 0, 0, 0, 0},
         static_cast<u16>(buttonBit(back) | buttonBit(start)), 0, 0, 0},
        {"d-pad", {XINPUT_GAMEPAD_DPAD_UP | XINPUT_GAMEPAD_DPAD_DOWN | XINPUT_GAMEPAD_DPAD_LEFT | XINPUT_GAMEPAD_DPAD_RIGHT,
                   0, 0, 0, 0, 0, 0},
         static_cast<u16>(buttonBit(dpadUp) | buttonBit(dpadDown) | buttonBit(dpadLeft) | buttonBit(dpadRight)), 0, 0, 0},
        {"outside the layout: B, stick clicks, right trigger and stick",
         {XINPUT_GAMEPAD_B | XINPUT_GAMEPAD_LEFT_THUMB | XINPUT_GAMEPAD_RIGHT_THUMB, 0, 255, 0, 0, 32767, -32768}, 0, 0, 0, 0},
        {"left stick up is forward, full left saturates", {0, 0, 0, -32768, 32767, 0, 0}, 0, -1.0f, 1.0f, 0},
        {"left stick half right and down", {0, 0, 0, 16384, -16384, 0, 0}, 0, 0.5f, -0.5f, 0},
        {"left trigger", {0, 64, 0, 0, 0, 0, 0}, 0, 0, 0, 64.0f / 255.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const GamepadSnapshot snapshot = snapshotFromXInput(c.pad);
        EXPECT_EQ(snapshot.buttons, c.buttons);
        EXPECT_NEAR(snapshot.leftStickX, c.stickX, 1e-4f);
        EXPECT_NEAR(snapshot.leftStickY, c.stickY, 1e-4f);
        EXPECT_FLOAT_EQ(snapshot.leftTrigger, c.trigger);
    }
}

// Four user slots, each empty or holding a pad, read through the XInputGetState signature.
constexpr XINPUT_GAMEPAD kJumpingForward{XINPUT_GAMEPAD_A, 0, 0, 0, 32767, 0, 0};
std::array<std::optional<XINPUT_GAMEPAD>, XUSER_MAX_COUNT> slots;
u32 reads = 0;

DWORD WINAPI fakeGetState(DWORD userIndex, XINPUT_STATE* state) {
    ++reads;
    if (userIndex >= XUSER_MAX_COUNT || !slots[userIndex]) return ERROR_DEVICE_NOT_CONNECTED;
    state->Gamepad = *slots[userIndex];
    return ERROR_SUCCESS;
}

TEST(XInput, EmptySlotsAreProbedOnceASecondAndAnUnpluggedPadLetsGoOfAll) {
    const std::filesystem::path logPath = render::testing::scratchDirectory() / "xinput.log";
    auto log = std::make_unique<Log>(logPath);
    XInputGamepads pads;
    pads.useStateFunction(fakeGetState);
    InputState input;
    const struct {
        const char* name;
        void (*change)();
        u64 nowMs;
        u32 reads;
        i32 playing;
        bool jumping;
    } frames[] = {
        {"nothing connected: all four slots probed", [] {}, 0, 4, -1, false},
        {"a pad arrives in slot 3, before the next probe", [] { slots[2] = kJumpingForward; }, 999, 0, -1, false},
        {"the probe finds it", [] {}, 1000, 3, 2, true},
        {"unplugged with no other: it lets go, and all slots are probed at once", [] { slots[2].reset(); }, 1001, 5, -1, false},
        {"a pad in slot 2 waits for the next probe", [] { slots[1] = XINPUT_GAMEPAD{}; }, 2000, 0, -1, false},
        {"which finds it", [] {}, 2001, 2, 1, false},
        {"slot 3 is not read while slot 2 plays", [] { slots[2] = kJumpingForward; }, 2002, 1, 1, false},
        {"slot 2 unplugged: at once slot 3 plays", [] { slots[1].reset(); }, 2003, 4, 2, true},
    };
    for (const auto& f : frames) {
        SCOPED_TRACE(f.name);
        f.change();
        reads = 0;
        input.beginFrame();
        pads.poll(input, log.get(), f.nowMs);
        EXPECT_EQ(reads, f.reads);
        EXPECT_EQ(pads.playingSlot(), f.playing);
        EXPECT_EQ(input.keyDown[kVirtualKeySpace], f.jumping);
        EXPECT_FLOAT_EQ(input.analogMoveZ, f.jumping ? 1.0f : 0.0f);
        if (f.playing == -1 && f.reads == 5) EXPECT_TRUE(input.released[kVirtualKeySpace]);
    }
    log.reset();
    std::ifstream file(logPath);
    std::string line;
    std::string said;
    while (std::getline(file, line)) said += line.substr(line.find("] ") + 2) + "\n";
    EXPECT_EQ(said,
              "Controller taken: XInput controller 3\nController lost: XInput controller 3\n"
              "Controller taken: XInput controller 2\nController lost: XInput controller 2\n"
              "Controller taken: XInput controller 3\n");
}

}  // namespace
}  // namespace kestrune::app
