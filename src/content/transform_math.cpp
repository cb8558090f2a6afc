#include "content/transform_math.h"

#include <emmintrin.h>

#include <algorithm>
#include <cfloat>
#include <cstddef>
#include <cmath>
#include <numbers>

// Index:
//   Section: Constants and polynomials  - single-precision sin and acos, scalar and SSE2
//   Section: Scalar operations          - the reference definitions
//   Section: Four at a time             - SSE2 versions in the same operation order
//
// Every vector routine performs the scalar routine's IEEE operations in the same order
// (x86-64 without FMA contracts nothing), so both give identical bits; the tests hold
// them to that.

namespace kestrune::content {
namespace {

// ---- Section: Constants and polynomials ----

constexpr f64 kDegenerateQuaternionLengthSquared = 1e-20;
constexpr f32 kNlerpDotThreshold = 0.9995f;  // above it slerp's sin(theta) loses precision
constexpr f32 kMinSlerpSine = 1e-8f;
constexpr f32 kAffineTolerance = 1e-5f;
constexpr f64 kSingularDeterminant = 1e-12;
constexpr f32 kHalfPi = std::numbers::pi_v<f32> / 2.0f;
constexpr f32 kAcosSplit = 0.5f;  // above it acos(d) = 2 asin(sqrt((1 - d) / 2))

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

// sin(x) for x in [0, pi/2].
inline f32 sinHalfQuadrant(f32 x) noexcept {
    const f32 x2 = x * x;
    f32 p = kSinCoefficients[5];
    for (std::size_t k = 5; k-- > 0;) p = p * x2 + kSinCoefficients[k];
    return x + (x * x2) * p;
}

// asin(z) for z in [0, 1/2].
inline f32 asinHalf(f32 z) noexcept {
    const f32 z2 = z * z;
    f32 p = kAsinCoefficients[9];
    for (std::size_t k = 9; k-- > 0;) p = p * z2 + kAsinCoefficients[k];
    return z + (z * z2) * p;
}

// acos(d) for d in [0, 1].
inline f32 acosUnit(f32 d) noexcept {
    if (d > kAcosSplit) {
        return 2.0f * asinHalf(std::sqrt((1.0f - d) * 0.5f));
    }
    return kHalfPi - asinHalf(d);
}

inline __m128 sinHalfQuadrant(__m128 x) noexcept {
    const __m128 x2 = _mm_mul_ps(x, x);
    __m128 p = _mm_set1_ps(kSinCoefficients[5]);
    for (std::size_t k = 5; k-- > 0;) p = _mm_add_ps(_mm_mul_ps(p, x2), _mm_set1_ps(kSinCoefficients[k]));
    return _mm_add_ps(x, _mm_mul_ps(_mm_mul_ps(x, x2), p));
}

inline __m128 asinHalf(__m128 z) noexcept {
    const __m128 z2 = _mm_mul_ps(z, z);
    __m128 p = _mm_set1_ps(kAsinCoefficients[9]);
    for (std::size_t k = 9; k-- > 0;) p = _mm_add_ps(_mm_mul_ps(p, z2), _mm_set1_ps(kAsinCoefficients[k]));
    return _mm_add_ps(z, _mm_mul_ps(_mm_mul_ps(z, z2), p));
}

inline __m128 select(__m128 mask, __m128 ifSet, __m128 ifClear) noexcept {
    return _mm_or_ps(_mm_and_ps(mask, ifSet), _mm_andnot_ps(mask, ifClear));
}

inline __m128 acosUnit(__m128 d) noexcept {
    const __m128 far = _mm_cmpgt_ps(d, _mm_set1_ps(kAcosSplit));
    const __m128 halfGap = _mm_sqrt_ps(_mm_mul_ps(_mm_sub_ps(_mm_set1_ps(1.0f), d), _mm_set1_ps(0.5f)));
    const __m128 p = asinHalf(select(far, halfGap, d));
    return select(far, _mm_mul_ps(_mm_set1_ps(2.0f), p), _mm_sub_ps(_mm_set1_ps(kHalfPi), p));
}

}  // namespace

// ---- Section: Scalar operations ----

Matrix4 identityMatrix() noexcept {
    Matrix4 m;
    m[0] = m[5] = m[10] = m[15] = 1.0f;
    return m;
}

std::array<f32, 4> normalizeQuaternion(const std::array<f32, 4>& q) noexcept {
    const f64 x = q[0], y = q[1], z = q[2], w = q[3];
    const f64 lengthSquared = x * x + y * y + z * z + w * w;
    if (!(lengthSquared > kDegenerateQuaternionLengthSquared) || !(lengthSquared <= DBL_MAX)) {
        return kIdentityRotation;
    }
    if (lengthSquared > FLT_MAX) {
        // Only a quaternion longer than 1.8e19 gets here: too long for single precision.
        const f64 inverseLength = 1.0 / std::sqrt(lengthSquared);
        return {static_cast<f32>(x * inverseLength), static_cast<f32>(y * inverseLength),
                static_cast<f32>(z * inverseLength), static_cast<f32>(w * inverseLength)};
    }
    // The length is checked in double precision; scaling a unit-sized quaternion needs no more
    // than single precision, which keeps the divider free for the four-lane version.
    const f32 inverseLength = 1.0f / std::sqrt(static_cast<f32>(lengthSquared));
    return {q[0] * inverseLength, q[1] * inverseLength, q[2] * inverseLength, q[3] * inverseLength};
}

Matrix4 transformToMatrix(const Transform& transform) noexcept {
    const auto [x, y, z, w] = normalizeQuaternion(transform.rotation);
    const auto [sx, sy, sz] = transform.scale;
    const auto [tx, ty, tz] = transform.translation;
    Matrix4 m;
    m[0] = (1.0f - 2.0f * (y * y + z * z)) * sx;
    m[1] = (2.0f * x * y + 2.0f * z * w) * sx;
    m[2] = (2.0f * x * z - 2.0f * y * w) * sx;
    m[3] = 0.0f;
    m[4] = (2.0f * x * y - 2.0f * z * w) * sy;
    m[5] = (1.0f - 2.0f * (x * x + z * z)) * sy;
    m[6] = (2.0f * y * z + 2.0f * x * w) * sy;
    m[7] = 0.0f;
    m[8] = (2.0f * x * z + 2.0f * y * w) * sz;
    m[9] = (2.0f * y * z - 2.0f * x * w) * sz;
    m[10] = (1.0f - 2.0f * (x * x + y * y)) * sz;
    m[11] = 0.0f;
    m[12] = tx;
    m[13] = ty;
    m[14] = tz;
    m[15] = 1.0f;
    return m;
}

// Each result row is the sum over k of first[row][k] x second's row k, added in order of
// k, exactly as the element-wise definition sums.
namespace {

// out = first x second; out may be first or second.
inline void multiplyInto(const f32* first, const f32* second, f32* out) noexcept {
    const __m128 s0 = _mm_loadu_ps(second);
    const __m128 s1 = _mm_loadu_ps(second + 4);
    const __m128 s2 = _mm_loadu_ps(second + 8);
    const __m128 s3 = _mm_loadu_ps(second + 12);
    __m128 rows[4];
    for (std::size_t row = 0; row < 4; ++row) {
        const __m128 f = _mm_loadu_ps(first + 4 * row);
        __m128 sum = _mm_mul_ps(_mm_shuffle_ps(f, f, _MM_SHUFFLE(0, 0, 0, 0)), s0);
        sum = _mm_add_ps(sum, _mm_mul_ps(_mm_shuffle_ps(f, f, _MM_SHUFFLE(1, 1, 1, 1)), s1));
        sum = _mm_add_ps(sum, _mm_mul_ps(_mm_shuffle_ps(f, f, _MM_SHUFFLE(2, 2, 2, 2)), s2));
        rows[row] = _mm_add_ps(sum, _mm_mul_ps(_mm_shuffle_ps(f, f, _MM_SHUFFLE(3, 3, 3, 3)), s3));
    }
    for (std::size_t row = 0; row < 4; ++row) _mm_storeu_ps(out + 4 * row, rows[row]);
}

}  // namespace

Matrix4 multiplyMatrices(const Matrix4& first, const Matrix4& second) noexcept {
    Matrix4 out;
    multiplyInto(first.m.data(), second.m.data(), out.m.data());
    return out;
}

void composeGlobalMatrices(std::span<const Node> nodes, std::span<const u32> order,
                           std::span<Matrix4> matrices) noexcept {
    for (u32 node : order) {
        const i32 parent = nodes[node].parent;
        if (parent >= 0) {
            f32* local = matrices[node].m.data();
            multiplyInto(local, matrices[static_cast<std::size_t>(parent)].m.data(), local);
        }
    }
}

Matrix4 affineInverse(const Matrix4& m) {
    if (std::fabs(m[3]) > kAffineTolerance || std::fabs(m[7]) > kAffineTolerance ||
        std::fabs(m[11]) > kAffineTolerance || std::fabs(m[15] - 1.0f) > kAffineTolerance) {
        throw ContentError("matrix is not affine");
    }
    const f64 a = m[0], b = m[1], c = m[2];
    const f64 d = m[4], e = m[5], f = m[6];
    const f64 g = m[8], h = m[9], i = m[10];
    // Cofactors of the upper-left block; the adjugate is their transpose.
    const f64 c00 = e * i - f * h, c01 = f * g - d * i, c02 = d * h - e * g;
    const f64 c10 = c * h - b * i, c11 = a * i - c * g, c12 = b * g - a * h;
    const f64 c20 = b * f - c * e, c21 = c * d - a * f, c22 = a * e - b * d;
    const f64 determinant = a * c00 + b * c01 + c * c02;
    if (!std::isfinite(determinant) || std::fabs(determinant) <= kSingularDeterminant) {
        throw ContentError("affine matrix is singular");
    }
    const f64 inverseDeterminant = 1.0 / determinant;
    const std::array<f64, 9> inverse = {
        c00 * inverseDeterminant, c10 * inverseDeterminant, c20 * inverseDeterminant,
        c01 * inverseDeterminant, c11 * inverseDeterminant, c21 * inverseDeterminant,
        c02 * inverseDeterminant, c12 * inverseDeterminant, c22 * inverseDeterminant,
    };
    Matrix4 out;
    for (std::size_t row = 0; row < 3; ++row) {
        for (std::size_t column = 0; column < 3; ++column) {
            out[4 * row + column] = static_cast<f32>(inverse[3 * row + column]);
        }
    }
    // The translation row moves the original translation back: -(t x inverse).
    const f64 tx = m[12], ty = m[13], tz = m[14];
    for (std::size_t column = 0; column < 3; ++column) {
        out[12 + column] =
            static_cast<f32>(-(tx * inverse[column] + ty * inverse[3 + column] + tz * inverse[6 + column]));
    }
    out[15] = 1.0f;
    return out;
}

namespace {

inline void lerpTranslationAndScale(const Transform& a, const Transform& b, f32 t, Transform& out) noexcept {
    for (std::size_t i = 0; i < 3; ++i) {
        out.translation[i] = a.translation[i] + (b.translation[i] - a.translation[i]) * t;
        out.scale[i] = a.scale[i] + (b.scale[i] - a.scale[i]) * t;
    }
}

}  // namespace

Transform interpolateTransform(const Transform& a, const Transform& b, f32 t) noexcept {
    t = std::clamp(t, 0.0f, 1.0f);
    Transform out;
    lerpTranslationAndScale(a, b, t, out);

    const std::array<f32, 4> qa = normalizeQuaternion(a.rotation);
    std::array<f32, 4> qb = normalizeQuaternion(b.rotation);
    f32 d = qa[0] * qb[0] + qa[1] * qb[1] + qa[2] * qb[2] + qa[3] * qb[3];
    if (d < 0.0f) {
        // q and -q are the same rotation: take the shorter way round.
        for (f32& c : qb) c = -c;
        d = -d;
    }
    d = std::min(d, 1.0f);

    std::array<f32, 4> r;
    if (d > kNlerpDotThreshold) {
        for (std::size_t i = 0; i < 4; ++i) r[i] = qa[i] + (qb[i] - qa[i]) * t;
    } else {
        const f32 theta = acosUnit(d);
        const f32 s = sinHalfQuadrant(theta);
        if (std::fabs(s) <= kMinSlerpSine) {
            out.rotation = qa;
            return out;
        }
        const f32 wa = sinHalfQuadrant((1.0f - t) * theta) / s;
        const f32 wb = sinHalfQuadrant(t * theta) / s;
        for (std::size_t i = 0; i < 4; ++i) r[i] = qa[i] * wa + qb[i] * wb;
    }
    out.rotation = normalizeQuaternion(r);
    return out;
}

// ---- Section: Four at a time ----

namespace {

// Four quaternions, one component per register, lane i from transform i.
struct QuaternionLanes {
    __m128 x, y, z, w;
};

// Translation and scale of one transform, as lerpTranslationAndScale does them. Each
// 16-byte access also covers one rotation component (x after the translation, w before
// the scale); storeRotations writes the rotation afterwards.
inline void lerpTranslationAndScale(const Transform* a, const Transform* b, __m128 t, Transform* out) noexcept {
    static_assert(offsetof(Transform, rotation) == 12 && offsetof(Transform, scale) == 28);
    const __m128 ta = _mm_loadu_ps(a->translation.data());
    const __m128 sa = _mm_loadu_ps(a->rotation.data() + 3);
    const __m128 tb = _mm_loadu_ps(b->translation.data());
    const __m128 sb = _mm_loadu_ps(b->rotation.data() + 3);
    _mm_storeu_ps(out->translation.data(), _mm_add_ps(ta, _mm_mul_ps(_mm_sub_ps(tb, ta), t)));
    _mm_storeu_ps(out->rotation.data() + 3, _mm_add_ps(sa, _mm_mul_ps(_mm_sub_ps(sb, sa), t)));
}

inline QuaternionLanes loadRotations(const Transform* t) noexcept {
    QuaternionLanes q{_mm_loadu_ps(t[0].rotation.data()), _mm_loadu_ps(t[1].rotation.data()),
                      _mm_loadu_ps(t[2].rotation.data()), _mm_loadu_ps(t[3].rotation.data())};
    _MM_TRANSPOSE4_PS(q.x, q.y, q.z, q.w);
    return q;
}

inline void storeRotations(QuaternionLanes q, Transform* t) noexcept {
    _MM_TRANSPOSE4_PS(q.x, q.y, q.z, q.w);
    _mm_storeu_ps(t[0].rotation.data(), q.x);
    _mm_storeu_ps(t[1].rotation.data(), q.y);
    _mm_storeu_ps(t[2].rotation.data(), q.z);
    _mm_storeu_ps(t[3].rotation.data(), q.w);
}

// normalizeQuaternion for four lanes: the squared length in double precision, two lanes
// per register, the scaling in single precision.
inline QuaternionLanes normalizeQuaternions(const QuaternionLanes& q) noexcept {
    const __m128 in[4] = {q.x, q.y, q.z, q.w};
    __m128d lengthSquared[2];
    for (std::size_t h = 0; h < 2; ++h) {
        __m128d v[4];
        for (std::size_t c = 0; c < 4; ++c) v[c] = _mm_cvtps_pd(h == 0 ? in[c] : _mm_movehl_ps(in[c], in[c]));
        __m128d sum = _mm_add_pd(_mm_mul_pd(v[0], v[0]), _mm_mul_pd(v[1], v[1]));
        sum = _mm_add_pd(sum, _mm_mul_pd(v[2], v[2]));
        lengthSquared[h] = _mm_add_pd(sum, _mm_mul_pd(v[3], v[3]));
    }
    const __m128d tiny = _mm_set1_pd(kDegenerateQuaternionLengthSquared);
    const __m128d largest = _mm_set1_pd(DBL_MAX);
    const __m128d largestSingle = _mm_set1_pd(FLT_MAX);
    const __m128d valid[2] = {
        _mm_and_pd(_mm_cmpgt_pd(lengthSquared[0], tiny), _mm_cmple_pd(lengthSquared[0], largest)),
        _mm_and_pd(_mm_cmpgt_pd(lengthSquared[1], tiny), _mm_cmple_pd(lengthSquared[1], largest)),
    };
    const int tooLong = _mm_movemask_pd(_mm_and_pd(valid[0], _mm_cmpgt_pd(lengthSquared[0], largestSingle))) |
                        _mm_movemask_pd(_mm_and_pd(valid[1], _mm_cmpgt_pd(lengthSquared[1], largestSingle)));
    if (tooLong != 0) [[unlikely]] {
        alignas(16) std::array<f32, 4> lanes[4];
        for (std::size_t c = 0; c < 4; ++c) _mm_store_ps(lanes[c].data(), in[c]);
        alignas(16) std::array<f32, 4> out[4];
        for (std::size_t lane = 0; lane < 4; ++lane) {
            const std::array<f32, 4> n =
                normalizeQuaternion({lanes[0][lane], lanes[1][lane], lanes[2][lane], lanes[3][lane]});
            for (std::size_t c = 0; c < 4; ++c) out[c][lane] = n[c];
        }
        return {_mm_load_ps(out[0].data()), _mm_load_ps(out[1].data()), _mm_load_ps(out[2].data()),
                _mm_load_ps(out[3].data())};
    }
    const __m128 lengthSquaredSingle = _mm_movelh_ps(_mm_cvtpd_ps(lengthSquared[0]), _mm_cvtpd_ps(lengthSquared[1]));
    const __m128 inverseLength = _mm_div_ps(_mm_set1_ps(1.0f), _mm_sqrt_ps(lengthSquaredSingle));
    // Each 64-bit mask is all ones or all zeros: its low halves make the four-lane mask.
    const __m128 mask = _mm_shuffle_ps(_mm_castpd_ps(valid[0]), _mm_castpd_ps(valid[1]), _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 zero = _mm_setzero_ps();
    return {select(mask, _mm_mul_ps(q.x, inverseLength), zero), select(mask, _mm_mul_ps(q.y, inverseLength), zero),
            select(mask, _mm_mul_ps(q.z, inverseLength), zero),
            select(mask, _mm_mul_ps(q.w, inverseLength), _mm_set1_ps(1.0f))};
}

// interpolateTransform's rotation, four lanes per group. Both branches are computed and
// each lane takes the one the scalar code would. The work runs in passes over up to
// kGroupsPerChunk independent groups, so the long polynomial chains of one group overlap
// with those of the next instead of waiting on each other.
constexpr std::size_t kGroupsPerChunk = 4;

struct RotationPass {
    QuaternionLanes qa[kGroupsPerChunk];
    QuaternionLanes qb[kGroupsPerChunk];
    __m128 d[kGroupsPerChunk];
    __m128 wa[kGroupsPerChunk];
    __m128 wb[kGroupsPerChunk];
    __m128 keepA[kGroupsPerChunk];  // slerp lanes whose sine vanished keep qa
};

inline void prepareRotations(const QuaternionLanes& a, const QuaternionLanes& b, RotationPass& pass,
                             std::size_t group) noexcept {
    const QuaternionLanes qa = normalizeQuaternions(a);
    QuaternionLanes qb = normalizeQuaternions(b);
    __m128 d = _mm_add_ps(_mm_mul_ps(qa.x, qb.x), _mm_mul_ps(qa.y, qb.y));
    d = _mm_add_ps(d, _mm_mul_ps(qa.z, qb.z));
    d = _mm_add_ps(d, _mm_mul_ps(qa.w, qb.w));
    const __m128 signBit = _mm_and_ps(_mm_cmplt_ps(d, _mm_setzero_ps()), _mm_set1_ps(-0.0f));
    pass.qa[group] = qa;
    pass.qb[group] = {_mm_xor_ps(qb.x, signBit), _mm_xor_ps(qb.y, signBit), _mm_xor_ps(qb.z, signBit),
                      _mm_xor_ps(qb.w, signBit)};
    pass.d[group] = _mm_min_ps(_mm_xor_ps(d, signBit), _mm_set1_ps(1.0f));
}

inline void slerpWeights(__m128 t, RotationPass& pass, std::size_t group) noexcept {
    if (_mm_movemask_ps(_mm_cmpgt_ps(pass.d[group], _mm_set1_ps(kNlerpDotThreshold))) == 0xF) {
        // Every lane takes the linear branch (typical between neighbouring frames).
        pass.keepA[group] = _mm_setzero_ps();
        return;
    }
    const __m128 theta = acosUnit(pass.d[group]);
    const __m128 s = sinHalfQuadrant(theta);
    pass.wa[group] = _mm_div_ps(sinHalfQuadrant(_mm_mul_ps(_mm_sub_ps(_mm_set1_ps(1.0f), t), theta)), s);
    pass.wb[group] = _mm_div_ps(sinHalfQuadrant(_mm_mul_ps(t, theta)), s);
    const __m128 absS = _mm_andnot_ps(_mm_set1_ps(-0.0f), s);
    pass.keepA[group] = _mm_cmple_ps(absS, _mm_set1_ps(kMinSlerpSine));
}

inline QuaternionLanes blendRotations(__m128 t, const RotationPass& pass, std::size_t group) noexcept {
    const QuaternionLanes& qa = pass.qa[group];
    const QuaternionLanes& qb = pass.qb[group];
    const __m128 nlerp = _mm_cmpgt_ps(pass.d[group], _mm_set1_ps(kNlerpDotThreshold));
    const auto blend = [&](__m128 ca, __m128 cb) {
        const __m128 linear = _mm_add_ps(ca, _mm_mul_ps(_mm_sub_ps(cb, ca), t));
        const __m128 spherical = _mm_add_ps(_mm_mul_ps(ca, pass.wa[group]), _mm_mul_ps(cb, pass.wb[group]));
        return select(nlerp, linear, spherical);
    };
    const QuaternionLanes r =
        normalizeQuaternions({blend(qa.x, qb.x), blend(qa.y, qb.y), blend(qa.z, qb.z), blend(qa.w, qb.w)});
    const __m128 keepA = _mm_andnot_ps(nlerp, pass.keepA[group]);
    return {select(keepA, qa.x, r.x), select(keepA, qa.y, r.y), select(keepA, qa.z, r.z), select(keepA, qa.w, r.w)};
}

}  // namespace

void interpolateTransforms(std::span<const Transform> a, std::span<const Transform> b, f32 t,
                           std::span<Transform> out) noexcept {
    t = std::clamp(t, 0.0f, 1.0f);
    const __m128 tv = _mm_set1_ps(t);
    const std::size_t count = out.size();
    std::size_t i = 0;
    RotationPass pass;
    while (count - i >= 4) {
        const std::size_t groups = std::min(kGroupsPerChunk, (count - i) / 4);
        // Every rotation of the chunk is read before any output is written: out may alias.
        for (std::size_t g = 0; g < groups; ++g) {
            prepareRotations(loadRotations(&a[i + 4 * g]), loadRotations(&b[i + 4 * g]), pass, g);
        }
        for (std::size_t k = 0; k < 4 * groups; ++k) lerpTranslationAndScale(&a[i + k], &b[i + k], tv, &out[i + k]);
        for (std::size_t g = 0; g < groups; ++g) slerpWeights(tv, pass, g);
        for (std::size_t g = 0; g < groups; ++g) storeRotations(blendRotations(tv, pass, g), &out[i + 4 * g]);
        i += 4 * groups;
    }
    for (; i < count; ++i) out[i] = interpolateTransform(a[i], b[i], t);
}

void transformsToMatrices(std::span<const Transform> in, std::span<Matrix4> out) noexcept {
    const std::size_t count = out.size();
    std::size_t i = 0;
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 two = _mm_set1_ps(2.0f);
    for (; i + 4 <= count; i += 4) {
        const QuaternionLanes q = normalizeQuaternions(loadRotations(&in[i]));
        const __m128 x2 = _mm_mul_ps(two, q.x), y2 = _mm_mul_ps(two, q.y), z2 = _mm_mul_ps(two, q.z);
        const __m128 xx = _mm_mul_ps(q.x, q.x), yy = _mm_mul_ps(q.y, q.y), zz = _mm_mul_ps(q.z, q.z);
        const __m128 xy = _mm_mul_ps(x2, q.y), xz = _mm_mul_ps(x2, q.z), yz = _mm_mul_ps(y2, q.z);
        const __m128 zw = _mm_mul_ps(z2, q.w), yw = _mm_mul_ps(y2, q.w), xw = _mm_mul_ps(x2, q.w);
        // The nine rotation terms, in transformToMatrix's order of operations.
        const __m128 rows[9] = {
            _mm_sub_ps(one, _mm_mul_ps(two, _mm_add_ps(yy, zz))), _mm_add_ps(xy, zw), _mm_sub_ps(xz, yw),
            _mm_sub_ps(xy, zw), _mm_sub_ps(one, _mm_mul_ps(two, _mm_add_ps(xx, zz))), _mm_add_ps(yz, xw),
            _mm_add_ps(xz, yw), _mm_sub_ps(yz, xw), _mm_sub_ps(one, _mm_mul_ps(two, _mm_add_ps(xx, yy))),
        };
        // Columns to rows: rowVectors[r][k] is row r of transform k's matrix, before scaling.
        const __m128 zero = _mm_setzero_ps();
        __m128 rowVectors[3][4];
        for (std::size_t r = 0; r < 3; ++r) {
            __m128 c0 = rows[3 * r], c1 = rows[3 * r + 1], c2 = rows[3 * r + 2], c3 = zero;
            _MM_TRANSPOSE4_PS(c0, c1, c2, c3);
            rowVectors[r][0] = c0;
            rowVectors[r][1] = c1;
            rowVectors[r][2] = c2;
            rowVectors[r][3] = c3;
        }
        // Element 3 of each basis row is +0 whatever the scale; element 15 is 1.
        const __m128 firstThree = _mm_castsi128_ps(_mm_set_epi32(0, -1, -1, -1));
        const __m128 lastOne = _mm_set_ps(1.0f, 0.0f, 0.0f, 0.0f);
        for (std::size_t k = 0; k < 4; ++k) {
            const Transform& t = in[i + k];
            f32* m = out[i + k].m.data();
            for (std::size_t r = 0; r < 3; ++r) {
                _mm_storeu_ps(m + 4 * r, _mm_and_ps(_mm_mul_ps(rowVectors[r][k], _mm_set1_ps(t.scale[r])), firstThree));
            }
            _mm_storeu_ps(m + 12, _mm_or_ps(_mm_and_ps(_mm_loadu_ps(t.translation.data()), firstThree), lastOne));
        }
    }
    for (; i < count; ++i) out[i] = transformToMatrix(in[i]);
}

}  // namespace kestrune::content
