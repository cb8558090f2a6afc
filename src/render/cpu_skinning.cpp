#include "render/cpu_skinning.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "render/camera_math.h"

namespace kestrune::render {

namespace {

// Joints are u16, so a limit of 65536 is exact for any larger palette and fits an i32 lane.
constexpr std::size_t kJointValueCount = 65'536;

void checkSizes(std::span<const SkinnedVertex> source, std::span<PrimitiveVertex> out) {
    if (source.size() != out.size()) {
        throw std::invalid_argument("CPU skinning needs one output vertex per source vertex (" +
                                    std::to_string(out.size()) + " for " + std::to_string(source.size()) + ")");
    }
}

// ---- Section: The definition ----

void skinScalar(std::span<const SkinnedVertex> source, std::span<const Matrix4> palette,
                std::span<PrimitiveVertex> out) noexcept {
    for (std::size_t i = 0; i < source.size(); ++i) {
        const SkinnedVertex& vertex = source[i];
        const auto& p = vertex.position;
        const auto& n = vertex.normal;
        Vec3 positionSum{};
        Vec3 normalSum{};
        f32 total = 0.0f;
        for (std::size_t k = 0; k < 4; ++k) {
            const f32 weight = vertex.weights[k];
            const u16 joint = vertex.joints[k];
            if (!(weight > 0.0f) || joint >= palette.size()) {
                continue;
            }
            const Matrix4& m = palette[joint];
            Vec3 point{};
            for (std::size_t c = 0; c < 3; ++c) {
                point[c] = p[0] * m[c] + p[1] * m[4 + c] + p[2] * m[8 + c] + m[12 + c];
                normalSum[c] += (n[0] * m[c] + n[1] * m[4 + c] + n[2] * m[8 + c]) * weight;
            }
            const f32 w = p[0] * m[3] + p[1] * m[7] + p[2] * m[11] + m[15];
            for (std::size_t c = 0; c < 3; ++c) {
                positionSum[c] += (std::fabs(w) > kMinProjectiveW ? point[c] / w : point[c]) * weight;
            }
            total += weight;
        }
        PrimitiveVertex& o = out[i];
        if (total > kMinSkinWeightTotal) {
            o.position = {positionSum[0] / total, positionSum[1] / total, positionSum[2] / total};
            o.normal = normalizeOrZero({normalSum[0] / total, normalSum[1] / total, normalSum[2] / total});
        } else {
            o.position = p;
            o.normal = n;
        }
        o.uv = vertex.uv;
        o.color = {1.0f, 1.0f, 1.0f, 1.0f};
    }
}

// ---- Section: Shared pieces of the blending kernels ----
//
// With affine matrices every w is exactly 1, so the weighted sum of transformed points is
// the point transformed by the weighted sum of the matrices: the kernels blend the four
// influences' matrices, transform position and normal once, and divide by the total weight
// at the end. An influence that does not count (weight not above 0, joint beyond the
// palette) gets weight 0 and palette entry 0, which is finite, so it adds exactly nothing;
// the blended matrix's element 15 is then the sum of the counted weights, added in
// influence order like the definition, and the transformed point carries that total in
// its fourth lane. The 16-byte loads of a vertex's fields reach into the next field of the
// same 56-byte record, never past it.

// The counted weights (0 for the others) and the byte offsets of their matrices (0 for the others).
struct CountedInfluences {
    __m128 weights;
    __m128i matrixOffsets;
};

constexpr int kMatrixOffsetShift = 6;
static_assert(sizeof(Matrix4) == 1 << kMatrixOffsetShift, "matrix offsets are joint indices shifted");

inline CountedInfluences countInfluences(const SkinnedVertex& vertex, __m128i jointLimit) noexcept {
    const __m128 weights = _mm_loadu_ps(vertex.weights.data());
    const __m128i joints = _mm_unpacklo_epi16(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(vertex.joints.data())), _mm_setzero_si128());
    const __m128 counted =
        _mm_and_ps(_mm_cmpgt_ps(weights, _mm_setzero_ps()), _mm_castsi128_ps(_mm_cmplt_epi32(joints, jointLimit)));
    return {_mm_and_ps(counted, weights),
            _mm_slli_epi32(_mm_and_si128(_mm_castps_si128(counted), joints), kMatrixOffsetShift)};
}

// Offsets are unsigned so the lanes moved into general registers need no sign extension.
inline const f32* matrixAt(const std::byte* palette, u32 offsetBytes) noexcept {
    return reinterpret_cast<const f32*>(palette + offsetBytes);
}

// Stores position (lanes 0..2), normal (lanes 0..2), uv and white as one 48-byte vertex.
// The stores overlap instead of shuffling the lanes into place: each one overwrites the
// lane the previous one had no use for (the total weight, then the normal's lane 3).
inline void storeVertex(__m128 position, __m128 normal, const SkinnedVertex& vertex, PrimitiveVertex& out) noexcept {
    f32* o = out.position.data();
    _mm_storeu_ps(o, position);
    _mm_storeu_ps(o + 3, normal);
    std::memcpy(o + 6, vertex.uv.data(), sizeof(vertex.uv));
    _mm_storeu_ps(o + 8, _mm_set1_ps(1.0f));
}

inline void storeSourceVertex(const SkinnedVertex& vertex, PrimitiveVertex& out) noexcept {
    storeVertex(_mm_loadu_ps(vertex.position.data()), _mm_loadu_ps(vertex.normal.data()), vertex, out);
}

__m128i jointLimit(std::span<const Matrix4> palette) noexcept {
    return _mm_set1_epi32(static_cast<i32>(std::min(palette.size(), kJointValueCount)));
}

// Entry 0 stands in for uncounted influences; an empty palette counts none, so any
// readable matrix serves.
const std::byte* paletteBytes(std::span<const Matrix4> palette) noexcept {
    static constexpr Matrix4 kUnused{};
    return reinterpret_cast<const std::byte*>(palette.empty() ? &kUnused : palette.data());
}

// ---- Section: SSE2 ----

void skinAffineSse2(std::span<const SkinnedVertex> source, std::span<const Matrix4> palette,
                    std::span<PrimitiveVertex> out) noexcept {
    const __m128i limit = jointLimit(palette);
    const std::byte* matrices = paletteBytes(palette);
    // SSE2 cannot move single lanes into general registers: the influences go through memory.
    alignas(16) f32 weights[4];
    alignas(16) u32 offsets[4];
    for (std::size_t i = 0; i < source.size(); ++i) {
        const SkinnedVertex& vertex = source[i];
        const CountedInfluences influences = countInfluences(vertex, limit);
        _mm_store_ps(weights, influences.weights);
        _mm_store_si128(reinterpret_cast<__m128i*>(offsets), influences.matrixOffsets);
        __m128 rows[4];
        for (int r = 0; r < 4; ++r) {
            __m128 row = _mm_setzero_ps();
            for (std::size_t k = 0; k < 4; ++k) {
                const f32* matrix = matrixAt(matrices, offsets[k]);
                row = _mm_add_ps(row, _mm_mul_ps(_mm_load1_ps(&weights[k]), _mm_loadu_ps(matrix + 4 * r)));
            }
            rows[r] = row;
        }
        const auto& p = vertex.position;
        const auto& n = vertex.normal;
        const __m128 point = _mm_add_ps(
            _mm_add_ps(_mm_mul_ps(_mm_load1_ps(&p[0]), rows[0]), _mm_mul_ps(_mm_load1_ps(&p[1]), rows[1])),
            _mm_add_ps(_mm_mul_ps(_mm_load1_ps(&p[2]), rows[2]), rows[3]));
        const f32 total = _mm_cvtss_f32(_mm_shuffle_ps(point, point, _MM_SHUFFLE(3, 3, 3, 3)));
        if (!(total > kMinSkinWeightTotal)) {
            storeSourceVertex(vertex, out[i]);
            continue;
        }
        const __m128 normal =
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_load1_ps(&n[0]), rows[0]), _mm_mul_ps(_mm_load1_ps(&n[1]), rows[1])),
                       _mm_mul_ps(_mm_load1_ps(&n[2]), rows[2]));
        // normalize(normal / total) is normal / |normal|; only its threshold sees the total.
        const __m128 squares = _mm_mul_ps(normal, normal);
        const __m128 pairs = _mm_add_ps(squares, _mm_movehl_ps(squares, squares));
        const f32 length2 = _mm_cvtss_f32(_mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, _MM_SHUFFLE(1, 1, 1, 1))));
        const __m128 unitNormal = length2 > kMinSquaredLength * total * total
                                      ? _mm_div_ps(normal, _mm_sqrt_ps(_mm_set1_ps(length2)))
                                      : _mm_setzero_ps();
        storeVertex(_mm_div_ps(point, _mm_set1_ps(total)), unitNormal, vertex, out[i]);
    }
}

// ---- Section: AVX2 and FMA ----
//
// Rows 0 and 1 of a matrix fill one 256-bit register, rows 2 and 3 another, so blending
// four matrices takes eight fused multiply-adds. The point then multiplies (x x x x y y y y)
// into the first pair and (z z z z 1 1 1 1) into the second, the normal (nx.. ny..) and
// (nz.. 0..); the two halves of each product sum are the transformed vector. The division
// runs on pairs of vertices, one per 128-bit half, and the normalisation on four at once:
// per vertex they would cost as much as the blend.

struct BlendedVertex {
    __m256 points;   // halves sum to the point times the blended matrix
    __m256 normals;  // halves sum to the normal times its upper 3 x 3 part
};

__attribute__((target("avx2,fma"))) inline BlendedVertex blendAvx2(const SkinnedVertex& vertex,
                                                                   const std::byte* matrices, __m128i limit) noexcept {
    const CountedInfluences influences = countInfluences(vertex, limit);
    const __m256 w = _mm256_castps128_ps256(influences.weights);
    const __m128i offsets = influences.matrixOffsets;
    const f32* m0 = matrixAt(matrices, static_cast<u32>(_mm_cvtsi128_si32(offsets)));
    const f32* m1 = matrixAt(matrices, static_cast<u32>(_mm_extract_epi32(offsets, 1)));
    const f32* m2 = matrixAt(matrices, static_cast<u32>(_mm_extract_epi32(offsets, 2)));
    const f32* m3 = matrixAt(matrices, static_cast<u32>(_mm_extract_epi32(offsets, 3)));
    const __m256 w0 = _mm256_broadcastss_ps(_mm256_castps256_ps128(w));
    const __m256 w1 = _mm256_permutevar8x32_ps(w, _mm256_set1_epi32(1));
    const __m256 w2 = _mm256_permutevar8x32_ps(w, _mm256_set1_epi32(2));
    const __m256 w3 = _mm256_permutevar8x32_ps(w, _mm256_set1_epi32(3));
    __m256 rows01 = _mm256_mul_ps(w0, _mm256_loadu_ps(m0));
    __m256 rows23 = _mm256_mul_ps(w0, _mm256_loadu_ps(m0 + 8));
    rows01 = _mm256_fmadd_ps(w1, _mm256_loadu_ps(m1), rows01);
    rows23 = _mm256_fmadd_ps(w1, _mm256_loadu_ps(m1 + 8), rows23);
    rows01 = _mm256_fmadd_ps(w2, _mm256_loadu_ps(m2), rows01);
    rows23 = _mm256_fmadd_ps(w2, _mm256_loadu_ps(m2 + 8), rows23);
    rows01 = _mm256_fmadd_ps(w3, _mm256_loadu_ps(m3), rows01);
    rows23 = _mm256_fmadd_ps(w3, _mm256_loadu_ps(m3 + 8), rows23);
    const __m256i splatXy = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
    const __m256 xy = _mm256_permutevar8x32_ps(_mm256_castps128_ps256(_mm_loadu_ps(vertex.position.data())), splatXy);
    const __m256 z1 = _mm256_blend_ps(_mm256_broadcast_ss(&vertex.position[2]), _mm256_set1_ps(1.0f), 0xF0);
    const __m256 nxy = _mm256_permutevar8x32_ps(_mm256_castps128_ps256(_mm_loadu_ps(vertex.normal.data())), splatXy);
    const __m256 nz0 = _mm256_blend_ps(_mm256_broadcast_ss(&vertex.normal[2]), _mm256_setzero_ps(), 0xF0);
    return {_mm256_fmadd_ps(z1, rows23, _mm256_mul_ps(xy, rows01)),
            _mm256_fmadd_ps(nz0, rows23, _mm256_mul_ps(nxy, rows01))};
}

// Two vertices, one per 128-bit half.
struct BlendedPair {
    __m256 points;   // lane 3 of each half: the total weight
    __m256 normals;  // lane 3 of each half: 0
};

__attribute__((target("avx2,fma"))) inline BlendedPair blendPair(const SkinnedVertex& first, const SkinnedVertex& second,
                                                                const std::byte* matrices, __m128i limit) noexcept {
    const BlendedVertex a = blendAvx2(first, matrices, limit);
    const BlendedVertex b = blendAvx2(second, matrices, limit);
    return {_mm256_add_ps(_mm256_permute2f128_ps(a.points, b.points, 0x20),
                          _mm256_permute2f128_ps(a.points, b.points, 0x31)),
            _mm256_add_ps(_mm256_permute2f128_ps(a.normals, b.normals, 0x20),
                          _mm256_permute2f128_ps(a.normals, b.normals, 0x31))};
}

// Divides a pair's points by their totals, scales its normals and stores both vertices
// (the second only when it exists), or the source vertex where the total is too small.
__attribute__((target("avx2,fma"))) inline void storePair(const BlendedPair& pair, __m256 totals, __m256 scale,
                                                         std::span<const SkinnedVertex> source,
                                                         std::span<PrimitiveVertex> out, std::size_t i) noexcept {
    const __m256 positions = _mm256_div_ps(pair.points, totals);
    const __m256 unitNormals = _mm256_mul_ps(pair.normals, scale);
    const int skinned = _mm256_movemask_ps(_mm256_cmp_ps(totals, _mm256_set1_ps(kMinSkinWeightTotal), _CMP_GT_OQ));
    if ((skinned & 0x01) != 0) {
        storeVertex(_mm256_castps256_ps128(positions), _mm256_castps256_ps128(unitNormals), source[i], out[i]);
    } else {
        storeSourceVertex(source[i], out[i]);
    }
    if (i + 1 < source.size()) {
        if ((skinned & 0x10) != 0) {
            storeVertex(_mm256_extractf128_ps(positions, 1), _mm256_extractf128_ps(unitNormals, 1), source[i + 1],
                        out[i + 1]);
        } else {
            storeSourceVertex(source[i + 1], out[i + 1]);
        }
    }
}

__attribute__((target("avx2,fma"))) void skinAffineAvx2(std::span<const SkinnedVertex> source,
                                                        std::span<const Matrix4> palette,
                                                        std::span<PrimitiveVertex> out) noexcept {
    const __m128i limit = jointLimit(palette);
    const std::byte* matrices = paletteBytes(palette);
    const std::size_t last = source.empty() ? 0 : source.size() - 1;
    for (std::size_t i = 0; i < source.size(); i += 4) {
        const BlendedPair first = blendPair(source[i], source[std::min(i + 1, last)], matrices, limit);
        const BlendedPair second =
            blendPair(source[std::min(i + 2, last)], source[std::min(i + 3, last)], matrices, limit);
        const __m256 totals1 = _mm256_permute_ps(first.points, _MM_SHUFFLE(3, 3, 3, 3));
        const __m256 totals2 = _mm256_permute_ps(second.points, _MM_SHUFFLE(3, 3, 3, 3));
        // Squared lengths of all four normals at once: with a, b the first pair and c, d the
        // second, the lanes hold (a, c, a, c | b, d, b, d).
        const __m256 sums = _mm256_hadd_ps(_mm256_mul_ps(first.normals, first.normals),
                                           _mm256_mul_ps(second.normals, second.normals));
        const __m256 length2 = _mm256_hadd_ps(sums, sums);
        const __m256 totals = _mm256_blend_ps(totals1, totals2, 0xAA);
        const __m256 keep = _mm256_cmp_ps(
            length2, _mm256_mul_ps(_mm256_set1_ps(kMinSquaredLength), _mm256_mul_ps(totals, totals)), _CMP_GT_OQ);
        const __m256 estimate = _mm256_rsqrt_ps(length2);
        const __m256 scale = _mm256_and_ps(keep, _mm256_mul_ps(estimate, _mm256_fnmadd_ps(
            _mm256_mul_ps(_mm256_set1_ps(0.5f), length2), _mm256_mul_ps(estimate, estimate), _mm256_set1_ps(1.5f))));
        storePair(first, totals1, _mm256_permute_ps(scale, 0x00), source, out, i);
        if (i + 2 < source.size()) {
            storePair(second, totals2, _mm256_permute_ps(scale, 0x55), source, out, i + 2);
        }
    }
}

bool cpuHasAvx2AndFma() noexcept {
    // The built-ins also check that the system saves the 256-bit registers (XGETBV).
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

// ---- Section: AVX-512 ----
//
// A whole matrix fills one 512-bit register, so blending four takes one multiply and three
// fused multiply-adds. Four vertices go together: their blended matrices are transposed by
// 128-bit rows, so that register r holds row r of each matrix (one vertex per 128-bit lane),
// and the point and the normal of all four then take three fused multiply-adds each, with
// no sums across lanes; the division and the normalisation also run on four vertices per
// instruction. Four output vertices are 192 bytes, three full registers.
//
// Broadcasting each weight from a register and moving each matrix offset to a general
// register both take shuffle-port instructions, four of each per vertex, and with them the
// blend is bound by those ports and by its instruction count rather than by its arithmetic.
// So the influences of a chunk of vertices are counted first, four vertices per
// instruction, into a small table on the stack; the blend then reads each offset with a
// plain load and broadcasts each weight from memory inside its multiply-add, both on the
// load ports.

// GCC 12 takes the "undefined" merge source inside its 512-bit shuffle intrinsics for an
// uninitialised read (GCC bug 105593, fixed in GCC 13). Clang, which reads these pragmas
// too, has no -Wmaybe-uninitialized and makes no such report.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

constexpr std::size_t kInfluenceChunkVertices = 64;  // 2 KiB of table on the stack
static_assert(kInfluenceChunkVertices % 4 == 0, "chunks hold whole groups of four");

// The counted weights (0 for the others) and matrix byte offsets (0 for the others) of up
// to a chunk of vertices.
struct InfluenceChunk {
    alignas(kCacheLineBytes) f32 weights[kInfluenceChunkVertices][4];
    alignas(kCacheLineBytes) u32 offsets[kInfluenceChunkVertices][4];
};

__attribute__((target("avx512f,avx2,fma"))) inline __m512 blendMatrixAvx512(const InfluenceChunk& chunk,
                                                                            std::size_t i,
                                                                            const std::byte* matrices) noexcept {
    const f32* w = chunk.weights[i];
    const u32* offsets = chunk.offsets[i];
    __m512 blended = _mm512_mul_ps(_mm512_set1_ps(w[0]), _mm512_loadu_ps(matrixAt(matrices, offsets[0])));
    blended = _mm512_fmadd_ps(_mm512_set1_ps(w[1]), _mm512_loadu_ps(matrixAt(matrices, offsets[1])), blended);
    blended = _mm512_fmadd_ps(_mm512_set1_ps(w[2]), _mm512_loadu_ps(matrixAt(matrices, offsets[2])), blended);
    return _mm512_fmadd_ps(_mm512_set1_ps(w[3]), _mm512_loadu_ps(matrixAt(matrices, offsets[3])), blended);
}

// Four vertices' blended matrices, transposed: register r holds row r of each, one vertex
// per 128-bit lane.
struct BlendedRows {
    __m512 row[4];
};

__attribute__((target("avx512f,avx2,fma"))) inline BlendedRows blendFourAvx512(const InfluenceChunk& chunk,
                                                                               std::size_t first,
                                                                               const std::byte* matrices) noexcept {
    const __m512 a = blendMatrixAvx512(chunk, first, matrices);
    const __m512 b = blendMatrixAvx512(chunk, first + 1, matrices);
    const __m512 c = blendMatrixAvx512(chunk, first + 2, matrices);
    const __m512 d = blendMatrixAvx512(chunk, first + 3, matrices);
    const __m512 ab01 = _mm512_shuffle_f32x4(a, b, _MM_SHUFFLE(1, 0, 1, 0));
    const __m512 ab23 = _mm512_shuffle_f32x4(a, b, _MM_SHUFFLE(3, 2, 3, 2));
    const __m512 cd01 = _mm512_shuffle_f32x4(c, d, _MM_SHUFFLE(1, 0, 1, 0));
    const __m512 cd23 = _mm512_shuffle_f32x4(c, d, _MM_SHUFFLE(3, 2, 3, 2));
    return {{_mm512_shuffle_f32x4(ab01, cd01, _MM_SHUFFLE(2, 0, 2, 0)),
             _mm512_shuffle_f32x4(ab01, cd01, _MM_SHUFFLE(3, 1, 3, 1)),
             _mm512_shuffle_f32x4(ab23, cd23, _MM_SHUFFLE(2, 0, 2, 0)),
             _mm512_shuffle_f32x4(ab23, cd23, _MM_SHUFFLE(3, 1, 3, 1))}};
}

// Where each of the 16 lanes of the three output registers comes from: with the skinned
// positions carrying u in lane 3 and the normals carrying v there, vertex k's twelve floats
// are position lanes 4k..4k+2, normal lanes 4k..4k+2 (16 onwards in a two-source permute),
// u, v and four lanes of white.
struct OutputLanes {
    std::array<i32, 16> source{};
    u16 white = 0;
};

constexpr OutputLanes outputLanes(int outRegister) {
    constexpr int kFloatsPerVertex = sizeof(PrimitiveVertex) / sizeof(f32);
    constexpr int kNormalLanes = 16;
    OutputLanes lanes;
    for (std::size_t lane = 0; lane < lanes.source.size(); ++lane) {
        const int index = 16 * outRegister + static_cast<int>(lane);
        const int vertex = index / kFloatsPerVertex;
        const int field = index % kFloatsPerVertex;
        if (field < 3) {
            lanes.source[lane] = 4 * vertex + field;
        } else if (field < 6) {
            lanes.source[lane] = kNormalLanes + 4 * vertex + field - 3;
        } else if (field == 6) {
            lanes.source[lane] = 4 * vertex + 3;
        } else if (field == 7) {
            lanes.source[lane] = kNormalLanes + 4 * vertex + 3;
        } else {
            lanes.white = static_cast<u16>(lanes.white | 1u << lane);
        }
    }
    return lanes;
}
constexpr std::array<OutputLanes, 3> kOutputLanes{outputLanes(0), outputLanes(1), outputLanes(2)};
static_assert(4 * sizeof(PrimitiveVertex) == 3 * sizeof(__m512), "four vertices fill three registers");

// Lanes 4k..4k+3 from the 16 bytes at the k-th pointer.
__attribute__((target("avx512f,avx2,fma"))) inline __m512 loadFour(const f32* a, const f32* b, const f32* c,
                                                                   const f32* d) noexcept {
    __m512 four = _mm512_zextps128_ps512(_mm_loadu_ps(a));
    four = _mm512_insertf32x4(four, _mm_loadu_ps(b), 1);
    four = _mm512_insertf32x4(four, _mm_loadu_ps(c), 2);
    return _mm512_insertf32x4(four, _mm_loadu_ps(d), 3);
}

inline __m128i loadJoints(const SkinnedVertex& vertex) noexcept {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(vertex.joints.data()));
}

// Counts the influences of `count` vertices, a multiple of four, four vertices per
// instruction, with the same rules as countInfluences.
__attribute__((target("avx512f,avx2,fma"))) inline void countChunkAvx512(const SkinnedVertex* source,
                                                                         std::size_t count, __m128i limit,
                                                                         InfluenceChunk& chunk) noexcept {
    const __m512i jointLimit = _mm512_set1_epi32(_mm_cvtsi128_si32(limit));
    for (std::size_t i = 0; i < count; i += 4) {
        const SkinnedVertex* v = source + i;
        const __m512 weights =
            loadFour(v[0].weights.data(), v[1].weights.data(), v[2].weights.data(), v[3].weights.data());
        const __m128i joints01 = _mm_unpacklo_epi64(loadJoints(v[0]), loadJoints(v[1]));
        const __m128i joints23 = _mm_unpacklo_epi64(loadJoints(v[2]), loadJoints(v[3]));
        const __m512i joints =
            _mm512_cvtepu16_epi32(_mm256_inserti128_si256(_mm256_castsi128_si256(joints01), joints23, 1));
        const __mmask16 counted = _mm512_cmp_ps_mask(weights, _mm512_setzero_ps(), _CMP_GT_OQ) &
                                  _mm512_cmplt_epi32_mask(joints, jointLimit);
        _mm512_store_ps(chunk.weights[i], _mm512_maskz_mov_ps(counted, weights));
        _mm512_store_si512(chunk.offsets[i], _mm512_maskz_slli_epi32(counted, joints, kMatrixOffsetShift));
    }
}

// Transforms, divides and normalises four consecutive source vertices with their blended
// rows and stores them as four consecutive output vertices.
__attribute__((target("avx512f,avx2,fma"))) inline void finishFourAvx512(const BlendedRows& rows,
                                                                         const SkinnedVertex* source,
                                                                         PrimitiveVertex* out) noexcept {
    const auto& [row0, row1, row2, row3] = rows.row;
    // Per vertex lane: (x, y, z, nx) and, 16 bytes on in the same record, (ny, nz, u, v).
    const __m512 p = loadFour(source[0].position.data(), source[1].position.data(), source[2].position.data(),
                              source[3].position.data());
    const __m512 q = loadFour(source[0].normal.data() + 1, source[1].normal.data() + 1,
                              source[2].normal.data() + 1, source[3].normal.data() + 1);
    const __m512 point = _mm512_fmadd_ps(
        _mm512_permute_ps(p, 0x00), row0,
        _mm512_fmadd_ps(_mm512_permute_ps(p, 0x55), row1, _mm512_fmadd_ps(_mm512_permute_ps(p, 0xAA), row2, row3)));
    const __m512 normal = _mm512_fmadd_ps(
        _mm512_permute_ps(p, 0xFF), row0,
        _mm512_fmadd_ps(_mm512_permute_ps(q, 0x00), row1, _mm512_mul_ps(_mm512_permute_ps(q, 0x55), row2)));

    const __m512 totals = _mm512_permute_ps(point, 0xFF);
    const __mmask16 skinned = _mm512_cmp_ps_mask(totals, _mm512_set1_ps(kMinSkinWeightTotal), _CMP_GT_OQ);
    const __m512 position = _mm512_mask_div_ps(p, skinned, point, totals);
    // normalize(normal / total) is normal / |normal|; only its threshold sees the total.
    const __m512 squares = _mm512_mul_ps(normal, normal);
    const __m512 pairs = _mm512_add_ps(squares, _mm512_permute_ps(squares, _MM_SHUFFLE(2, 3, 0, 1)));
    const __m512 length2 = _mm512_add_ps(pairs, _mm512_permute_ps(pairs, _MM_SHUFFLE(1, 0, 3, 2)));
    const __mmask16 keep = _mm512_cmp_ps_mask(
        length2, _mm512_mul_ps(_mm512_set1_ps(kMinSquaredLength), _mm512_mul_ps(totals, totals)), _CMP_GT_OQ);
    // One Newton step takes the 14-bit estimate to about 23 bits.
    const __m512 estimate = _mm512_rsqrt14_ps(length2);
    const __m512 scale =
        _mm512_mul_ps(estimate, _mm512_fnmadd_ps(_mm512_mul_ps(_mm512_set1_ps(0.5f), length2),
                                                 _mm512_mul_ps(estimate, estimate), _mm512_set1_ps(1.5f)));
    const __m512 unitNormal = _mm512_maskz_mul_ps(keep, normal, scale);
    const __m512 sourceNormal = _mm512_permutex2var_ps(
        p, _mm512_setr_epi32(3, 16, 17, 0, 7, 20, 21, 0, 11, 24, 25, 0, 15, 28, 29, 0), q);
    const __m512 normalOut = _mm512_mask_blend_ps(skinned, sourceNormal, unitNormal);

    constexpr __mmask16 kLane3 = 0x8888;
    const __m512 positionU = _mm512_mask_permute_ps(position, kLane3, q, _MM_SHUFFLE(2, 2, 2, 2));
    const __m512 normalV = _mm512_mask_permute_ps(normalOut, kLane3, q, _MM_SHUFFLE(3, 3, 3, 3));
    f32* o = out->position.data();
    for (std::size_t r = 0; r < kOutputLanes.size(); ++r) {
        const __m512i lanes = _mm512_loadu_si512(kOutputLanes[r].source.data());
        _mm512_storeu_ps(o + 16 * r, _mm512_mask_blend_ps(kOutputLanes[r].white,
                                                          _mm512_permutex2var_ps(positionU, lanes, normalV),
                                                          _mm512_set1_ps(1.0f)));
    }
}

// Skins `count` vertices, a multiple of four no larger than a chunk.
__attribute__((target("avx512f,avx2,fma"))) inline void skinChunkAvx512(const SkinnedVertex* source,
                                                                        std::size_t count,
                                                                        const std::byte* matrices, __m128i limit,
                                                                        PrimitiveVertex* out) noexcept {
    InfluenceChunk chunk;
    countChunkAvx512(source, count, limit, chunk);
    BlendedRows next = blendFourAvx512(chunk, 0, matrices);
    for (std::size_t i = 0; i < count; i += 4) {
        const BlendedRows current = next;
        if (i + 4 < count) {
            next = blendFourAvx512(chunk, i + 4, matrices);
        }
        finishFourAvx512(current, source + i, out + i);
    }
}

__attribute__((target("avx512f,avx2,fma"))) void skinAffineAvx512(std::span<const SkinnedVertex> source,
                                                                  std::span<const Matrix4> palette,
                                                                  std::span<PrimitiveVertex> out) noexcept {
    const __m128i limit = jointLimit(palette);
    const std::byte* matrices = paletteBytes(palette);
    const std::size_t fullGroups = source.size() / 4 * 4;
    for (std::size_t i = 0; i < fullGroups; i += kInfluenceChunkVertices) {
        skinChunkAvx512(&source[i], std::min(kInfluenceChunkVertices, fullGroups - i), matrices, limit, &out[i]);
    }
    // The last one to three vertices go through a padded copy (zero weights: kept as they are).
    const std::size_t tail = source.size() - fullGroups;
    if (tail != 0) {
        std::array<SkinnedVertex, 4> tailSource{};
        std::array<PrimitiveVertex, 4> tailOut{};
        std::copy_n(source.begin() + static_cast<std::ptrdiff_t>(fullGroups), tail, tailSource.begin());
        skinChunkAvx512(tailSource.data(), tailSource.size(), matrices, limit, tailOut.data());
        std::copy_n(tailOut.begin(), tail, out.begin() + static_cast<std::ptrdiff_t>(fullGroups));
    }
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool cpuHasAvx512() noexcept {
    // As for AVX2, the built-in also checks that the system saves the 512-bit and mask registers.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && cpuHasAvx2AndFma();
}

}  // namespace

bool isBlendablePalette(std::span<const Matrix4> palette) noexcept {
    return std::all_of(palette.begin(), palette.end(), [](const Matrix4& m) {
        return m[3] == 0.0f && m[7] == 0.0f && m[11] == 0.0f && m[15] == 1.0f &&
               std::all_of(m.m.begin(), m.m.end(), [](f32 element) { return std::isfinite(element); });
    });
}

bool isSkinningKernelAvailable(SkinningKernel kernel) noexcept {
    static const bool hasAvx2 = cpuHasAvx2AndFma();
    static const bool hasAvx512 = cpuHasAvx512();
    switch (kernel) {
        case SkinningKernel::scalar:
        case SkinningKernel::sse2:
            return true;
        case SkinningKernel::avx2:
            return hasAvx2;
        case SkinningKernel::avx512:
            return hasAvx512;
    }
    return false;
}

void skinVerticesWith(SkinningKernel kernel, std::span<const SkinnedVertex> source, std::span<const Matrix4> palette,
                      std::span<PrimitiveVertex> out) {
    checkSizes(source, out);
    switch (kernel) {
        case SkinningKernel::scalar:
            skinScalar(source, palette, out);
            return;
        case SkinningKernel::sse2:
            skinAffineSse2(source, palette, out);
            return;
        case SkinningKernel::avx2:
            skinAffineAvx2(source, palette, out);
            return;
        case SkinningKernel::avx512:
            skinAffineAvx512(source, palette, out);
            return;
    }
}

void skinVertices(std::span<const SkinnedVertex> source, std::span<const Matrix4> palette,
                  std::span<PrimitiveVertex> out) {
    if (!isBlendablePalette(palette)) {
        skinVerticesWith(SkinningKernel::scalar, source, palette, out);
    } else if (isSkinningKernelAvailable(SkinningKernel::avx512)) {
        skinVerticesWith(SkinningKernel::avx512, source, palette, out);
    } else if (isSkinningKernelAvailable(SkinningKernel::avx2)) {
        skinVerticesWith(SkinningKernel::avx2, source, palette, out);
    } else {
        skinVerticesWith(SkinningKernel::sse2, source, palette, out);
    }
}

}  // namespace kestrune::render
