// The wanted move from keys and stick: direction, walk or run, the components sent, and how
// often a stick changes them.

#include "scene/move_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <numbers>
#include <string>

#include "scene/content_scene.h"

namespace kestrune::scene {
namespace {

constexpr f64 kDegrees = std::numbers::pi / 180.0;

InputState input(std::initializer_list<char> held, f32 stickX = 0.0f, f32 stickZ = 0.0f) {
    InputState state;
    for (const char key : held) state.keyDown[key == '^' ? kVirtualKeyShift : virtualKeyOf(key)] = true;
    state.analogMoveX = stickX;
    state.analogMoveZ = stickZ;
    return state;
}

InputState stickAt(f64 yawDegrees, f64 length) {
    return input({}, static_cast<f32>(length * std::sin(yawDegrees * kDegrees)),
                 static_cast<f32>(length * std::cos(yawDegrees * kDegrees)));
}

TEST(MoveInput, KeysGiveEightDirectionsAndTheStickAnyInItsSector) {
    const struct {
        const char* name;
        InputState input;
        bool walking;
        i16 moveX, moveZ;  // for the keys; a stick's must point within half a sector of it
    } cases[] = {
        {"W and D run diagonally", input({'W', 'D'}), false, 707, 707},
        {"Shift walks", input({'W', 'D', '^'}), true, 318, 318},
        {"W and S cancel and leave the stick", input({'W', 'S'}, -1.0f, 0.0f), false, -1000, 0},
        {"keys win over the stick", input({'S'}, 1.0f, 0.0f), false, 0, -1000},
        {"the stick held forward runs", stickAt(0, 1.0), false, 0, 1000},
        {"at 0.7 it runs", stickAt(100, 0.7), false, 0, 0},
        {"below 0.7 it walks", stickAt(100, 0.69), true, 0, 0},
        {"a little deflection walks", stickAt(-135, 0.05), true, 0, 0},
        {"Shift walks the stick too", input({'^'}, 0.0f, 1.0f), true, 0, 450},
        {"at 200 degrees", stickAt(200, 0.9), false, 0, 0},
        {"just past a sector's middle", stickAt(2.82, 1.0), false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StickMemory stick;
        const WantedMove wanted = wantedMove(c.input, stick);
        ASSERT_TRUE(wanted.hasDirection);
        EXPECT_EQ(wanted.walking, c.walking);
        const i32 factor = c.walking ? kWalkSpeedFactor : kRunSpeedFactor;
        EXPECT_EQ(wanted.speedFactor, factor);
        const f64 sentLength = std::hypot(static_cast<f64>(wanted.moveX), static_cast<f64>(wanted.moveZ));
        EXPECT_NEAR(sentLength, factor, 0.71);
        // The prediction's direction is the server's reading of the components.
        EXPECT_FLOAT_EQ(wanted.directionX, static_cast<f32>(wanted.moveX / sentLength));
        EXPECT_FLOAT_EQ(wanted.directionZ, static_cast<f32>(wanted.moveZ / sentLength));
        if (c.moveX != 0 || c.moveZ != 0) {
            EXPECT_EQ(wanted.moveX, c.moveX);
            EXPECT_EQ(wanted.moveZ, c.moveZ);
        } else {
            const f64 stickYaw = std::atan2(static_cast<f64>(c.input.analogMoveX), static_cast<f64>(c.input.analogMoveZ));
            const f64 sentYaw = std::atan2(static_cast<f64>(wanted.moveX), static_cast<f64>(wanted.moveZ));
            EXPECT_LE(std::abs(std::remainder(sentYaw - stickYaw, 2 * std::numbers::pi)),
                      std::numbers::pi / kStickDirections + 0.001);
        }
    }
    StickMemory stick;
    EXPECT_FALSE(wantedMove(input({'A', 'D', 'W', 'S'}), stick).hasDirection);
    EXPECT_FALSE(wantedMove(input({}), stick).hasDirection);
}

// Counts the commands a stick path would send: one per change of the components.
u32 commandsAlong(u32 steps, InputState (*at)(u32 step)) {
    StickMemory stick;
    WantedMove last;
    u32 commands = 0;
    for (u32 step = 0; step < steps; ++step) {
        const WantedMove wanted = wantedMove(at(step), stick);
        commands += wanted.moveX != last.moveX || wanted.moveZ != last.moveZ ? 1 : 0;
        last = wanted;
    }
    return commands;
}

TEST(MoveInput, ANoisyHeldStickSendsOneCommandAndASlowSweepOnePerSector) {
    // Ten seconds on a sector boundary, shaking by half a degree, at a length that wobbles
    // between the walk and run thresholds.
    EXPECT_EQ(commandsAlong(600, [](u32 step) {
                  return stickAt(180.0 / kStickDirections + 0.5 * std::sin(step * 1.7), 0.65 + 0.04 * std::sin(step * 2.3));
              }),
              1u);
    // One turn in 12 s: the first command, then one for each sector entered (the last is the
    // first again), far below the server's 8 commands a tick.
    EXPECT_EQ(commandsAlong(720, [](u32 step) { return stickAt(step * 0.5, 1.0); }), 1u + kStickDirections);

    const struct {
        f64 length;
        bool walking;
    } lengths[] = {{0.69, true}, {0.7, false}, {0.6, false}, {0.599, true}, {0.69, true}, {1.0, false}};
    StickMemory stick;
    for (const auto& l : lengths) {
        SCOPED_TRACE(l.length);
        EXPECT_EQ(wantedMove(stickAt(45, l.length), stick).walking, l.walking);
    }
    // Keys and rest forget the stick's choice: its next push starts afresh.
    wantedMove(input({'W'}), stick);
    EXPECT_TRUE(wantedMove(stickAt(45, 0.65), stick).walking);
}

}  // namespace
}  // namespace kestrune::scene
