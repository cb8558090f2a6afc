#include "scene/move_input.h"

#include <algorithm>
#include <cmath>

#include "net/protocol.h"
#include "scene/content_scene.h"

namespace kestrune::scene {
namespace {

constexpr u32 kKeyForward = virtualKeyOf('W');
constexpr u32 kKeyLeft = virtualKeyOf('A');
constexpr u32 kKeyBack = virtualKeyOf('S');
constexpr u32 kKeyRight = virtualKeyOf('D');
constexpr f64 kSectorRadians = kTwoPi / kStickDirections;
// The dead zone has already turned rest into exactly zero; this only keeps atan2 defined.
constexpr f32 kMinStickLength = 1e-6f;

i16 moveComponent(f64 direction, i32 speedFactor) noexcept {
    return static_cast<i16>(std::lround(std::clamp(direction, -1.0, 1.0) * static_cast<f64>(speedFactor)));
}

// The stick's sector: the one it is in, unless it is still near the last one.
i32 stickSector(f64 yawRadians, i32 lastSector) noexcept {
    if (lastSector >= 0 &&
        std::abs(std::remainder(yawRadians - lastSector * kSectorRadians, kTwoPi)) <=
            kStickSectorKeepFraction * kSectorRadians) {
        return lastSector;
    }
    const i32 nearest = static_cast<i32>(std::lround(yawRadians / kSectorRadians));
    return (nearest % kStickDirections + kStickDirections) % kStickDirections;
}

}  // namespace

WantedMove wantedMove(const InputState& input, StickMemory& stick) noexcept {
    const auto held = [&input](u32 key) { return input.keyDown[key] ? 1.0 : 0.0; };
    const bool shift = input.keyDown[kVirtualKeyShift];
    f64 x = held(kKeyRight) - held(kKeyLeft);
    f64 z = held(kKeyForward) - held(kKeyBack);
    WantedMove wanted;
    const f32 stickLength = std::hypot(input.analogMoveX, input.analogMoveZ);
    if (x != 0.0 || z != 0.0) {
        // Keys win over the stick while they are held; the stick starts afresh after them.
        stick = {};
        const f64 length = std::hypot(x, z);
        x /= length;
        z /= length;
        wanted.walking = shift;
    } else if (stickLength > kMinStickLength) {
        const f64 yawRadians = std::atan2(static_cast<f64>(input.analogMoveX), static_cast<f64>(input.analogMoveZ));
        stick.sector = stickSector(yawRadians, stick.sector);
        stick.running = stickLength >= (stick.running ? kStickWalkBelow : kStickRunFrom);
        x = std::sin(stick.sector * kSectorRadians);
        z = std::cos(stick.sector * kSectorRadians);
        wanted.walking = shift || !stick.running;
    } else {
        stick = {};
        return wanted;
    }
    const i32 factor = wanted.walking ? net::kWalkSpeedFactor : net::kRunSpeedFactor;
    wanted.moveX = moveComponent(x, factor);
    wanted.moveZ = moveComponent(z, factor);
    // The server's reading of the command: its components normalised, its length as the factor.
    const f64 sent = std::hypot(static_cast<f64>(wanted.moveX), static_cast<f64>(wanted.moveZ));
    wanted.hasDirection = true;
    wanted.directionX = static_cast<f32>(wanted.moveX / sent);
    wanted.directionZ = static_cast<f32>(wanted.moveZ / sent);
    wanted.speedFactor = std::min(net::kRunSpeedFactor, static_cast<i32>(std::lround(sent)));
    return wanted;
}

}  // namespace kestrune::scene
