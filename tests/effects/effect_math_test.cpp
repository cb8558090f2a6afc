#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "effects/effect_math.h"

namespace kestrune::effects {
namespace {

constexpr f32 kHalfTurn = std::numbers::pi_v<f32>;
constexpr f32 kQuarterTurn = kHalfTurn / 2.0f;

void expectNear(Vec3 actual, Vec3 expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-6f);
    EXPECT_NEAR(actual.y, expected.y, 1e-6f);
    EXPECT_NEAR(actual.z, expected.z, 1e-6f);
}

Vec3 rotate(Quat q, Vec3 v) { return transformDirection(Affine{rotationAxes(q), {}}, v); }

TEST(EffectMath, YawTurnsForwardTowardsPlusX) {
    // Yaw is atan2(x, z): a quarter turn faces +x.
    expectNear(rotate(rotationAboutY(kQuarterTurn), {0, 0, 1}), {1, 0, 0});
    expectNear(rotate(rotationAboutY(0.6f), {0, 0, 2}), {2 * std::sin(0.6f), 0, 2 * std::cos(0.6f)});
}

TEST(EffectMath, RotationsAboutEachAxisAreRightHanded) {
    expectNear(rotate(rotationAboutX(kQuarterTurn), {0, 1, 0}), {0, 0, 1});
    expectNear(rotate(rotationAboutZ(kQuarterTurn), {1, 0, 0}), {0, 1, 0});
}

TEST(EffectMath, HamiltonProductAppliesTheRightFactorFirst) {
    // y first: +z -> +x, which x leaves alone. Applied the other way round +z would end at -y.
    const Quat xAfterY = hamiltonProduct(rotationAboutX(kQuarterTurn), rotationAboutY(kQuarterTurn));
    expectNear(rotate(xAfterY, {0, 0, 1}), {1, 0, 0});
}

TEST(EffectMath, ComposeAppliesTheFirstTransformFirst) {
    const Affine moveForward{.translation = {0, 0, 1}};
    const Affine turnAndLift = scaleRotateTranslate({2, 2, 2}, rotationAboutY(kQuarterTurn), {0, 3, 0});
    expectNear(transformPoint(compose(moveForward, turnAndLift), {}), {2, 3, 0});
    expectNear(transformPoint(compose(turnAndLift, moveForward), {}), {0, 3, 1});

    const Matrix4 m = toMatrix4(compose(moveForward, turnAndLift));
    EXPECT_NEAR(m[12], 2.0f, 1e-6f);
    EXPECT_NEAR(m[13], 3.0f, 1e-6f);
    EXPECT_NEAR(m[2], -2.0f, 1e-6f);  // the x axis, turned a quarter about y, points along -z
    EXPECT_EQ(m[15], 1.0f);
}

TEST(EffectMath, NormalisesHugeQuaternionsWithoutOverflow) {
    // Squared in single precision, 1e30 would overflow to infinity and normalise to zero.
    const Quat q = normalized({0.0f, 0.0f, 0.0f, 1e30f});
    EXPECT_EQ(q.w, 1.0f);
    EXPECT_GT(squaredLength({3e19f, 0.0f, 0.0f, 0.0f}), 1e38);
}

}  // namespace
}  // namespace kestrune::effects
