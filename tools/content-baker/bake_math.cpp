#include "bake_math.h"

#include <cmath>

namespace kestrune::baker {
namespace {

// pi/2 split in two (Cody and Waite): k x kHalfPiHigh is exact for the small k the baker
// meets, so the reduced argument keeps its low bits.
constexpr f64 kHalfPiHigh = 1.57079632673412561417e+00;
constexpr f64 kHalfPiLow = 6.07710050650619224932e-11;
constexpr f64 kTwoOverPi = 0.63661977236758134308;

// Taylor series on [-pi/4, pi/4]; the first omitted terms are below 1e-16.
f64 sinQuarter(f64 r) noexcept {
    const f64 r2 = r * r;
    f64 term = r;
    f64 sum = r;
    for (int k = 1; k <= 8; ++k) {
        term *= -r2 / ((2.0 * k) * (2.0 * k + 1.0));
        sum += term;
    }
    return sum;
}

f64 cosQuarter(f64 r) noexcept {
    const f64 r2 = r * r;
    f64 term = 1.0;
    f64 sum = 1.0;
    for (int k = 1; k <= 9; ++k) {
        term *= -r2 / ((2.0 * k - 1.0) * (2.0 * k));
        sum += term;
    }
    return sum;
}

// sin(x + quadrantShift x pi/2).
f64 sinShifted(f64 x, i64 quadrantShift) noexcept {
    const f64 k = std::floor(x * kTwoOverPi + 0.5);
    const f64 r = (x - k * kHalfPiHigh) - k * kHalfPiLow;
    const i64 quadrant = ((static_cast<i64>(k) + quadrantShift) % 4 + 4) % 4;
    switch (quadrant) {
    case 0: return sinQuarter(r);
    case 1: return cosQuarter(r);
    case 2: return -sinQuarter(r);
    default: return -cosQuarter(r);
    }
}

// atan(t) for t in [0, 1]: two half-angle steps bring t below 0.2, where the series
// converges in a dozen terms.
f64 atanUnit(f64 t) noexcept {
    for (int step = 0; step < 2; ++step) t = t / (1.0 + std::sqrt(1.0 + t * t));
    const f64 t2 = t * t;
    f64 power = t;
    f64 sum = t;
    for (int k = 1; k <= 11; ++k) {
        power *= -t2;
        sum += power / (2.0 * k + 1.0);
    }
    return 4.0 * sum;
}

u32 mix32(u32 x) noexcept {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

}  // namespace

f64 length(Vec3 v) noexcept { return std::sqrt(dot(v, v)); }

Vec3 normalized(Vec3 v) noexcept {
    const f64 l = length(v);
    return l > 0.0 ? v * (1.0 / l) : Vec3{};
}

f64 sinRadians(f64 x) noexcept { return sinShifted(x, 0); }
f64 cosRadians(f64 x) noexcept { return sinShifted(x, 1); }

f64 atan2Radians(f64 y, f64 x) noexcept {
    const f64 ax = std::fabs(x);
    const f64 ay = std::fabs(y);
    if (ax == 0.0 && ay == 0.0) {
        return 0.0;
    }
    f64 angle = ay <= ax ? atanUnit(ay / ax) : kPi / 2.0 - atanUnit(ax / ay);
    if (x < 0.0) {
        angle = kPi - angle;
    }
    return y < 0.0 ? -angle : angle;
}

f64 acosClamped(f64 c) noexcept {
    c = c < -1.0 ? -1.0 : (c > 1.0 ? 1.0 : c);
    return atan2Radians(std::sqrt(1.0 - c * c), c);
}

Quat operator*(Quat a, Quat b) noexcept {
    return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
            a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

Quat normalized(Quat q) noexcept {
    const f64 l = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    if (!(l > 0.0)) {
        return {};
    }
    const f64 s = (q.w < 0.0 ? -1.0 : 1.0) / l;  // w >= 0 keeps the stored sign stable
    return {q.x * s, q.y * s, q.z * s, q.w * s};
}

Vec3 rotate(Quat q, Vec3 v) noexcept {
    const Vec3 u{q.x, q.y, q.z};
    const Vec3 t = cross(u, v) * 2.0;
    return v + t * q.w + cross(u, t);
}

Quat axisAngle(Vec3 axis, f64 radiansValue) noexcept {
    const f64 s = sinRadians(radiansValue * 0.5);
    return {axis.x * s, axis.y * s, axis.z * s, cosRadians(radiansValue * 0.5)};
}

Quat quatFromBasis(Vec3 xAxis, Vec3 yAxis, Vec3 zAxis) noexcept {
    // Column-vector rotation matrix with the basis as its columns (Shepperd's method).
    const f64 m00 = xAxis.x, m10 = xAxis.y, m20 = xAxis.z;
    const f64 m01 = yAxis.x, m11 = yAxis.y, m21 = yAxis.z;
    const f64 m02 = zAxis.x, m12 = zAxis.y, m22 = zAxis.z;
    const f64 trace = m00 + m11 + m22;
    Quat q;
    if (trace > 0.0) {
        const f64 s = std::sqrt(trace + 1.0) * 2.0;
        q = {(m21 - m12) / s, (m02 - m20) / s, (m10 - m01) / s, 0.25 * s};
    } else if (m00 > m11 && m00 > m22) {
        const f64 s = std::sqrt(1.0 + m00 - m11 - m22) * 2.0;
        q = {0.25 * s, (m01 + m10) / s, (m02 + m20) / s, (m21 - m12) / s};
    } else if (m11 > m22) {
        const f64 s = std::sqrt(1.0 + m11 - m00 - m22) * 2.0;
        q = {(m01 + m10) / s, 0.25 * s, (m12 + m21) / s, (m02 - m20) / s};
    } else {
        const f64 s = std::sqrt(1.0 + m22 - m00 - m11) * 2.0;
        q = {(m02 + m20) / s, (m12 + m21) / s, 0.25 * s, (m10 - m01) / s};
    }
    return normalized(q);
}

Quat quatFromEuler(const Euler& degrees) noexcept {
    const Quat qx = axisAngle({1.0, 0.0, 0.0}, radians(degrees.x));
    const Quat qy = axisAngle({0.0, 1.0, 0.0}, radians(degrees.y));
    const Quat qz = axisAngle({0.0, 0.0, 1.0}, radians(degrees.z));
    return qy * (qx * qz);
}

u32 hash32(u32 a, u32 b, u32 c) noexcept {
    return mix32(a ^ mix32(b ^ mix32(c + 0x9E3779B9u)));
}

}  // namespace kestrune::baker
