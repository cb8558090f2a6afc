// Keys against stick, and how often a stick changes the move command. That the prediction moves
// as the server does is checked through a virtual pad in the SDL window host's suite.

#include "scene/move_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <numbers>

namespace kestrune::scene {
namespace {

InputState input(std::initializer_list<char> held, f64 stickYawDegrees = 0.0, f64 stickLength = 0.0) {
    InputState state;
    for (const char key : held) state.keyDown[key == '^' ? kVirtualKeyShift : virtualKeyOf(key)] = true;
    state.analogMoveX = static_cast<f32>(stickLength * std::sin(stickYawDegrees * std::numbers::pi / 180.0));
    state.analogMoveZ = static_cast<f32>(stickLength * std::cos(stickYawDegrees * std::numbers::pi / 180.0));
    return state;
}

TEST(MoveInput, KeysWinAndAStickSendsOneCommandWhileHeldAndOnePerSectorTurned) {
    StickMemory stick;
    const auto move = [&stick](const InputState& state) {
        const WantedMove wanted = wantedMove(state, stick);
        return std::pair(wanted.moveX, wanted.moveZ);
    };
    EXPECT_EQ(move(input({'S'}, 90.0, 1.0)), (std::pair<i16, i16>(0, -1000)));       // keys win
    // Keys that cancel each other leave the stick.
    EXPECT_EQ(move(input({'W', 'S', '^'}, -90.0, 1.0)), (std::pair<i16, i16>(-450, 0)));
    // The commands a stick path sends: one each time the components change.
    const auto commandsAlong = [](u32 steps, InputState (*at)(u32 step)) {
        StickMemory memory;
        WantedMove last;
        u32 commands = 0;
        for (u32 step = 0; step < steps; ++step) {
            const WantedMove wanted = wantedMove(at(step), memory);
            commands += wanted.moveX != last.moveX || wanted.moveZ != last.moveZ ? 1 : 0;
            last = wanted;
        }
        return commands;
    };
    // Ten seconds on a sector boundary, shaking by half a degree, at a length that wobbles
    // between the walk and run thresholds.
    EXPECT_EQ(commandsAlong(600, [](u32 i) {
                  return input({}, 2.8125 + 0.5 * std::sin(i * 1.7), 0.65 + 0.04 * std::sin(i * 2.3));
              }),
              1u);
    // A turn in 12 s: the first command and one per sector entered, far below the server's 8 a tick.
    EXPECT_EQ(commandsAlong(720, [](u32 i) { return input({}, i * 0.5, 1.0); }), 1u + kStickDirections);
    stick = {};
    for (const auto& [length, walking] :
         {std::pair{0.69, true}, {0.7, false}, {0.6, false}, {0.599, true}, {1.0, false}}) {
        EXPECT_EQ(wantedMove(input({}, 90.0, length), stick).walking, walking) << length;
    }
    move(input({'W'}));  // keys make the stick start afresh
    EXPECT_TRUE(wantedMove(input({}, 90.0, 0.65), stick).walking);
}

}  // namespace
}  // namespace kestrune::scene
