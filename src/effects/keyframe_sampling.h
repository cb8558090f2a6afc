#pragma once
// Sampling of one keyframe track at a normalised time. Pure and allocation-free; the effect
// system calls it once per live component and frame.

#include <array>
#include <span>

#include "base/types.h"
#include "effects/effect_catalogue.h"

namespace kestrune::effects {

struct KeyframeSample {
    std::array<f32, 4> colour{};  // R, G, B, A, each 0..1
    std::array<f32, 4> a{};
    std::array<f32, 4> b{};
};

// The colour channels of a packed key colour (A 24..31, R 16..23, G 8..15, B 0..7) as R, G,
// B, A in 0..1.
std::array<f32, 4> unpackColour(u32 packed) noexcept;

// At or before the first key's time (or with a single key) the first key; past the last key
// the last key; otherwise the linear blend of the first key at or after t and the key before
// it. Keys closer than 1e-6 in time give the later one. Throws std::invalid_argument
// "keyframe track has no keys" for an empty span.
KeyframeSample sampleTrack(std::span<const Keyframe> keys, f32 t);

}  // namespace kestrune::effects
