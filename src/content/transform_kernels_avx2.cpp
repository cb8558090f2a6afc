// Span kernels with AVX2, for processors that have it (the caller checks): eight transforms
// per register. They perform the scalar definitions' IEEE operations in the same order and
// use no fused multiply-add, so both give identical bits.
//
// Everything defined between the target pragmas may contain AVX instructions; what the
// headers above them declare is compiled for every x86-64 processor, so they include all
// that transform_lanes.h does. transform_lanes.h comes after the pragma so that its templates
// are compiled for AVX2 here, and its internal linkage keeps these copies out of every other
// file.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <span>

#include "content/transform_kernels.h"
#include "content/transform_math.h"

// GCC and Clang spell "compile what follows for AVX2" differently.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

#include "content/transform_lanes.h"

namespace kestrune::content {
namespace {

// Eight floats, lane i from transform i.
struct Lanes8 {
    static constexpr std::size_t kCount = 8;
    __m256 v;

    Lanes8() = default;
    Lanes8(__m256 value) noexcept : v(value) {}
    explicit Lanes8(f32 value) noexcept : v(_mm256_set1_ps(value)) {}
    static Lanes8 load(const f32* p) noexcept { return _mm256_loadu_ps(p); }
    void store(f32* p) const noexcept { _mm256_storeu_ps(p, v); }
};

inline Lanes8 operator+(Lanes8 a, Lanes8 b) noexcept { return _mm256_add_ps(a.v, b.v); }
inline Lanes8 operator-(Lanes8 a, Lanes8 b) noexcept { return _mm256_sub_ps(a.v, b.v); }
inline Lanes8 operator*(Lanes8 a, Lanes8 b) noexcept { return _mm256_mul_ps(a.v, b.v); }
inline Lanes8 operator/(Lanes8 a, Lanes8 b) noexcept { return _mm256_div_ps(a.v, b.v); }
inline Lanes8 operator&(Lanes8 a, Lanes8 b) noexcept { return _mm256_and_ps(a.v, b.v); }
inline Lanes8 operator^(Lanes8 a, Lanes8 b) noexcept { return _mm256_xor_ps(a.v, b.v); }
inline Lanes8 squareRoot(Lanes8 a) noexcept { return _mm256_sqrt_ps(a.v); }
// vminps returns its second operand when either is NaN; std::min(a, b) returns a.
inline Lanes8 minimum(Lanes8 a, Lanes8 b) noexcept { return _mm256_min_ps(b.v, a.v); }
inline Lanes8 greater(Lanes8 a, Lanes8 b) noexcept { return _mm256_cmp_ps(a.v, b.v, _CMP_GT_OQ); }
inline Lanes8 less(Lanes8 a, Lanes8 b) noexcept { return _mm256_cmp_ps(a.v, b.v, _CMP_LT_OQ); }
inline Lanes8 lessEqual(Lanes8 a, Lanes8 b) noexcept { return _mm256_cmp_ps(a.v, b.v, _CMP_LE_OQ); }
inline Lanes8 select(Lanes8 mask, Lanes8 ifSet, Lanes8 ifClear) noexcept {
    return _mm256_blendv_ps(ifClear.v, ifSet.v, mask.v);
}
inline bool allSet(Lanes8 mask) noexcept { return _mm256_movemask_ps(mask.v) == 0xFF; }

// Transposes four 4x4 blocks held as rows, in each 128-bit half separately.
inline void transposeHalves(__m256& r0, __m256& r1, __m256& r2, __m256& r3) noexcept {
    const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpacklo_ps(r2, r3);
    const __m256 t2 = _mm256_unpackhi_ps(r0, r1), t3 = _mm256_unpackhi_ps(r2, r3);
    r0 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0));
    r1 = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2));
    r2 = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0));
    r3 = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

// Four consecutive floats of transforms k and k + 4 in the two halves of one register.
inline __m256 loadPair(const f32* low, const f32* high) noexcept {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(low)), _mm_loadu_ps(high), 1);
}

// Four floats at the same offset of eight transforms, one register per float: column c
// holds float c of transforms 0..7 in lanes 0..7.
struct Columns {
    __m256 c[4];
};

inline Columns loadColumns(const Transform* t, std::size_t offsetFloats) noexcept {
    const auto at = [&](std::size_t k) { return t[k].translation.data() + offsetFloats; };
    Columns r = {{loadPair(at(0), at(4)), loadPair(at(1), at(5)), loadPair(at(2), at(6)), loadPair(at(3), at(7))}};
    transposeHalves(r.c[0], r.c[1], r.c[2], r.c[3]);
    return r;
}

constexpr std::size_t kRotationOffsetFloats = 3;
constexpr std::size_t kScaleOffsetFloats = 7;
static_assert(offsetof(Transform, rotation) == kRotationOffsetFloats * sizeof(f32) &&
              offsetof(Transform, scale) == kScaleOffsetFloats * sizeof(f32));

// Eight transforms per step.
struct Avx2 {
    using Lanes = Lanes8;

    static QuaternionLanes<Lanes8> loadRotations(const Transform* t) noexcept {
        const Columns r = loadColumns(t, kRotationOffsetFloats);
        return {r.c[0], r.c[1], r.c[2], r.c[3]};
    }

    static void storeRotations(const QuaternionLanes<Lanes8>& q, Transform* t) noexcept {
        __m256 r0 = q.x.v, r1 = q.y.v, r2 = q.z.v, r3 = q.w.v;
        transposeHalves(r0, r1, r2, r3);
        const __m256 rows[4] = {r0, r1, r2, r3};
        for (std::size_t k = 0; k < 4; ++k) {
            _mm_storeu_ps(t[k].rotation.data(), _mm256_castps256_ps128(rows[k]));
            _mm_storeu_ps(t[k + 4].rotation.data(), _mm256_extractf128_ps(rows[k], 1));
        }
    }
};

// Sixteen and thirty-two transforms per step: independent registers keep the multipliers
// busy while each waits on its own polynomials, square roots and divisions.
using Avx2Pair = PairedGroups<Avx2>;
using Avx2Quad = PairedGroups<Avx2Pair>;

// The matrices of eight transforms from their rotation terms. Scaling happens while the
// terms are still one register per element; each matrix is then written as two 256-bit halves.
inline void writeEightMatrices(const std::array<Lanes8, 9>& terms, const Transform* in, Matrix4* out) noexcept {
    // Floats 6..9 are the rotation's w and the scale: columns 1..3 are sx, sy, sz.
    const Columns scale = loadColumns(in, kScaleOffsetFloats - 1);
    // rows[r][k]: row r of transform k in the low half and of transform k + 4 in the high half.
    __m256 rows[4][4];
    for (std::size_t r = 0; r < 3; ++r) {
        const __m256 s = scale.c[r + 1];
        __m256 c0 = _mm256_mul_ps(terms[3 * r].v, s), c1 = _mm256_mul_ps(terms[3 * r + 1].v, s);
        __m256 c2 = _mm256_mul_ps(terms[3 * r + 2].v, s), c3 = _mm256_setzero_ps();
        transposeHalves(c0, c1, c2, c3);
        rows[r][0] = c0;
        rows[r][1] = c1;
        rows[r][2] = c2;
        rows[r][3] = c3;
    }
    // The translation row: element 15 is 1 instead of the rotation's x that follows it.
    const __m256 firstThree = _mm256_castsi256_ps(_mm256_set_epi32(0, -1, -1, -1, 0, -1, -1, -1));
    const __m256 lastOne = _mm256_set_ps(1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f);
    for (std::size_t k = 0; k < 4; ++k) {
        const __m256 translation = loadPair(in[k].translation.data(), in[k + 4].translation.data());
        rows[3][k] = _mm256_or_ps(_mm256_and_ps(translation, firstThree), lastOne);
    }
    constexpr int kLowHalves = 0x20;
    constexpr int kHighHalves = 0x31;
    for (std::size_t k = 0; k < 4; ++k) {
        f32* low = out[k].m.data();
        f32* high = out[k + 4].m.data();
        _mm256_storeu_ps(low, _mm256_permute2f128_ps(rows[0][k], rows[1][k], kLowHalves));
        _mm256_storeu_ps(low + 8, _mm256_permute2f128_ps(rows[2][k], rows[3][k], kLowHalves));
        _mm256_storeu_ps(high, _mm256_permute2f128_ps(rows[0][k], rows[1][k], kHighHalves));
        _mm256_storeu_ps(high + 8, _mm256_permute2f128_ps(rows[2][k], rows[3][k], kHighHalves));
    }
}

// out = first x second with two rows per register; out may be first or second. Each row
// sums first[row][k] x second's row k in order of k, as the SSE2 version does.
inline void multiplyInto(const f32* first, const f32* second, f32* out) noexcept {
    const __m256 s0 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(second));
    const __m256 s1 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(second + 4));
    const __m256 s2 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(second + 8));
    const __m256 s3 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(second + 12));
    __m256 halves[2];
    for (std::size_t h = 0; h < 2; ++h) {
        const __m256 f = _mm256_loadu_ps(first + 8 * h);
        __m256 sum = _mm256_mul_ps(_mm256_permute_ps(f, _MM_SHUFFLE(0, 0, 0, 0)), s0);
        sum = _mm256_add_ps(sum, _mm256_mul_ps(_mm256_permute_ps(f, _MM_SHUFFLE(1, 1, 1, 1)), s1));
        sum = _mm256_add_ps(sum, _mm256_mul_ps(_mm256_permute_ps(f, _MM_SHUFFLE(2, 2, 2, 2)), s2));
        halves[h] = _mm256_add_ps(sum, _mm256_mul_ps(_mm256_permute_ps(f, _MM_SHUFFLE(3, 3, 3, 3)), s3));
    }
    _mm256_storeu_ps(out, halves[0]);
    _mm256_storeu_ps(out + 8, halves[1]);
}

}  // namespace

namespace avx2 {

void interpolateTransforms(std::span<const Transform> a, std::span<const Transform> b, f32 t,
                           std::span<Transform> out) noexcept {
    std::size_t done = interpolateGroups<Avx2Quad>(a, b, t, out);
    done += interpolateGroups<Avx2Pair>(a.subspan(done), b.subspan(done), t, out.subspan(done));
    done += interpolateGroups<Avx2>(a.subspan(done), b.subspan(done), t, out.subspan(done));
    sse2::interpolateTransforms(a.subspan(done), b.subspan(done), t, out.subspan(done));
}

void transformsToMatrices(std::span<const Transform> in, std::span<Matrix4> out) noexcept {
    std::size_t i = 0;
    // Sixteen per step: the square roots and divisions of two registers overlap.
    for (; i + 16 <= out.size(); i += 16) {
        const std::array<Paired<Lanes8>, 9> terms =
            rotationTerms(normalizeQuaternions(Avx2Pair::loadRotations(&in[i])));
        std::array<Lanes8, 9> low, high;
        for (std::size_t k = 0; k < 9; ++k) {
            low[k] = terms[k].low;
            high[k] = terms[k].high;
        }
        writeEightMatrices(low, &in[i], &out[i]);
        writeEightMatrices(high, &in[i + 8], &out[i + 8]);
    }
    for (; i + 8 <= out.size(); i += 8) {
        writeEightMatrices(rotationTerms(normalizeQuaternions(Avx2::loadRotations(&in[i]))), &in[i], &out[i]);
    }
    sse2::transformsToMatrices(in.subspan(i), out.subspan(i));
}

void composeGlobalMatrices(std::span<const Node> nodes, std::span<const u32> order,
                           std::span<Matrix4> matrices) noexcept {
    composeInPlace(nodes, order, matrices, [](const f32* first, const f32* second, f32* out) {
        multiplyInto(first, second, out);
    });
}

}  // namespace avx2
}  // namespace kestrune::content

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
