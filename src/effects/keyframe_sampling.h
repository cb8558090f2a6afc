#pragma once
// Sampling of one keyframe track at a normalised time. Pure and allocation-free; the effect
// system calls it once per live component and frame, so it is defined here to be inlined.

#include <algorithm>
#include <array>
#include <span>
#include <stdexcept>

#include "base/types.h"
#include "effects/effect_catalogue.h"

namespace kestrune::effects {

struct KeyframeSample {
    std::array<f32, 4> colour{};  // R, G, B, A, each 0..1
    std::array<f32, 4> a{};
    std::array<f32, 4> b{};
};

namespace detail {

// channel / 255 for every channel value, divided at compile time with the same IEEE rounding
// as at run time, so that the table changes no result and saves eight divisions per sample.
inline constexpr std::array<f32, 256> kChannelFraction = [] {
    std::array<f32, 256> fractions{};
    for (std::size_t i = 0; i < fractions.size(); ++i) fractions[i] = static_cast<f32>(i) / 255.0f;
    return fractions;
}();

// Keys nearer than this in normalised time are a step, not a ramp.
inline constexpr f32 kMinimumKeySpan = 1e-6f;

// Exact at both ends and when both values are equal, so that a value held across two keys
// comes out unchanged.
inline std::array<f32, 4> blend(const std::array<f32, 4>& from, const std::array<f32, 4>& to, f32 factor) noexcept {
    if (factor == 1.0f) return to;
    return {from[0] + (to[0] - from[0]) * factor, from[1] + (to[1] - from[1]) * factor,
            from[2] + (to[2] - from[2]) * factor, from[3] + (to[3] - from[3]) * factor};
}

}  // namespace detail

// The channels of a packed key colour (A 24..31, R 16..23, G 8..15, B 0..7) as R, G, B, A,
// each divided by 255.
inline std::array<f32, 4> unpackColour(u32 packed) noexcept {
    const auto& fraction = detail::kChannelFraction;
    return {fraction[(packed >> 16) & 0xFFu], fraction[(packed >> 8) & 0xFFu], fraction[packed & 0xFFu],
            fraction[packed >> 24]};
}

// At or before the first key's time (or with a single key) the first key; past the last key
// the last key; otherwise the linear blend of the first key at or after t and the key before
// it. Keys at most 1e-6 apart in time give the later one. Throws std::invalid_argument
// "keyframe track has no keys" for an empty span.
inline KeyframeSample sampleTrack(std::span<const Keyframe> keys, f32 t) {
    if (keys.empty()) throw std::invalid_argument("keyframe track has no keys");
    const Keyframe* found = &keys.back();
    if (keys.size() == 1 || t <= keys.front().time) {
        found = &keys.front();
    } else {
        for (std::size_t i = 1; i < keys.size(); ++i) {
            const Keyframe& to = keys[i];
            if (to.time < t) continue;
            const Keyframe& from = keys[i - 1];
            const f32 span = to.time - from.time;
            const f32 factor =
                span > detail::kMinimumKeySpan ? std::clamp((t - from.time) / span, 0.0f, 1.0f) : 1.0f;
            return {detail::blend(unpackColour(from.colour), unpackColour(to.colour), factor),
                    detail::blend(from.a, to.a, factor), detail::blend(from.b, to.b, factor)};
        }
    }
    return {unpackColour(found->colour), found->a, found->b};
}

}  // namespace kestrune::effects
