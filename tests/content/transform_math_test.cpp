#include "content/transform_math.h"

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

#include "content_test_support.h"
#include "sample_models.h"

namespace kestrune::content {
namespace {

using namespace test;

constexpr f32 kHalfPi = std::numbers::pi_v<f32> / 2.0f;

// The same rotation: every component negated.
std::array<f32, 4> negated(const std::array<f32, 4>& q) { return {-q[0], -q[1], -q[2], -q[3]}; }

// Scales, rotates, then translates, in rows; normalises the rotation and replaces degenerate ones.
TEST(TransformToMatrix, ScalesRotatesThenTranslatesRowsWithANormalisedRotation) {
    const Transform t{{10.0f, 20.0f, 30.0f}, axisAngle(0.0f, 0.0f, 1.0f, kHalfPi), {2.0f, 3.0f, 4.0f}};  // x onto y
    expectNear(transformToMatrix(t), Matrix4{{0, 2, 0, 0, -3, 0, 0, 0, 0, 0, 4, 0, 10, 20, 30, 1}}, 1e-6f);
    const Transform unit{.rotation = axisAngle(1.0f, 0.0f, 0.0f, 1.0f)};
    Transform scaled = unit;
    for (f32& c : scaled.rotation) c *= 3.0f;
    expectNear(transformToMatrix(scaled), transformToMatrix(unit), 1e-6f);

    for (const std::array<f32, 4> degenerate : {std::array<f32, 4>{0, 0, 0, 0}, std::array<f32, 4>{1e-11f, 0, 0, 0},
                                                std::array<f32, 4>{std::numeric_limits<f32>::infinity(), 0, 0, 1},
                                                std::array<f32, 4>{std::nanf(""), 0, 0, 1}})
        EXPECT_EQ(transformToMatrix({.rotation = degenerate}), identityMatrix());
    // A squared length at or below 1e-20 is degenerate; just above it normalises to a unit x.
    EXPECT_EQ(normalizeQuaternion({0.99e-10f, 0, 0, 0}), (std::array<f32, 4>{0, 0, 0, 1}));
    EXPECT_EQ(normalizeQuaternion({1.01e-10f, 0, 0, 0}), (std::array<f32, 4>{1, 0, 0, 0}));
    // Far from unit length, including lengths whose squares single precision cannot hold.
    for (f32 component : {1e-9f, 1e-5f, 1e14f, 7.1e14f, 1e18f, 1.5e19f, 2e19f}) {
        SCOPED_TRACE(component);
        const f32 third = 1.0f / std::sqrt(3.0f);
        expectNear(normalizeQuaternion({component, -component, 0, component}), {third, -third, 0, third}, 1e-6f);
    }
}

// Row vectors: the product applies its first operand first, row i . column j.
TEST(MatrixProducts, ApplyTheFirstOperandFirstAndTheAffineInverseUndoesRotationScaleAndTranslation) {
    const Matrix4 a{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
    const Matrix4 b{{8, 7.5f, 7, 6.5f, 6, 5.5f, 5, 4.5f, 4, 3.5f, 3, 2.5f, 2, 1.5f, 1, 0.5f}};
    const Matrix4 product = multiplyMatrices(a, b);
    EXPECT_EQ(product[0], 1 * 8.0f + 2 * 6.0f + 3 * 4.0f + 4 * 2.0f);          // row 0 . column 0
    EXPECT_EQ(product[7], 5 * 6.5f + 6 * 4.5f + 7 * 2.5f + 8 * 0.5f);          // row 1 . column 3
    EXPECT_EQ(product[14], 13 * 7.0f + 14 * 5.0f + 15 * 3.0f + 16 * 1.0f);     // row 3 . column 2
    EXPECT_EQ(multiplyMatrices(identityMatrix(), a), a);
    EXPECT_EQ(multiplyMatrices(a, identityMatrix()), a);

    // The affine inverse undoes rotation, scale and translation, and refuses projective and
    // singular matrices.
    const Matrix4 m = transformToMatrix({{1, -2, 7.5f}, axisAngle(0.267f, 0.534f, 0.802f, 1.1f), {2, 0.5f, 3}});
    const Matrix4 inverse = affineInverse(m);
    expectNear(multiplyMatrices(m, inverse), identityMatrix(), 1e-5f);
    expectNear(multiplyMatrices(inverse, m), identityMatrix(), 1e-5f);
    for (std::size_t i : {3u, 7u, 11u, 15u}) EXPECT_EQ(inverse[i], i == 15 ? 1.0f : 0.0f) << "element " << i;

    // The listed elements of the identity are set to `value`; a null message: accepted.
    const char *const notAffine = "matrix is not affine", *const singular = "affine matrix is singular";
    const struct { const char* name; std::vector<std::size_t> elements; f32 value; const char* message; } cases[] = {
        {"element 3 at the tolerance", {3}, 1e-5f, nullptr}, {"element 3 past the tolerance", {3}, 1.1e-5f, notAffine},
        {"element 7 negative past the tolerance", {7}, -2e-5f, notAffine}, {"perspective", {11}, 1.0f, notAffine},
        {"element 15 zero", {15}, 0.0f, notAffine}, {"element 15 slightly below one", {15}, 1.0f - 5e-6f, nullptr},
        {"x scale 0", {0}, 0.0f, singular}, {"infinite y scale", {5}, std::numeric_limits<f32>::infinity(), singular},
        // A uniform scale s has determinant s^3: at the threshold and just above it.
        {"uniform scale 1e-4", {0, 5, 10}, 1e-4f, singular}, {"uniform scale 1.1e-4", {0, 5, 10}, 1.1e-4f, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Matrix4 edited = identityMatrix();
        for (std::size_t e : c.elements) edited[e] = c.value;
        if (c.message == nullptr) {
            EXPECT_NEAR(affineInverse(edited)[0] * edited[0], 1.0f, 1e-5f);
        } else {
            expectError([&] { affineInverse(edited); }, c.message);
        }
    }
}

// Lerps translation and scale, clamps t, slerps along the shortest arc.
TEST(InterpolateTransform, LerpsSlerpsAndClampsTAndMatchesDoublePrecisionSlerpAcrossAngles) {
    const Transform a{.translation = {0.0f, 2.0f, -4.0f}, .scale = {1.0f, 1.0f, 2.0f}};
    const Transform b{.translation = {10.0f, 4.0f, 4.0f}, .scale = {3.0f, 1.0f, 0.0f}};
    const Transform quarter = interpolateTransform(a, b, 0.25f);
    EXPECT_EQ(quarter.translation, (std::array<f32, 3>{2.5f, 2.5f, -2.0f}));
    EXPECT_EQ(quarter.scale, (std::array<f32, 3>{1.5f, 1.0f, 1.5f}));
    EXPECT_EQ(std::tuple(interpolateTransform(a, b, -3.0f).translation, interpolateTransform(a, b, 7.0f).translation,
                         interpolateTransform(a, b, 7.0f).scale), std::tuple(a.translation, b.translation, b.scale));

    // Halfway from one rotation to another.
    const struct { const char* name; std::array<f32, 4> from, to, expected; } cases[] = {
        {"q to -q stays put", axisAngle(1, 0, 0, 0.7f), negated(axisAngle(1, 0, 0, 0.7f)), axisAngle(1, 0, 0, 0.7f)},
        {"negated target turns the short way", axisAngle(0, 0, 1, 0), negated(axisAngle(0, 0, 1, kHalfPi)),
         axisAngle(0, 0, 1, kHalfPi / 2)},
        {"unnormalised inputs", {0, 0, 0, 2}, {0, 0, 2 * std::sin(kHalfPi / 2), 2 * std::cos(kHalfPi / 2)},
         axisAngle(0, 0, 1, kHalfPi / 2)},
        {"degenerate is the identity", {0, 0, 0, 0}, axisAngle(1, 0, 0, kHalfPi), axisAngle(1, 0, 0, kHalfPi / 2)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Transform r = interpolateTransform({.rotation = c.from}, {.rotation = c.to}, 0.5f);
        expectNear(r.rotation, c.expected, 2e-6f);
        const auto [x, y, z, w] = r.rotation;
        EXPECT_NEAR(std::sqrt(x * x + y * y + z * z + w * w), 1.0f, 1e-6f);
    }

    // Against a double-precision slerp: every whole degree up to a half turn (the smallest on
    // the nlerp branch), several weights.
    for (int step = 1; step <= 180; ++step) {
        const f64 angle = step * std::numbers::pi / 180.0;
        for (f32 t : {0.1f, 0.25f, 0.5f, 0.8f, 0.99f}) {
            const Transform a{.rotation = axisAngle(0.6f, 0.0f, 0.8f, 0.2f)};
            const Transform r =
                interpolateTransform(a, {.rotation = axisAngle(0.6f, 0.0f, 0.8f, static_cast<f32>(0.2 + angle))}, t);
            const auto expected = axisAngle(0.6f, 0.0f, 0.8f, static_cast<f32>(0.2 + angle * t));
            for (std::size_t i = 0; i < 4; ++i)
                ASSERT_NEAR(r.rotation[i], expected[i], 3e-6f) << "angle step " << step << ", t " << t;
        }
    }
}

// Transforms that exercise every branch: near and far rotations (nlerp and slerp),
// opposite signs, unnormalised, degenerate, overlong and non-finite rotations.
std::vector<Transform> awkwardTransforms(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<f32> unit(-1.0f, 1.0f);
    std::vector<Transform> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        Transform& t = out[i];
        t.translation = {unit(random) * 5, unit(random), unit(random) * 100};
        t.scale = {1.0f + unit(random) * 0.5f, -2.0f, unit(random)};
        t.rotation = axisAngle(0.6f, 0.0f, 0.8f, unit(random) * 0.05f + (i % 3 == 0 ? 0.0f : 2.0f * unit(random)));
        switch (i % 11) {
            case 3: t.rotation = negated(t.rotation); break;
            case 5: for (f32& c : t.rotation) c *= 1.02f; break;
            case 7: t.rotation = {0.0f, 0.0f, 0.0f, 0.0f}; break;
            case 8: t.rotation = {3e19f, 0.0f, 1e19f, 0.0f}; break;
            case 9: t.rotation = {std::numeric_limits<f32>::infinity(), 0.0f, 0.0f, 1.0f}; break;
        }
    }
    return out;
}

template <class T> bool sameBits(const T& a, const T& b) { return std::memcmp(&a, &b, sizeof(T)) == 0; }

// Sizes around every group and chunk boundary of both kernels.
constexpr std::size_t kSpanSizes[] = {0, 1, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 40, 64, 67};

class TransformKernels : public ::testing::TestWithParam<TransformKernel> {
protected:
    void SetUp() override {
        if (!isTransformKernelAvailable(GetParam())) GTEST_SKIP() << "this processor lacks the kernel's instructions";
    }

    // The kernel's interpolation of a towards b, also written over either input, and its matrices
    // of b, against the scalar definitions.
    void expectScalarResults(const std::vector<Transform>& a, const std::vector<Transform>& b, f32 t) {
        std::vector<Transform> out(a.size()), intoA = a, intoB = b;
        interpolateTransformsWith(GetParam(), a, b, t, out);
        interpolateTransformsWith(GetParam(), intoA, b, t, intoA);
        interpolateTransformsWith(GetParam(), a, intoB, t, intoB);
        std::vector<Matrix4> matrices(b.size());
        transformsToMatricesWith(GetParam(), b, matrices);
        for (std::size_t i = 0; i < a.size(); ++i) {
            ASSERT_TRUE(sameBits(out[i], interpolateTransform(a[i], b[i], t))) << "transform " << i;
            ASSERT_TRUE(sameBits(intoA[i], out[i])) << "in place of a, transform " << i;
            ASSERT_TRUE(sameBits(intoB[i], out[i])) << "in place of b, transform " << i;
            ASSERT_TRUE(sameBits(matrices[i], transformToMatrix(b[i]))) << "matrix " << i;
        }
    }
};

TEST_P(TransformKernels, InterpolateAndMatricesGiveTheScalarResultBitForBit) {
    for (std::size_t count : kSpanSizes) {
        const std::vector<Transform> a = awkwardTransforms(count, 1);
        std::vector<Transform> b = awkwardTransforms(count, 2);
        for (std::size_t i = 0; i < count; i += 4) b[i].rotation = a[i].rotation;  // identical rotations
        for (std::size_t i = 5; i < count; i += 6) b[i].scale[i % 3] = std::numeric_limits<f32>::infinity();
        for (f32 t : {-0.5f, 0.0f, 0.3f, 0.5f, 1.0f, 1.5f}) {
            SCOPED_TRACE("count " + std::to_string(count) + ", t " + std::to_string(t));
            ASSERT_NO_FATAL_FAILURE(expectScalarResults(a, b, t));
        }
    }
}

// The kernels decide most lanes in single precision and leave the rest to the definition's
// double-precision test: one rotation near a threshold, in each lane of the widest group
// among ordinary ones, must come out as the definition has it.
TEST_P(TransformKernels, DecideEveryLaneAsTheDefinitionDoes) {
    const f32 nan = std::nanf(""), infinity = std::numeric_limits<f32>::infinity();
    const struct { const char* name; std::array<f32, 4> rotation; } cases[] = {
        // Degenerate means a squared length up to 1e-20.
        {"just degenerate, single precision says not", {6.89131946e-11f, 5.56368805e-11f, 4.64274591e-11f, 0}},
        {"just not degenerate, single precision says it is", {4.27953645e-11f, 6.46335208e-11f, 6.31748751e-11f, 0}},
        {"squared length 0.98e-20", {0, 0.99e-10f, 0, 0}}, {"squared length 1.02e-20", {0, 0, 1.01e-10f, 0}},
        {"squared length 1.96e-20", {1.4e-10f, 0, 0, 0}}, {"squared length 2.1e-20", {0, 0, 0, -1.45e-10f}},
        {"squares underflowing in single precision", {1e-10f, 1e-30f, 1e-40f, 0}},
        {"squared length 4.9e29", {4.95e14f, 0, -4.95e14f, 0}}, {"squared length 5.1e29", {5.05e14f, 0, -5.05e14f, 0}},
        {"squared length 0.99e30", {0, 7.03e14f, 0, 7.03e14f}}, {"squared length 1.01e30", {0, 7.1e14f, 0, 7.1e14f}},
        {"too long to square in single precision", {2e19f, 0, 2e19f, 1}}, {"infinite", {0, -infinity, 0, 1}},
        {"not a number", {0, 0, nan, 1}}};
    constexpr std::size_t kGroup = 32;
    std::vector<Transform> ordinaryA = awkwardTransforms(kGroup, 4);
    std::vector<Transform> ordinaryB = ordinaryA;
    for (std::size_t i = 0; i < kGroup; ++i) {
        ordinaryA[i].rotation = axisAngle(1, 0, 0, 0.3f * static_cast<f32>(i));
        ordinaryB[i].rotation = axisAngle(0, 1, 0, 0.1f * static_cast<f32>(i));
    }
    for (const auto& c : cases) {
        for (std::size_t lane = 0; lane < kGroup; ++lane) {
            SCOPED_TRACE(std::string(c.name) + ", lane " + std::to_string(lane));
            std::vector<Transform> b = ordinaryB;
            b[lane].rotation = c.rotation;
            ASSERT_NO_FATAL_FAILURE(expectScalarResults(ordinaryA, b, 0.25f));
        }
    }
}

// A random forest in index order, with matrices that are not affine and carry infinities
// and negative zeros: the kernels must form the whole product the definition does.
TEST_P(TransformKernels, ComposeGivesTheDefinedProductsBitForBit) {
    std::mt19937 random(7);
    std::uniform_real_distribution<f32> element(-2.0f, 2.0f);
    constexpr std::size_t kNodes = 40;
    std::vector<Node> nodes(kNodes);
    std::vector<u32> order(kNodes);
    std::vector<Matrix4> locals(kNodes);
    for (std::size_t i = 0; i < kNodes; ++i) {
        nodes[i].parent = static_cast<i32>(random() % (i + 1)) - 1;
        order[i] = static_cast<u32>(i);
        for (f32& e : locals[i].m) e = element(random);
        if (i % 5 == 1) locals[i][random() % 16] = std::numeric_limits<f32>::infinity();
        if (i % 3 == 2) locals[i][random() % 16] = -0.0f;
    }
    std::vector<Matrix4> expected = locals;
    for (std::size_t i = 0; i < kNodes; ++i) {
        const i32 parent = nodes[i].parent;
        if (parent >= 0) expected[i] = multiplyMatrices(expected[i], expected[static_cast<std::size_t>(parent)]);
    }
    std::vector<Matrix4> globals = locals;
    composeGlobalMatricesWith(GetParam(), nodes, order, globals);
    for (std::size_t i = 0; i < kNodes; ++i) ASSERT_TRUE(sameBits(globals[i], expected[i])) << "node " << i;
}

INSTANTIATE_TEST_SUITE_P(EachKernel, TransformKernels, ::testing::Values(TransformKernel::sse2, TransformKernel::avx2),
                         [](const auto& info) { return info.param == TransformKernel::sse2 ? "sse2" : "avx2"; });

}  // namespace
}  // namespace kestrune::content
