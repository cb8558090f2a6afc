#include "render/cpu_skinning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

#include "render/test_support.h"

namespace kestrune::render {
namespace {

using namespace testing;

SkinnedVertex vertexAt(const Vec3& at, const Vec3& normal, std::array<u16, 4> joints, std::array<f32, 4> weights) {
    return {at, normal, {0.25f, 0.75f}, joints, weights};
}

// Each kernel forced, whether or not the dispatch would choose it; a kernel the processor or
// system lacks is skipped with the reason.
class BlendingKernel : public ::testing::TestWithParam<SkinningKernel> {
protected:
    void SetUp() override {
        if (!isSkinningKernelAvailable(GetParam())) {
            GTEST_SKIP() << "kernel " << static_cast<int>(GetParam())
                         << " needs instructions this processor or system does not offer";
        }
    }
};
class InfluenceRules : public BlendingKernel {};

constexpr const char* kKernelNames[] = {"scalar", "sse2", "avx2", "avx512"};
std::string kernelName(const ::testing::TestParamInfo<SkinningKernel>& info) {
    return kKernelNames[static_cast<int>(info.param)];
}
using enum SkinningKernel;
INSTANTIATE_TEST_SUITE_P(CpuSkinning, InfluenceRules, ::testing::Values(scalar, sse2, avx2, avx512), kernelName);
INSTANTIATE_TEST_SUITE_P(CpuSkinning, BlendingKernel, ::testing::Values(sse2, avx2, avx512), kernelName);

// The rules one vertex at a time, with results worked out by hand; every kernel must give them.
TEST_P(InfluenceRules, FollowsTheInfluenceRules) {
    const Vec3 p{1.0f, 2.0f, 3.0f};
    const Vec3 n{0.0f, 1.0f, 0.0f};
    // Joint 0 moves by (10, 0, 0), joint 1 by (0, 10, 0), joint 2 doubles everything.
    const std::vector<Matrix4> palette{translation(10.0f, 0.0f, 0.0f), translation(0.0f, 10.0f, 0.0f), scaled(2.0f)};
    const struct { const char* name; SkinnedVertex vertex; Vec3 position, normal; } cases[] = {
        {"one joint", vertexAt(p, n, {0, 0, 0, 0}, {1, 0, 0, 0}), {11, 2, 3}, n},
        {"two joints halfway", vertexAt(p, n, {0, 1, 0, 0}, {0.5f, 0.5f, 0, 0}), {6, 7, 3}, n},
        {"weights are divided by their total", vertexAt(p, n, {0, 1, 0, 0}, {0.25f, 0.25f, 0, 0}), {6, 7, 3}, n},
        {"normal is renormalised", vertexAt(p, {0, 0.5f, 0}, {2, 0, 0, 0}, {1, 0, 0, 0}), {2, 4, 6}, {0, 1, 0}},
        {"joint past the palette is skipped", vertexAt(p, n, {0, 3, 0, 0}, {0.5f, 0.5f, 0, 0}), {11, 2, 3}, n},
        {"highest joint counts", vertexAt(p, n, {2, 0, 0, 0}, {1, 0, 0, 0}), {2, 4, 6}, n},
        {"zero weights keep the source", vertexAt(p, n, {0, 1, 2, 0}, {0, 0, 0, 0}), p, n},
        {"only skipped joints keep the source", vertexAt(p, n, {3, 65535, 0, 0}, {0.6f, 0.4f, 0, 0}), p, n},
        {"total at the minimum keeps the source", vertexAt(p, n, {0, 0, 0, 0}, {0.0001f, 0, 0, 0}), p, n},
        {"total just above the minimum skins", vertexAt(p, n, {0, 0, 0, 0}, {0.00011f, 0, 0, 0}), {11, 2, 3}, n},
        {"tiny normal becomes zero", vertexAt(p, {1e-7f, 0, 0}, {0, 0, 0, 0}, {1, 0, 0, 0}), {11, 2, 3}, {0, 0, 0}},
        {"zero normal stays zero", vertexAt(p, {0, 0, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}), {1, 12, 3}, {0, 0, 0}},
        {"negative weight is skipped", vertexAt(p, n, {0, 1, 0, 0}, {-0.5f, 1, 0, 0}), {1, 12, 3}, n},
        {"not-a-number weight is skipped", vertexAt(p, n, {0, 1, 0, 0}, {std::nanf(""), 1, 0, 0}), {1, 12, 3}, n}};
    // All cases in one mesh, shifted by 0 to 3 leading vertices, so that every case is
    // skinned in every position of the wide kernels' vertex groups and in their tails; the
    // leading vertices have their own uv so a case given a neighbour's data shows.
    SkinnedVertex leadingVertex = vertexAt({5, 5, 5}, {1, 0, 0}, {2, 0, 0, 0}, {1, 0, 0, 0});
    leadingVertex.uv = {0.5f, 0.125f};
    for (std::size_t shift = 0; shift < 4; ++shift) {
        std::vector<SkinnedVertex> mesh(shift, leadingVertex);
        std::ranges::transform(cases, std::back_inserter(mesh), [](const auto& c) { return c.vertex; });
        std::vector<PrimitiveVertex> out(mesh.size());
        skinVerticesWith(GetParam(), mesh, palette, out);
        for (std::size_t i = 0; i < mesh.size(); ++i) {
            const bool leading = i < shift;
            SCOPED_TRACE(::testing::Message() << "shift " << shift << ": "
                                              << (leading ? "leading vertex" : cases[i - shift].name));
            expectNear(out[i].position, leading ? Vec3{10, 10, 10} : cases[i - shift].position, 1e-5f);
            expectNear(out[i].normal, leading ? Vec3{1, 0, 0} : cases[i - shift].normal, 1e-5f);
            EXPECT_EQ(std::tuple(out[i].uv, out[i].color), std::tuple(mesh[i].uv, kWhite));
        }
    }
}

// Only the definition divides by w, so projective matrices go to it; a w at or below
// 1e-7 in magnitude is not divided by.
TEST(CpuSkinning, ProjectivePaletteDividesByWAndTheOutputMustMatch) {
    // Matrix 0 gives every point w = 2, matrix 1 w = 1e-7, which is kept as it is.
    std::vector<Matrix4> palette{identityMatrix(), identityMatrix()};
    palette[0][15] = 2.0f;
    palette[1][15] = 1e-7f;
    EXPECT_FALSE(isBlendablePalette(palette));
    const std::array<SkinnedVertex, 3> vertices{vertexAt({2, 4, 6}, {0, 0, 1}, {0, 0, 0, 0}, {1, 0, 0, 0}),
                                                vertexAt({2, 4, 6}, {0, 0, 1}, {1, 0, 0, 0}, {1, 0, 0, 0}),
                                                vertexAt({2, 4, 6}, {0, 0, 1}, {0, 1, 0, 0}, {0.5f, 0.5f, 0, 0})};
    std::vector<PrimitiveVertex> out(3);
    skinVertices(vertices, palette, out);
    expectNear(out[0].position, {1, 2, 3}, 1e-6f);
    expectNear(out[1].position, {2, 4, 6}, 1e-6f);
    expectNear(out[2].position, {1.5f, 3, 4.5f}, 1e-6f);
    expectNear(out[2].normal, {0, 0, 1}, 1e-6f);
    // The output must hold one vertex per source vertex.
    testing::expectThrow<std::invalid_argument>([&] { skinVertices(vertices, {}, std::span(out).first(2)); },
                                                "CPU skinning needs one output vertex per source vertex (2 for 3)");
}

std::vector<Matrix4> randomAffinePalette(std::mt19937& random, std::size_t size) {
    std::uniform_real_distribution<f32> unit(-1.0f, 1.0f);
    std::vector<Matrix4> palette(size);
    for (Matrix4& m : palette) {
        const f32 angle = 3.0f * unit(random);
        const f32 s = 1.0f + 0.3f * unit(random);
        m.m = {std::cos(angle) * s, 0, -std::sin(angle) * s, 0, 0.2f * unit(random), s, 0, 0,
               std::sin(angle) * s, 0, std::cos(angle) * s, 0, unit(random), unit(random), unit(random), 1};
    }
    return palette;
}

// Each blending kernel against the definition, with a character-like load: random
// rotations, scales and translations, one to four influences with positive weights, some
// unused slots naming joints past the palette; and
// the same with no palette, where nothing counts (every vertex keeps its source) and
// nothing is read. Vertex counts around the kernels' groups of two and four, their
// 64-vertex chunks and the tails after them.
TEST_P(BlendingKernel, MatchesTheDefinition) {
    std::mt19937 random(5);
    std::uniform_real_distribution<f32> unit(-1.0f, 1.0f);
    const std::vector<Matrix4> full = randomAffinePalette(random, 40);
    ASSERT_TRUE(isBlendablePalette(full));
    for (const std::span<const Matrix4> palette : {std::span(full), std::span(full).first(0)}) {
        for (const std::size_t count : {1u, 2u, 3u, 4u, 5u, 7u, 63u, 64u, 65u, 68u, 131u, 1001u}) {
            std::vector<SkinnedVertex> vertices(count);
            for (SkinnedVertex& v : vertices) {
                v = vertexAt({unit(random), 1 + unit(random), unit(random)},
                             {unit(random), unit(random), unit(random)}, {}, {});
                v.uv = {unit(random), unit(random)};
                const int used = 1 + static_cast<int>(random() % 4);
                for (int k = 0; k < 4; ++k) {
                    v.joints[k] = static_cast<u16>(random() % 44);  // 40..43 are past the palette
                    v.weights[k] = k < used ? 0.1f + std::abs(unit(random)) : 0.0f;
                }
            }
            std::vector<PrimitiveVertex> expected(count);
            skinVerticesWith(SkinningKernel::scalar, vertices, palette, expected);
            SCOPED_TRACE(::testing::Message() << count << " vertices, palette of " << palette.size());
            // One vertex past the output is watched: the kernels must not write beyond it.
            std::vector<PrimitiveVertex> out(count + 1);
            out[count].uv = {-7.0f, -7.0f};
            skinVerticesWith(GetParam(), vertices, palette, std::span(out).first(count));
            for (std::size_t i = 0; i < count; ++i) {
                expectNear(out[i].position, expected[i].position, 2e-5f);
                expectNear(out[i].normal, expected[i].normal, 2e-5f);
                ASSERT_EQ(std::tuple(out[i].uv, out[i].color), std::tuple(expected[i].uv, expected[i].color)) << i;
            }
            EXPECT_EQ(out[count].uv, (std::array<f32, 2>{-7.0f, -7.0f}));
        }
    }
}

TEST(CpuSkinning, PaletteMustBeFiniteAndAffineToBlend) {
    const f32 infinity = std::numeric_limits<f32>::infinity();
    const struct { const char* name; std::size_t element; f32 value; bool blendable; } cases[] = {
        {"identity", 0, 1.0f, true},       {"shear", 4, 0.5f, true},          {"projective column", 3, 0.1f, false},
        {"w scale", 15, 0.5f, false}, {"infinite scale", 0, infinity, false},
        {"not a number", 13, std::nanf(""), false}};
    const std::array<SkinnedVertex, 1> vertex{vertexAt({1, 2, 3}, {0, 1, 0}, {0, 1, 0, 0}, {1, 0, 0, 0})};
    std::vector<PrimitiveVertex> out(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Matrix4> palette{identityMatrix(), identityMatrix()};
        palette[1][c.element] = c.value;
        EXPECT_EQ(isBlendablePalette(palette), c.blendable);
        // Whatever matrix 1 holds (non-finite too), it touches only the vertices that use it.
        skinVertices(vertex, palette, out);
        expectNear(out[0].position, {1, 2, 3}, 0.0f);
    }
}

}  // namespace
}  // namespace kestrune::render
