#pragma once
// What the input wants the local fighter to do this fixed step: which way to move, walking
// or running, and the move command's components. The keys W/A/S/D (from any device) give
// eight directions and run unless Shift is held; without them the analog move of a
// controller's stick gives any direction, quantised to kStickDirections with hysteresis so
// that a held, noisy stick keeps one command, and a small deflection walks, a large one runs.
//
// The direction and speed factor returned are those the duel server derives from the sent
// components (the components normalised, min(1000, round(length))), so the prediction and the
// server move the fighter alike. Pure computation over a small caller-owned memory.

#include "base/input_state.h"
#include "base/types.h"

namespace kestrune::scene {

// The stick's direction in sectors of 5.625 degrees; one is kept until the stick leaves it by
// a further quarter sector.
inline constexpr i32 kStickDirections = 64;
inline constexpr f64 kStickSectorKeepFraction = 0.75;  // of a sector, either side of its middle
// Stick lengths (after the dead zone) from which a walk becomes a run, and below which a run
// becomes a walk again.
inline constexpr f32 kStickRunFrom = 0.7f;
inline constexpr f32 kStickWalkBelow = 0.6f;
static_assert(kStickWalkBelow < kStickRunFrom, "walk/run hysteresis");

// What the stick chose last; kept by the scene between fixed steps.
struct StickMemory {
    i32 sector = -1;  // none
    bool running = false;
};

struct WantedMove {
    bool hasDirection = false;
    bool walking = false;
    i16 moveX = 0;  // the move command's components: direction times speed factor
    i16 moveZ = 0;
    f32 directionX = 0.0f;  // (moveX, moveZ) normalised
    f32 directionZ = 0.0f;
    i32 speedFactor = 0;  // min(1000, round(|(moveX, moveZ)|))
};

WantedMove wantedMove(const InputState& input, StickMemory& stick) noexcept;

}  // namespace kestrune::scene
