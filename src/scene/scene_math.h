#pragma once
// The small vector arithmetic of the duel scene: positions in metres, y up, yaw as
// atan2(x, z) about the vertical axis. Conversions to the renderer's and the effect
// system's own vector types live here too, so each module keeps its math to itself.

#include <cmath>
#include <numbers>

#include "base/types.h"
#include "effects/effect_math.h"
#include "render/render_types.h"

namespace kestrune::scene {

inline constexpr f32 kPi = std::numbers::pi_v<f32>;
inline constexpr f64 kTwoPi = 2.0 * std::numbers::pi;

struct Vec3 {
    f32 x = 0.0f;
    f32 y = 0.0f;
    f32 z = 0.0f;

    friend constexpr Vec3 operator+(Vec3 a, Vec3 b) noexcept { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    friend constexpr Vec3 operator-(Vec3 a, Vec3 b) noexcept { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
    friend constexpr Vec3 operator*(Vec3 v, f32 s) noexcept { return {v.x * s, v.y * s, v.z * s}; }
    friend bool operator==(const Vec3&, const Vec3&) = default;
};

constexpr f32 squaredLength(Vec3 v) noexcept { return v.x * v.x + v.y * v.y + v.z * v.z; }
constexpr f32 squaredDistance(Vec3 a, Vec3 b) noexcept { return squaredLength(a - b); }

// a + (b - a) x t
constexpr Vec3 lerp(Vec3 a, Vec3 b, f32 t) noexcept { return a + (b - a) * t; }

// from + d x t, where d is the shorter way round from `from` to `to`.
inline f32 lerpYaw(f32 fromRadians, f32 toRadians, f32 t) noexcept {
    const f64 difference = std::remainder(static_cast<f64>(toRadians) - fromRadians, kTwoPi);
    return static_cast<f32>(fromRadians + difference * t);
}

constexpr render::Vec3 toRender(Vec3 v) noexcept { return {v.x, v.y, v.z}; }
constexpr effects::Vec3 toEffects(Vec3 v) noexcept { return {v.x, v.y, v.z}; }

// A turn by `yawRadians` about the vertical axis (yaw 0 keeps +z forward), then a move to
// `translation`, as a row-vector matrix.
inline content::Matrix4 yawTranslation(f32 yawRadians, Vec3 translation) noexcept {
    const f32 c = std::cos(yawRadians);
    const f32 s = std::sin(yawRadians);
    return content::Matrix4{{c, 0.0f, -s, 0.0f,  //
                             0.0f, 1.0f, 0.0f, 0.0f,  //
                             s, 0.0f, c, 0.0f,  //
                             translation.x, translation.y, translation.z, 1.0f}};
}

}  // namespace kestrune::scene
