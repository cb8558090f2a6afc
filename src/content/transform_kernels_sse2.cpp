// Span kernels with SSE2, which every x86-64 processor has: four transforms per register.
// They perform the scalar definitions' IEEE operations in the same order (SSE2 has no
// fused multiply-add), so both give identical bits.
#include <emmintrin.h>

#include "content/transform_kernels.h"
#include "content/transform_lanes.h"

namespace kestrune::content {
namespace {

// Four floats, lane i from transform i.
struct Lanes4 {
    static constexpr std::size_t kCount = 4;
    __m128 v;

    Lanes4() = default;
    Lanes4(__m128 value) noexcept : v(value) {}
    explicit Lanes4(f32 value) noexcept : v(_mm_set1_ps(value)) {}
    static Lanes4 load(const f32* p) noexcept { return _mm_loadu_ps(p); }
    void store(f32* p) const noexcept { _mm_storeu_ps(p, v); }
};

inline Lanes4 operator+(Lanes4 a, Lanes4 b) noexcept { return _mm_add_ps(a.v, b.v); }
inline Lanes4 operator-(Lanes4 a, Lanes4 b) noexcept { return _mm_sub_ps(a.v, b.v); }
inline Lanes4 operator*(Lanes4 a, Lanes4 b) noexcept { return _mm_mul_ps(a.v, b.v); }
inline Lanes4 operator/(Lanes4 a, Lanes4 b) noexcept { return _mm_div_ps(a.v, b.v); }
inline Lanes4 operator&(Lanes4 a, Lanes4 b) noexcept { return _mm_and_ps(a.v, b.v); }
inline Lanes4 operator^(Lanes4 a, Lanes4 b) noexcept { return _mm_xor_ps(a.v, b.v); }
inline Lanes4 squareRoot(Lanes4 a) noexcept { return _mm_sqrt_ps(a.v); }
// minps returns its second operand when either is NaN; std::min(a, b) returns a.
inline Lanes4 minimum(Lanes4 a, Lanes4 b) noexcept { return _mm_min_ps(b.v, a.v); }
inline Lanes4 greater(Lanes4 a, Lanes4 b) noexcept { return _mm_cmpgt_ps(a.v, b.v); }
inline Lanes4 less(Lanes4 a, Lanes4 b) noexcept { return _mm_cmplt_ps(a.v, b.v); }
inline Lanes4 lessEqual(Lanes4 a, Lanes4 b) noexcept { return _mm_cmple_ps(a.v, b.v); }
inline Lanes4 select(Lanes4 mask, Lanes4 ifSet, Lanes4 ifClear) noexcept {
    return _mm_or_ps(_mm_and_ps(mask.v, ifSet.v), _mm_andnot_ps(mask.v, ifClear.v));
}
inline bool allSet(Lanes4 mask) noexcept { return _mm_movemask_ps(mask.v) == 0xF; }

// Four transforms per step.
struct Sse2 {
    using Lanes = Lanes4;

    static QuaternionLanes<Lanes4> loadRotations(const Transform* t) noexcept {
        __m128 x = _mm_loadu_ps(t[0].rotation.data()), y = _mm_loadu_ps(t[1].rotation.data());
        __m128 z = _mm_loadu_ps(t[2].rotation.data()), w = _mm_loadu_ps(t[3].rotation.data());
        _MM_TRANSPOSE4_PS(x, y, z, w);
        return {x, y, z, w};
    }

    static void storeRotations(const QuaternionLanes<Lanes4>& q, Transform* t) noexcept {
        __m128 r0 = q.x.v, r1 = q.y.v, r2 = q.z.v, r3 = q.w.v;
        _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
        _mm_storeu_ps(t[0].rotation.data(), r0);
        _mm_storeu_ps(t[1].rotation.data(), r1);
        _mm_storeu_ps(t[2].rotation.data(), r2);
        _mm_storeu_ps(t[3].rotation.data(), r3);
    }
};

// Eight transforms per step: two independent registers overlap their latencies.
using Sse2Pair = PairedGroups<Sse2>;

}  // namespace

namespace sse2 {

void interpolateTransforms(std::span<const Transform> a, std::span<const Transform> b, f32 t,
                           std::span<Transform> out) noexcept {
    std::size_t done = interpolateGroups<Sse2Pair>(a, b, t, out);
    done += interpolateGroups<Sse2>(a.subspan(done), b.subspan(done), t, out.subspan(done));
    for (std::size_t i = done; i < out.size(); ++i) {
        out[i] = interpolateTransform(a[i], b[i], t);
    }
}

void transformsToMatrices(std::span<const Transform> in, std::span<Matrix4> out) noexcept {
    const std::size_t count = out.size();
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const std::array<Lanes4, 9> terms = rotationTerms(normalizeQuaternions(Sse2::loadRotations(&in[i])));
        // Columns to rows: rowVectors[r][k] is row r of transform k's matrix, before scaling.
        const __m128 zero = _mm_setzero_ps();
        __m128 rowVectors[3][4];
        for (std::size_t r = 0; r < 3; ++r) {
            __m128 c0 = terms[3 * r].v, c1 = terms[3 * r + 1].v, c2 = terms[3 * r + 2].v, c3 = zero;
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

// Each result row is the sum over k of first[row][k] x second's row k, added in order of
// k, exactly as the element-wise definition sums.
void multiplyMatrices(const f32* first, const f32* second, f32* out) noexcept {
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

void composeGlobalMatrices(std::span<const Node> nodes, std::span<const u32> order,
                           std::span<Matrix4> matrices) noexcept {
    composeInPlace(nodes, order, matrices, [](const f32* first, const f32* second, f32* out) {
        multiplyMatrices(first, second, out);
    });
}

}  // namespace sse2
}  // namespace kestrune::content
