#include "render/camera_math.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "render/test_support.h"

namespace kestrune::render {
namespace {

using namespace testing;

TEST(CameraMath, LookAtMovesEyeToOriginAndTargetOntoPositiveZ) {
    const Vec3 eye{0.0f, 3.0f, -7.0f};
    const Vec3 target{0.0f, 1.0f, 0.0f};
    const Matrix4 view = lookAtLeftHanded(eye, target, {0.0f, 1.0f, 0.0f});
    const auto inView = [&](const Vec3& p) {
        const auto v = transformPoint(view, p);
        return Vec3{v[0], v[1], v[2]};
    };
    expectNear(inView(eye), {0.0f, 0.0f, 0.0f});
    expectNear(inView(target), {0.0f, 0.0f, std::sqrt(4.0f + 49.0f)});
    // Left-handed: looking along +z from behind, world +x is to the right and +y up.
    EXPECT_GT(transformPoint(view, {1.0f, 1.0f, 0.0f})[0], 0.0f);
    EXPECT_GT(transformPoint(view, {0.0f, 2.0f, 0.0f})[1], 0.0f);
    // Looking along the up direction yields a zero side axis instead of NaN.
    const Matrix4 upward = lookAtLeftHanded({0.0f, 0.0f, 0.0f}, {0.0f, 5.0f, 0.0f}, {0.0f, 1.0f, 0.0f});
    EXPECT_TRUE(std::ranges::none_of(upward.m, [](f32 v) { return std::isnan(v); }));
    EXPECT_EQ((std::array<f32, 3>{upward[0], upward[4], upward[8]}), (std::array<f32, 3>{}));
}

// Depth runs from 0 at the near plane to 1 at the far one, and w carries the view depth.
TEST(CameraMath, PerspectiveScalesByFieldOfViewAndAspectAndMapsNearAndFarToZeroAndOne) {
    const struct { const char* name; f32 width, height, expectedAspect; } cases[] = {
        {"wide", 200.0f, 100.0f, 2.0f}, {"square", 64.0f, 64.0f, 1.0f},
        {"zero height gives aspect 1", 300.0f, 0.0f, 1.0f}, {"zero width clamps the aspect", 0.0f, 100.0f, kMinAspect}};
    const f32 yScale = 1.0f / std::tan(0.5f);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Matrix4 projection = perspectiveLeftHanded(1.0f, c.width, c.height, 0.05f, 250.0f);
        EXPECT_FLOAT_EQ(projection[5], yScale);
        EXPECT_FLOAT_EQ(projection[0], yScale / c.expectedAspect);
        const auto nearPoint = transformPoint(projection, {0.0f, 0.0f, 0.05f});
        const auto farPoint = transformPoint(projection, {0.0f, 0.0f, 250.0f});
        EXPECT_NEAR(nearPoint[2] / nearPoint[3], 0.0f, 1e-6f);
        EXPECT_NEAR(farPoint[2] / farPoint[3], 1.0f, 1e-5f);
        EXPECT_FLOAT_EQ(nearPoint[3], 0.05f);
    }
}

TEST(CameraMath, MultiplyAppliesLeftOperandFirstAndFacingBasisPointsRightAndUp) {
    const Matrix4 scaleTwo = scaled(2.0f);
    // Moved then scaled, and scaled then moved.
    EXPECT_FLOAT_EQ(transformPoint(multiply(translation(1.0f, 0.0f, 0.0f), scaleTwo), {1.0f, 0.0f, 0.0f})[0], 4.0f);
    EXPECT_FLOAT_EQ(transformPoint(multiply(scaleTwo, translation(1.0f, 0.0f, 0.0f)), {1.0f, 0.0f, 0.0f})[0], 3.0f);
    // The camera-facing basis points right and up on the screen.
    const Camera camera{{0.0f, 3.0f, -7.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, 0.82f, 0.05f, 250.0f};
    const CameraBasis basis = cameraFacingBasis(camera);
    expectNear(basis.right, {1.0f, 0.0f, 0.0f}, 1e-6f);
    EXPECT_NEAR(dot(basis.up, basis.up), 1.0f, 1e-5f);
    EXPECT_GT(basis.up[1], 0.9f);
    EXPECT_NEAR(dot(basis.up, normalizeOrZero(subtract(camera.target, camera.eye))), 0.0f, 1e-6f);
}

}  // namespace
}  // namespace kestrune::render
