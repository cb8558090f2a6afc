#include "app/gamepad_win32.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>

#include "host/fake_host.h"

namespace kestrune::app {
namespace {

// Four user slots, each empty or holding a pad, behind XInputGetState's signature.
std::array<std::optional<XINPUT_GAMEPAD>, XUSER_MAX_COUNT> slots;
u32 reads = 0;

DWORD WINAPI fakeGetState(DWORD userIndex, XINPUT_STATE* state) {
    ++reads;
    if (userIndex >= XUSER_MAX_COUNT || !slots[userIndex]) return ERROR_DEVICE_NOT_CONNECTED;
    state->Gamepad = *slots[userIndex];
    return ERROR_SUCCESS;
}

// The virtual keys down, in code order.
std::string keysDown(const InputState& input) {
    std::string down;
    for (u32 key = 0; key < kVirtualKeyCount; ++key) down += input.keyDown[key] ? std::string(1, static_cast<char>(key)) : "";
    return down;
}

TEST(XInput, EachButtonOfTheLayoutTypesItsKey) {
    const std::pair<WORD, const char*> buttons[] = {
        {XINPUT_GAMEPAD_A, " "}, {XINPUT_GAMEPAD_X, "1"}, {XINPUT_GAMEPAD_LEFT_SHOULDER, "2"}, {XINPUT_GAMEPAD_RIGHT_SHOULDER, "3"},
        {XINPUT_GAMEPAD_Y, "4"}, {XINPUT_GAMEPAD_BACK, "\x72"}, {XINPUT_GAMEPAD_START, "\x1b"}, {XINPUT_GAMEPAD_DPAD_UP, "W"},
        {XINPUT_GAMEPAD_DPAD_DOWN, "S"}, {XINPUT_GAMEPAD_DPAD_LEFT, "A"}, {XINPUT_GAMEPAD_DPAD_RIGHT, "D"}, {XINPUT_GAMEPAD_B, ""}};
    for (const auto& [button, keys] : buttons) {
        InputState input;
        GamepadInput().apply(snapshotFromXInput({button, 0, 0, 0, 0, 0, 0}), input);
        EXPECT_EQ(keysDown(input), keys) << button;
    }
}

TEST(XInput, SlotsAreProbedOnceASecondPadsReadInTheLayoutAndUnpluggedOnesLetGo) {
    testing::TestLog log;
    XInputGamepads pads;
    pads.useStateFunction(fakeGetState);
    InputState input;
    constexpr WORD kOutsideTheLayout = XINPUT_GAMEPAD_B | XINPUT_GAMEPAD_LEFT_THUMB | XINPUT_GAMEPAD_RIGHT_THUMB;
    // slot: the one changed this frame, or -1; pad: buttons, triggers, left stick, right stick
    const struct {
        const char* name; i32 slot; std::optional<XINPUT_GAMEPAD> pad; u64 nowMs; u32 reads; i32 playing;
        const char* keys; f32 moveX, moveZ;
    } frames[] = {
        {"nothing: all four slots probed", -1, {}, 0, 4, -1, "", 0, 0},
        {"a pad in slot 3 before the next probe", 2, XINPUT_GAMEPAD{XINPUT_GAMEPAD_A, 255, 0, 0, 32767, 0, 0}, 999, 0, -1, "", 0, 0},
        {"found: A, left trigger, stick up", -1, {}, 1000, 3, 2, "\t ", 0, 1},
        {"B, stick clicks, right trigger and stick do nothing; left stick full left", 2,
         XINPUT_GAMEPAD{kOutsideTheLayout, 0, 255, -32768, 0, 32767, -32768}, 1000, 1, 2, "", -1, 0},
        {"unplugged, no other: all let go, all probed at once", 2, {}, 1001, 5, -1, "", 0, 0},
        {"found in slot 2 at the next probe", 1, XINPUT_GAMEPAD{}, 2001, 2, 1, "", 0, 0},
        {"slot 4 is not read while slot 2 plays", 3, XINPUT_GAMEPAD{XINPUT_GAMEPAD_A, 0, 0, 0, 0, 0, 0}, 2002, 1, 1, "", 0, 0},
        {"slot 2 unplugged: slot 4 plays at once", 1, {}, 2003, 5, 3, " ", 0, 0}};
    for (const auto& f : frames) {
        SCOPED_TRACE(f.name);
        if (f.slot >= 0) slots[f.slot] = f.pad;
        reads = 0;
        input.beginFrame();
        pads.poll(input, log.log.get(), f.nowMs);
        EXPECT_EQ(std::tuple(reads, pads.playingSlot(), keysDown(input)), std::tuple(f.reads, f.playing, f.keys));
        EXPECT_FLOAT_EQ(input.analogMoveX, f.moveX);
        EXPECT_FLOAT_EQ(input.analogMoveZ, f.moveZ);
    }
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{
                  "[INFO] Controller taken: XInput controller 3", "[INFO] Controller lost: XInput controller 3",
                  "[INFO] Controller taken: XInput controller 2", "[INFO] Controller lost: XInput controller 2",
                  "[INFO] Controller taken: XInput controller 4"}));
}

}  // namespace
}  // namespace kestrune::app
