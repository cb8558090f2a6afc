// The baker's own trigonometry stands in for the C library's so that baked bytes do not
// depend on it; it must agree with it to the last bits that matter, in every quadrant.

#include <gtest/gtest.h>

#include <cmath>

#include "bake_math.h"

namespace kestrune::baker {
namespace {

void expectNear(const Vec3& a, const Vec3& b) {
    for (const auto member : {&Vec3::x, &Vec3::y, &Vec3::z}) EXPECT_NEAR(a.*member, b.*member, 1e-12);
}

TEST(BakeMath, TrigonometryMatchesTheLibraryInEveryQuadrant) {
    const f64 angles[] = {0.0, 1e-9, 0.3, kPi / 4, kPi / 2 - 1e-12, kPi / 2, 2.0, kPi, 4.0, 3 * kPi / 2, 5.9,
                          kTwoPi, 9.5, -0.7, -kPi / 2, -3.0, -7.25, 40.0};
    for (const f64 a : angles) {
        SCOPED_TRACE(a);
        EXPECT_NEAR(sinRadians(a), std::sin(a), 4e-16 * (1.0 + std::fabs(a)));
        EXPECT_NEAR(cosRadians(a), std::cos(a), 4e-16 * (1.0 + std::fabs(a)));
    }
    const f64 points[][2] = {{0.0, 1.0},  {1.0, 0.0},   {1.0, 1.0},  {0.2, 5.0},  {5.0, 0.2},   {-1.0, 1.0},
                             {1.0, -1.0}, {-3.0, -0.5}, {-0.5, -3.0}, {0.0, -2.0}, {1e-12, -1.0}, {-2.0, 0.0}};
    for (const auto& [y, x] : points) EXPECT_NEAR(atan2Radians(y, x), std::atan2(y, x), 1e-15) << y << ", " << x;
    for (const f64 c : {-1.5, -1.0, -0.6, 0.0, 0.25, 0.999, 1.0, 2.0}) {
        EXPECT_NEAR(acosClamped(c), std::acos(std::fmax(-1.0, std::fmin(1.0, c))), 1e-15) << c;
    }
}

TEST(BakeMath, EulerTurnsApplyRollThenSwingThenTurn) {
    const struct { Euler degrees; Vec3 in; Vec3 out; } cases[] = {
        {{90.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}},   // swing: up tips forward
        {{0.0, 90.0, 0.0}, {0.0, 0.0, 1.0}, {1.0, 0.0, 0.0}},   // turn: forward to the right
        {{0.0, 0.0, 90.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}},   // roll: right side up
        {{90.0, 90.0, 0.0}, {0.0, 1.0, 0.0}, {1.0, 0.0, 0.0}},  // swing first, then turn
        {{90.0, 0.0, 90.0}, {1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}},  // roll first, then swing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.degrees.x << " " << c.degrees.y << " " << c.degrees.z);
        expectNear(rotate(quatFromEuler(c.degrees), c.in), c.out);
    }
}

TEST(BakeMath, QuaternionFromBasisReproducesTheBasis) {
    for (const Euler& e : {Euler{10.0, 20.0, 30.0}, Euler{170.0, -80.0, 5.0}, Euler{-120.0, 179.0, -90.0}}) {
        const Quat q = quatFromEuler(e);
        const Quat back = quatFromBasis(rotate(q, {1, 0, 0}), rotate(q, {0, 1, 0}), rotate(q, {0, 0, 1}));
        for (const Vec3& v : {Vec3{0.3, -0.2, 0.9}, Vec3{1.0, 1.0, 0.0}}) expectNear(rotate(q, v), rotate(back, v));
    }
}

}  // namespace
}  // namespace kestrune::baker
