#pragma once
// The controller that plays, as the input state sees it: its buttons type the keys of one
// layout (the d-pad W/A/S/D, the face buttons, shoulders and left trigger the action keys,
// Start Escape, Back F3) and its left stick becomes the analog move after a radial dead
// zone. The platform reads the device into a GamepadSnapshot (SDL game controllers in
// gamepad_sdl.cpp, XInput in gamepad_win32.cpp); GamepadInput turns snapshots into key
// transitions of the controller source. Main thread only; nothing allocates.

#include "base/input_state.h"
#include "base/types.h"

namespace kestrune::app {

// The buttons the layout uses, as bit numbers of GamepadSnapshot::buttons. The left trigger
// is not among them: it is analog and becomes a button through its thresholds.
enum class GamepadButton : u8 {
    south,  // A on an Xbox pad, cross on a PlayStation pad
    west,   // X, square
    north,  // Y, triangle
    leftShoulder,
    rightShoulder,
    back,
    start,
    dpadUp,
    dpadDown,
    dpadLeft,
    dpadRight,
};
inline constexpr u32 kGamepadButtonCount = 11;

inline constexpr u16 buttonBit(GamepadButton button) noexcept { return static_cast<u16>(1u << static_cast<u32>(button)); }

// Stick lengths inside this fraction of full deflection are rest; XInput's documented left-stick
// dead zone is 7849 of 32767, which worn sticks still need.
inline constexpr f32 kStickDeadZone = 0.24f;
// The left trigger is held from this fraction of its travel and let go below the lower one, so
// a finger resting near one threshold does not type a stream of presses.
inline constexpr f32 kTriggerPressFraction = 0.25f;
inline constexpr f32 kTriggerReleaseFraction = 0.15f;
static_assert(kTriggerReleaseFraction < kTriggerPressFraction, "trigger hysteresis");

// One read of a controller: buttons held, left stick from -1 to 1 (x right, y up, that is
// forward), left trigger from 0 to 1. A default snapshot is a controller at rest.
struct GamepadSnapshot {
    u16 buttons = 0;
    f32 leftStickX = 0.0f;
    f32 leftStickY = 0.0f;
    f32 leftTrigger = 0.0f;
};

struct AnalogMove {
    f32 x = 0.0f;
    f32 z = 0.0f;
};

// The radial dead zone: rest inside kStickDeadZone, then the remaining travel rescaled to a
// length of 0 to 1 in the stick's own direction.
AnalogMove stickMove(f32 stickX, f32 stickY) noexcept;

class GamepadInput {
public:
    // Presses and releases the keys whose buttons changed since the last snapshot and sets
    // the analog move.
    void apply(const GamepadSnapshot& snapshot, InputState& input) noexcept;
    // The controller is gone: every key it held goes up and the stick is at rest.
    void release(InputState& input) noexcept { apply(GamepadSnapshot{}, input); }

private:
    u16 heldButtons_ = 0;
    bool triggerHeld_ = false;
};

}  // namespace kestrune::app
