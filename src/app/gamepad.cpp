#include "app/gamepad.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kestrune::app {
namespace {

// The left trigger once it counts as held, beside the real buttons.
constexpr u16 kLeftTriggerBit = 1u << kGamepadButtonCount;

struct LayoutKey {
    u32 virtualKey;
    u16 buttons;  // any of them types the key
};

// What a player of action games expects: attacks and jump on the face buttons, the skills on
// the shoulders, targeting on the left trigger, the d-pad as W/A/S/D, Start to leave and
// Back (View) for the network overlay.
constexpr std::array<LayoutKey, 12> kLayout{{
    {virtualKeyOf('W'), buttonBit(GamepadButton::dpadUp)},
    {virtualKeyOf('S'), buttonBit(GamepadButton::dpadDown)},
    {virtualKeyOf('A'), buttonBit(GamepadButton::dpadLeft)},
    {virtualKeyOf('D'), buttonBit(GamepadButton::dpadRight)},
    {virtualKeyOf('1'), buttonBit(GamepadButton::west)},
    {virtualKeyOf('2'), buttonBit(GamepadButton::leftShoulder)},
    {virtualKeyOf('3'), buttonBit(GamepadButton::rightShoulder)},
    {virtualKeyOf('4'), buttonBit(GamepadButton::north)},
    {kVirtualKeySpace, buttonBit(GamepadButton::south)},
    {kVirtualKeyTab, kLeftTriggerBit},
    {kVirtualKeyEscape, buttonBit(GamepadButton::start)},
    {kVirtualKeyF3, buttonBit(GamepadButton::back)},
}};

}  // namespace

AnalogMove stickMove(f32 stickX, f32 stickY) noexcept {
    const f32 length = std::sqrt(stickX * stickX + stickY * stickY);
    if (!(length > kStickDeadZone)) {  // NaN from a broken driver is rest too
        return {};
    }
    // Square gates reach past 1 in the corners.
    const f32 scaled = std::min(1.0f, (length - kStickDeadZone) / (1.0f - kStickDeadZone));
    return {stickX / length * scaled, stickY / length * scaled};
}

void GamepadInput::apply(const GamepadSnapshot& snapshot, InputState& input) noexcept {
    triggerHeld_ = snapshot.leftTrigger >= (triggerHeld_ ? kTriggerReleaseFraction : kTriggerPressFraction);
    const u16 held = static_cast<u16>(snapshot.buttons | (triggerHeld_ ? kLeftTriggerBit : 0));
    for (const LayoutKey& key : kLayout) {
        const bool was = (heldButtons_ & key.buttons) != 0;
        const bool now = (held & key.buttons) != 0;
        if (now && !was) {
            input.keyPressed(key.virtualKey, false, InputSource::controller);
        } else if (was && !now) {
            input.keyReleased(key.virtualKey, InputSource::controller);
        }
    }
    heldButtons_ = held;
    const AnalogMove move = stickMove(snapshot.leftStickX, snapshot.leftStickY);
    input.analogMoveX = move.x;
    input.analogMoveZ = move.z;
}

}  // namespace kestrune::app
