#include "effects/keyframe_sampling.h"

#include <algorithm>
#include <stdexcept>

namespace kestrune::effects {
namespace {

// Keys nearer than this in normalised time are a step, not a ramp.
constexpr f32 kMinimumKeySpan = 1e-6f;

KeyframeSample sampleOf(const Keyframe& key) noexcept { return {unpackColour(key.colour), key.a, key.b}; }

// Written as a weighted sum rather than a + (b - a) x f so that f = 0 and f = 1 give the keys'
// values exactly.
std::array<f32, 4> blend(const std::array<f32, 4>& from, const std::array<f32, 4>& to, f32 factor) noexcept {
    const f32 keep = 1.0f - factor;
    return {from[0] * keep + to[0] * factor, from[1] * keep + to[1] * factor, from[2] * keep + to[2] * factor,
            from[3] * keep + to[3] * factor};
}

}  // namespace

std::array<f32, 4> unpackColour(u32 packed) noexcept {
    constexpr f32 kChannelMax = 255.0f;
    const auto channel = [packed](unsigned shift) { return static_cast<f32>((packed >> shift) & 0xFFu) / kChannelMax; };
    return {channel(16), channel(8), channel(0), channel(24)};
}

KeyframeSample sampleTrack(std::span<const Keyframe> keys, f32 t) {
    if (keys.empty()) throw std::invalid_argument("keyframe track has no keys");
    if (keys.size() == 1 || t <= keys.front().time) return sampleOf(keys.front());
    for (std::size_t i = 1; i < keys.size(); ++i) {
        const Keyframe& to = keys[i];
        if (to.time < t) continue;
        const Keyframe& from = keys[i - 1];
        const f32 span = to.time - from.time;
        const f32 factor = span > kMinimumKeySpan ? std::clamp((t - from.time) / span, 0.0f, 1.0f) : 1.0f;
        return {blend(unpackColour(from.colour), unpackColour(to.colour), factor), blend(from.a, to.a, factor),
                blend(from.b, to.b, factor)};
    }
    return sampleOf(keys.back());
}

}  // namespace kestrune::effects
