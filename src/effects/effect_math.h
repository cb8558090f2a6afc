#pragma once
// The little vector and quaternion math the effect system needs to place its components.
// Matrices follow the project convention: 16 floats stored row by row, points are row
// vectors (p' = p x M), translation in elements 12..14, and A x B applies A first.
// Effects keep their own math so that the module depends on nothing but base.

#include <array>
#include <cmath>

#include "base/types.h"

namespace kestrune::effects {

struct Vec3 {
    f32 x = 0.0f;
    f32 y = 0.0f;
    f32 z = 0.0f;

    friend constexpr Vec3 operator+(Vec3 a, Vec3 b) noexcept { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    friend constexpr Vec3 operator*(Vec3 v, f32 s) noexcept { return {v.x * s, v.y * s, v.z * s}; }
    friend bool operator==(const Vec3&, const Vec3&) = default;
};

// x, y, z, w; the identity by default.
struct Quat {
    f32 x = 0.0f;
    f32 y = 0.0f;
    f32 z = 0.0f;
    f32 w = 1.0f;

    friend bool operator==(const Quat&, const Quat&) = default;
};

using Matrix4 = std::array<f32, 16>;

// A linear part given by the images of the unit x, y and z axes (the first three rows
// of the row-vector matrix) followed by a translation (the fourth row).
struct Affine {
    std::array<Vec3, 3> axes{Vec3{1.0f, 0.0f, 0.0f}, Vec3{0.0f, 1.0f, 0.0f}, Vec3{0.0f, 0.0f, 1.0f}};
    Vec3 translation{};
};

// q = a x b rotates by b first, then by a.
constexpr Quat hamiltonProduct(Quat a, Quat b) noexcept {
    return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
            a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,
            a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

// Rotations about one axis, built from the half angle. A zero angle skips the trigonometry;
// sin(0) and cos(0) are exact, so the result is the same.
inline Quat rotationAboutX(f32 radians) noexcept {
    if (radians == 0.0f) return {};
    return {std::sin(radians * 0.5f), 0.0f, 0.0f, std::cos(radians * 0.5f)};
}
inline Quat rotationAboutY(f32 radians) noexcept {
    if (radians == 0.0f) return {};
    return {0.0f, std::sin(radians * 0.5f), 0.0f, std::cos(radians * 0.5f)};
}
inline Quat rotationAboutZ(f32 radians) noexcept {
    if (radians == 0.0f) return {};
    return {0.0f, 0.0f, std::sin(radians * 0.5f), std::cos(radians * 0.5f)};
}

// Squared length in double precision: squaring a large finite f32 component must not
// overflow to infinity and so slip past a degeneracy check.
constexpr f64 squaredLength(Quat q) noexcept {
    const f64 x = q.x, y = q.y, z = q.z, w = q.w;
    return x * x + y * y + z * z + w * w;
}

// The caller guarantees a squared length well above zero.
inline Quat normalized(Quat q) noexcept {
    const f64 inverseLength = 1.0 / std::sqrt(squaredLength(q));
    return {static_cast<f32>(q.x * inverseLength), static_cast<f32>(q.y * inverseLength),
            static_cast<f32>(q.z * inverseLength), static_cast<f32>(q.w * inverseLength)};
}

// Rows of the row-vector rotation matrix of a unit quaternion (the transpose of the
// column-vector form).
constexpr std::array<Vec3, 3> rotationAxes(Quat q) noexcept {
    const f32 xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
    const f32 xy = q.x * q.y, xz = q.x * q.z, yz = q.y * q.z;
    const f32 wx = q.w * q.x, wy = q.w * q.y, wz = q.w * q.z;
    return {Vec3{1.0f - 2.0f * (yy + zz), 2.0f * (xy + wz), 2.0f * (xz - wy)},
            Vec3{2.0f * (xy - wz), 1.0f - 2.0f * (xx + zz), 2.0f * (yz + wx)},
            Vec3{2.0f * (xz + wy), 2.0f * (yz - wx), 1.0f - 2.0f * (xx + yy)}};
}

// Scale, then rotate (unit quaternion), then translate.
constexpr Affine scaleRotateTranslate(Vec3 scale, Quat unitRotation, Vec3 translation) noexcept {
    const auto rows = rotationAxes(unitRotation);
    return {{rows[0] * scale.x, rows[1] * scale.y, rows[2] * scale.z}, translation};
}

// The linear part applied to a direction given as a row vector.
constexpr Vec3 transformDirection(const Affine& m, Vec3 v) noexcept {
    return m.axes[0] * v.x + m.axes[1] * v.y + m.axes[2] * v.z;
}

constexpr Vec3 transformPoint(const Affine& m, Vec3 p) noexcept {
    return transformDirection(m, p) + m.translation;
}

// first x second: applies `first`, then `second`.
constexpr Affine compose(const Affine& first, const Affine& second) noexcept {
    return {{transformDirection(second, first.axes[0]), transformDirection(second, first.axes[1]),
             transformDirection(second, first.axes[2])},
            transformPoint(second, first.translation)};
}

constexpr Matrix4 toMatrix4(const Affine& m) noexcept {
    const auto& [x, y, z] = m.axes;
    const Vec3& t = m.translation;
    return {x.x, x.y, x.z, 0.0f,
            y.x, y.y, y.z, 0.0f,
            z.x, z.y, z.z, 0.0f,
            t.x, t.y, t.z, 1.0f};
}

}  // namespace kestrune::effects
