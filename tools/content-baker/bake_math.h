#pragma once
// Double-precision vectors, quaternions and the few transcendental functions the baker
// needs. The functions use only + - * / and sqrt (exactly rounded by IEEE 754), never the
// C library's sin, cos or atan2, whose last bits differ between library versions: the
// baked bytes then depend on nothing but the code. Angles are radians unless a name says
// degrees. Rotations follow the model format: v' = q v q*, x y z w, and q = a * b applies
// b first.

#include <array>
#include <cstddef>

#include "base/types.h"

namespace kestrune::baker {

inline constexpr f64 kPi = 3.14159265358979323846;
inline constexpr f64 kTwoPi = 2.0 * kPi;

struct Vec3 {
    f64 x = 0.0;
    f64 y = 0.0;
    f64 z = 0.0;

    friend Vec3 operator+(Vec3 a, Vec3 b) noexcept { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
    friend Vec3 operator-(Vec3 a, Vec3 b) noexcept { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
    friend Vec3 operator-(Vec3 a) noexcept { return {-a.x, -a.y, -a.z}; }
    friend Vec3 operator*(Vec3 a, f64 s) noexcept { return {a.x * s, a.y * s, a.z * s}; }
    friend Vec3 operator*(f64 s, Vec3 a) noexcept { return a * s; }
    Vec3& operator+=(Vec3 b) noexcept { return *this = *this + b; }
    friend bool operator==(const Vec3&, const Vec3&) = default;
};

inline f64 dot(Vec3 a, Vec3 b) noexcept { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 cross(Vec3 a, Vec3 b) noexcept {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
f64 length(Vec3 v) noexcept;
// The zero vector stays zero.
Vec3 normalized(Vec3 v) noexcept;
inline Vec3 lerp(Vec3 a, Vec3 b, f64 t) noexcept { return a + (b - a) * t; }

inline f64 lerp(f64 a, f64 b, f64 t) noexcept { return a + (b - a) * t; }
inline f64 clamp01(f64 v) noexcept { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }
inline f64 smoothstep(f64 t) noexcept {
    t = clamp01(t);
    return t * t * (3.0 - 2.0 * t);
}
inline constexpr f64 radians(f64 degrees) noexcept { return degrees * (kPi / 180.0); }

f64 sinRadians(f64 x) noexcept;
f64 cosRadians(f64 x) noexcept;
// Angle of (x, y) from the +x axis, in (-pi, pi]; 0 for the origin.
f64 atan2Radians(f64 y, f64 x) noexcept;
// acos of `c` clamped to [-1, 1].
f64 acosClamped(f64 c) noexcept;

struct Quat {
    f64 x = 0.0;
    f64 y = 0.0;
    f64 z = 0.0;
    f64 w = 1.0;
};

// Hamilton product: the rotation that applies `b`, then `a`.
Quat operator*(Quat a, Quat b) noexcept;
inline Quat conjugate(Quat q) noexcept { return {-q.x, -q.y, -q.z, q.w}; }
Quat normalized(Quat q) noexcept;
Vec3 rotate(Quat q, Vec3 v) noexcept;
// `radians` about the unit `axis`.
Quat axisAngle(Vec3 axis, f64 radians) noexcept;
// The rotation that takes the canonical axes to the orthonormal basis (x, y, z).
Quat quatFromBasis(Vec3 xAxis, Vec3 yAxis, Vec3 zAxis) noexcept;

// Euler angles in degrees, applied about z first, then x, then y (about the parent's axes):
// for a limb that is roll or spread, then swing, then turn about the vertical.
struct Euler {
    f64 x = 0.0;
    f64 y = 0.0;
    f64 z = 0.0;
};
Quat quatFromEuler(const Euler& degrees) noexcept;

// A 32-bit hash of up to three integers: the baker's only source of "randomness", the same
// on every run and machine.
u32 hash32(u32 a, u32 b = 0, u32 c = 0) noexcept;
// A value in [0, 1) from the hash.
inline f64 hashUnit(u32 a, u32 b = 0, u32 c = 0) noexcept {
    return static_cast<f64>(hash32(a, b, c)) * (1.0 / 4294967296.0);
}

}  // namespace kestrune::baker
