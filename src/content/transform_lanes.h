#pragma once
// Rotation arithmetic written once for every lane type: f32 in the scalar definitions, one
// or more vector registers in the kernels. Each function performs the same IEEE operations
// in the same order whatever the lane type, so the kernels give the scalar results bit for
// bit (the library is compiled without floating-point contraction, so no product and sum
// become one fused operation behind our back).
//
// A vector lane type V provides kCount, construction from one f32 (every lane), load and
// store of kCount floats, + - * / & ^, squareRoot, minimum (as std::min), the comparisons
// greater, less and lessEqual (all-ones lanes where true), select(mask, a, b) and
// allSet(mask). A kernel set K provides K::Lanes, loadRotations (the rotations of kCount
// consecutive transforms, one lane each) and storeRotations.
//
// Everything here has internal linkage: the AVX2 kernels include this header under their
// own target, and no copy compiled for one processor may stand in for another's.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <span>

#include "base/types.h"
#include "content/model.h"
#include "content/transform_math.h"

namespace kestrune::content {
namespace {

// ---- Section: Constants ----

constexpr f64 kDegenerateQuaternionLengthSquared = 1e-20;
// Up to this squared length the scale comes from the single-precision sum of squares, far
// below where that sum overflows; longer quaternions are scaled in double precision.
constexpr f64 kLargeQuaternionLengthSquared = 1e30;
constexpr f32 kNlerpDotThreshold = 0.9995f;  // above it slerp's sin(theta) loses precision
constexpr f32 kMinSlerpSine = 1e-8f;
constexpr f32 kHalfPi = std::numbers::pi_v<f32> / 2.0f;
constexpr f32 kAcosSplit = 0.5f;  // above it acos(d) = 2 asin(sqrt((1 - d) / 2))

// The single-precision sum of four squares is within a relative 3e-7 of the exact one (and
// 1e-44 absolute where squares underflow), so inside these bounds a lane is certainly
// neither degenerate nor large; the vector kernels decide only the rest lane by lane in
// double precision.
constexpr f32 kSurelyNormalLengthSquaredMin = 2e-20f;
constexpr f32 kSurelyNormalLengthSquaredMax = 5e29f;
static_assert(kSurelyNormalLengthSquaredMin > 1.01 * kDegenerateQuaternionLengthSquared);
static_assert(kSurelyNormalLengthSquaredMax < 0.99 * kLargeQuaternionLengthSquared);

constexpr std::array<f32, 4> kIdentityRotation = {0.0f, 0.0f, 0.0f, 1.0f};

// Taylor coefficients of sin on [0, pi/2], x^3 to x^13: the next term is below 7e-10.
constexpr std::array<f32, 6> kSinCoefficients = [] {
    std::array<f32, 6> c{};
    f64 term = 1.0;
    for (int k = 1; k <= 6; ++k) {
        term /= -(2.0 * k) * (2.0 * k + 1.0);
        c[static_cast<std::size_t>(k - 1)] = static_cast<f32>(term);
    }
    return c;
}();

// Taylor coefficients of asin on [0, 1/2], z^3 to z^21: c_k = c_{k-1} (2k-1)^2 / (2k (2k+1)).
// The next term is below 1e-9.
constexpr std::array<f32, 10> kAsinCoefficients = [] {
    std::array<f32, 10> c{};
    f64 term = 1.0;
    for (int k = 1; k <= 10; ++k) {
        term *= (2.0 * k - 1.0) * (2.0 * k - 1.0) / ((2.0 * k) * (2.0 * k + 1.0));
        c[static_cast<std::size_t>(k - 1)] = static_cast<f32>(term);
    }
    return c;
}();

// ---- Section: Single-precision trigonometry ----

// The scalar spelling of the few vector operations acosUnit needs.
inline bool greater(f32 a, f32 b) noexcept { return a > b; }
inline f32 select(bool condition, f32 ifTrue, f32 ifFalse) noexcept { return condition ? ifTrue : ifFalse; }
inline f32 squareRoot(f32 x) noexcept { return std::sqrt(x); }

// x + x^3 (c[0] + c[1] x^2 + c[2] x^4 + ...), by Horner's rule from the last coefficient.
template <class V, std::size_t N>
V oddSeries(V x, const std::array<f32, N>& c) noexcept {
    const V x2 = x * x;
    V p(c[N - 1]);
    for (std::size_t k = N - 1; k-- > 0;) p = p * x2 + V(c[k]);
    return x + (x * x2) * p;
}

// sin(x) for x in [0, pi/2].
template <class V>
V sinHalfQuadrant(V x) noexcept {
    return oddSeries(x, kSinCoefficients);
}

// asin(z) for z in [0, 1/2].
template <class V>
V asinHalf(V z) noexcept {
    return oddSeries(z, kAsinCoefficients);
}

// acos(d) for d in [0, 1].
template <class V>
V acosUnit(V d) noexcept {
    const auto far = greater(d, V(kAcosSplit));
    const V p = asinHalf(select(far, squareRoot((V(1.0f) - d) * V(0.5f)), d));
    return select(far, V(2.0f) * p, V(kHalfPi) - p);
}

// The sum of squares in single precision, in the order the scalar normalisation adds.
template <class V>
V lengthSquaredSingle(V x, V y, V z, V w) noexcept {
    return x * x + y * y + z * z + w * w;
}

// ---- Section: Paired lanes ----

// Two registers of lanes worked side by side. The halves are independent, so every step of
// a polynomial or a division has a second chain to overlap with, where one register's
// chain would leave the processor waiting on each step's latency.
template <class V>
struct Paired {
    static constexpr std::size_t kCount = 2 * V::kCount;
    V low, high;

    Paired() = default;
    Paired(V lowHalf, V highHalf) noexcept : low(lowHalf), high(highHalf) {}
    explicit Paired(f32 value) noexcept : low(value), high(value) {}
    static Paired load(const f32* p) noexcept { return {V::load(p), V::load(p + V::kCount)}; }
    void store(f32* p) const noexcept {
        low.store(p);
        high.store(p + V::kCount);
    }
};

template <class V> Paired<V> operator+(Paired<V> a, Paired<V> b) noexcept { return {a.low + b.low, a.high + b.high}; }
template <class V> Paired<V> operator-(Paired<V> a, Paired<V> b) noexcept { return {a.low - b.low, a.high - b.high}; }
template <class V> Paired<V> operator*(Paired<V> a, Paired<V> b) noexcept { return {a.low * b.low, a.high * b.high}; }
template <class V> Paired<V> operator/(Paired<V> a, Paired<V> b) noexcept { return {a.low / b.low, a.high / b.high}; }
template <class V> Paired<V> operator&(Paired<V> a, Paired<V> b) noexcept { return {a.low & b.low, a.high & b.high}; }
template <class V> Paired<V> operator^(Paired<V> a, Paired<V> b) noexcept { return {a.low ^ b.low, a.high ^ b.high}; }
template <class V> Paired<V> squareRoot(Paired<V> a) noexcept { return {squareRoot(a.low), squareRoot(a.high)}; }
template <class V> Paired<V> minimum(Paired<V> a, Paired<V> b) noexcept {
    return {minimum(a.low, b.low), minimum(a.high, b.high)};
}
template <class V> Paired<V> greater(Paired<V> a, Paired<V> b) noexcept {
    return {greater(a.low, b.low), greater(a.high, b.high)};
}
template <class V> Paired<V> less(Paired<V> a, Paired<V> b) noexcept {
    return {less(a.low, b.low), less(a.high, b.high)};
}
template <class V> Paired<V> lessEqual(Paired<V> a, Paired<V> b) noexcept {
    return {lessEqual(a.low, b.low), lessEqual(a.high, b.high)};
}
template <class V> Paired<V> select(Paired<V> mask, Paired<V> ifSet, Paired<V> ifClear) noexcept {
    return {select(mask.low, ifSet.low, ifClear.low), select(mask.high, ifSet.high, ifClear.high)};
}
template <class V> bool allSet(Paired<V> mask) noexcept { return allSet(mask.low & mask.high); }

// ---- Section: Lanes of quaternions ----

template <class V>
struct QuaternionLanes {
    V x, y, z, w;
};

// normalizeQuaternion lane by lane, for the rare group with a lane outside the sure range.
template <class V>
[[gnu::noinline]] QuaternionLanes<V> normalizeEachQuaternion(const QuaternionLanes<V>& q) noexcept {
    std::array<std::array<f32, V::kCount>, 4> lanes;
    q.x.store(lanes[0].data());
    q.y.store(lanes[1].data());
    q.z.store(lanes[2].data());
    q.w.store(lanes[3].data());
    for (std::size_t lane = 0; lane < V::kCount; ++lane) {
        const std::array<f32, 4> n =
            normalizeQuaternion({lanes[0][lane], lanes[1][lane], lanes[2][lane], lanes[3][lane]});
        for (std::size_t c = 0; c < 4; ++c) lanes[c][lane] = n[c];
    }
    return {V::load(lanes[0].data()), V::load(lanes[1].data()), V::load(lanes[2].data()), V::load(lanes[3].data())};
}

// normalizeQuaternion of every lane. Inlined, so that the square roots and divisions of
// neighbouring calls overlap.
template <class V>
[[gnu::always_inline]] inline QuaternionLanes<V> normalizeQuaternions(const QuaternionLanes<V>& q) noexcept {
    const V lengthSquared = lengthSquaredSingle(q.x, q.y, q.z, q.w);
    const V surelyNormal = lessEqual(V(kSurelyNormalLengthSquaredMin), lengthSquared) &
                           lessEqual(lengthSquared, V(kSurelyNormalLengthSquaredMax));
    if (!allSet(surelyNormal)) [[unlikely]] {
        return normalizeEachQuaternion(q);
    }
    const V inverseLength = V(1.0f) / squareRoot(lengthSquared);
    return {q.x * inverseLength, q.y * inverseLength, q.z * inverseLength, q.w * inverseLength};
}

// a + (b - a) t for `count` floats, a multiple of the lane count.
template <class V>
void lerpFloats(const f32* a, const f32* b, V t, f32* out, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; i += V::kCount) {
        const V from = V::load(a + i);
        (from + (V::load(b + i) - from) * t).store(out + i);
    }
}

// ---- Section: Interpolation ----

// interpolateTransform's rotation, one lane per transform. Both branches are computed
// where lanes differ, and each lane takes the one the scalar code would.
template <class V>
QuaternionLanes<V> interpolateRotations(const QuaternionLanes<V>& a, const QuaternionLanes<V>& b, V t) noexcept {
    const QuaternionLanes<V> qa = normalizeQuaternions(a);
    QuaternionLanes<V> qb = normalizeQuaternions(b);
    V d = qa.x * qb.x + qa.y * qb.y + qa.z * qb.z + qa.w * qb.w;
    // q and -q are the same rotation: flipping the sign bits takes the shorter way round.
    const V signBit = less(d, V(0.0f)) & V(-0.0f);
    qb = {qb.x ^ signBit, qb.y ^ signBit, qb.z ^ signBit, qb.w ^ signBit};
    d = minimum(d ^ signBit, V(1.0f));

    const V nlerp = greater(d, V(kNlerpDotThreshold));
    V wa(0.0f), wb(0.0f), keepA(0.0f);  // keepA: slerp lanes whose sine vanished keep qa
    if (!allSet(nlerp)) {  // between neighbouring frames every lane is often linear
        const V theta = acosUnit(d);
        const V s = sinHalfQuadrant(theta);
        wa = sinHalfQuadrant((V(1.0f) - t) * theta) / s;
        wb = sinHalfQuadrant(t * theta) / s;
        // s is never negative here: theta lies in [0, pi/2].
        keepA = select(nlerp, V(0.0f), lessEqual(s, V(kMinSlerpSine)));
    }
    const auto blend = [&](V ca, V cb) { return select(nlerp, ca + (cb - ca) * t, ca * wa + cb * wb); };
    const QuaternionLanes<V> r = normalizeQuaternions(
        QuaternionLanes<V>{blend(qa.x, qb.x), blend(qa.y, qb.y), blend(qa.z, qb.z), blend(qa.w, qb.w)});
    return {select(keepA, qa.x, r.x), select(keepA, qa.y, r.y), select(keepA, qa.z, r.z), select(keepA, qa.w, r.w)};
}

// interpolateTransforms over the leading whole groups of K::Lanes::kCount transforms; returns
// how many transforms it wrote. t is already clamped.
template <class K>
std::size_t interpolateGroups(std::span<const Transform> a, std::span<const Transform> b, f32 t,
                              std::span<Transform> out) noexcept {
    using V = typename K::Lanes;
    constexpr std::size_t kWidth = V::kCount;
    constexpr std::size_t kFloatsPerTransform = sizeof(Transform) / sizeof(f32);
    static_assert(sizeof(Transform) == 10 * sizeof(f32) && offsetof(Transform, translation) == 0,
                  "transforms are read and written as runs of floats");
    const V tv(t);
    std::size_t i = 0;
    for (; out.size() - i >= kWidth; i += kWidth) {
        // The rotations are read before anything is written: out may be a or b.
        const QuaternionLanes<V> ra = K::loadRotations(&a[i]);
        const QuaternionLanes<V> rb = K::loadRotations(&b[i]);
        // Translation and scale element by element; the rotations are written over them.
        lerpFloats(a[i].translation.data(), b[i].translation.data(), tv, out[i].translation.data(),
                   kFloatsPerTransform * kWidth);
        K::storeRotations(interpolateRotations(ra, rb, tv), &out[i]);
    }
    return i;
}

// A kernel set of twice K's width, from K's loads and stores.
template <class K>
struct PairedGroups {
    using Lanes = Paired<typename K::Lanes>;
    static constexpr std::size_t kHalf = K::Lanes::kCount;

    static QuaternionLanes<Lanes> loadRotations(const Transform* t) noexcept {
        const auto low = K::loadRotations(t);
        const auto high = K::loadRotations(t + kHalf);
        return {{low.x, high.x}, {low.y, high.y}, {low.z, high.z}, {low.w, high.w}};
    }

    static void storeRotations(const QuaternionLanes<Lanes>& q, Transform* t) noexcept {
        K::storeRotations({q.x.low, q.y.low, q.z.low, q.w.low}, t);
        K::storeRotations({q.x.high, q.y.high, q.z.high, q.w.high}, t + kHalf);
    }
};

// ---- Section: Matrices ----

// composeGlobalMatrices with a kernel's multiplyInto(first, second, out), which may write
// over its first operand.
template <class Multiply>
void composeInPlace(std::span<const Node> nodes, std::span<const u32> order, std::span<Matrix4> matrices,
                    Multiply multiplyInto) noexcept {
    for (u32 node : order) {
        const i32 parent = nodes[node].parent;
        if (parent >= 0) {
            f32* local = matrices[node].m.data();
            multiplyInto(local, matrices[static_cast<std::size_t>(parent)].m.data(), local);
        }
    }
}

// The nine rotation terms of transformToMatrix before scaling, row by row, in its order of
// operations.
template <class V>
std::array<V, 9> rotationTerms(const QuaternionLanes<V>& q) noexcept {
    const V one(1.0f), two(2.0f);
    const V x2 = two * q.x, y2 = two * q.y, z2 = two * q.z;
    const V xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z;
    const V xy = x2 * q.y, xz = x2 * q.z, yz = y2 * q.z;
    const V zw = z2 * q.w, yw = y2 * q.w, xw = x2 * q.w;
    return {one - two * (yy + zz), xy + zw, xz - yw,
            xy - zw, one - two * (xx + zz), yz + xw,
            xz + yw, yz - xw, one - two * (xx + yy)};
}

}  // namespace
}  // namespace kestrune::content
