// The prediction's path: what snapshots are compared with, replayed from and taken out of.

#include "scene/predicted_path.h"

#include <gtest/gtest.h>

namespace kestrune::scene {
namespace {

constexpr f64 kStep = 1.0 / 60.0;
constexpr f32 kStride = 0.1f;

// A run along +x from x0, one stride a step, recorded at the steps' ends 1 to `steps`.
PredictedPath run(f32 x0, u32 steps, u32 moveId = 1) {
    PredictedPath path;
    Vec3 at{x0, 0.0f, 0.0f};
    path.record(0.0, at, 0);
    for (u32 i = 1; i <= steps; ++i) {
        at = stepFrom(at, {kStride, 0.0f, 0.0f}, nullptr);
        path.record(i * kStep, at, moveId, {kStride, 0.0f, 0.0f});
    }
    return path;
}

f32 xAt(const PredictedPath& path, u32 age) { return path.point(age).position.x; }

// Between two steps the path interpolates, before it holds its oldest, and past the newest it
// carries the run on by a partial stride for at most 0.2 s (a snapshot a tick ahead of the
// steps), or holds the newest when the fighter no longer runs.
TEST(PredictedPath, InterpolatesAndCarriesTheRunOnForAtMostAFewTicks) {
    const PredictedPath path = run(0.0f, 4);
    const Vec3 none{9.0f, 9.0f, 9.0f};
    const struct { f64 seconds; bool carriesOn; f32 x; } cases[] = {
        {1.5 * kStep, true, 0.15f}, {-1.0, true, 0.0f}, {5.5 * kStep, true, 0.55f},
        {4 * kStep + 0.2, true, 0.4f + 12 * kStride}, {4 * kStep + 5.0, true, 0.4f + 12 * kStride},
        {6 * kStep, false, 0.4f}};
    for (const auto& c : cases) {
        EXPECT_NEAR(path.at(c.seconds, none, c.carriesOn).x, c.x, 1e-4) << c.seconds << " s";
    }
    EXPECT_EQ(PredictedPath{}.at(1.0, none, true), none);
    EXPECT_FALSE(path.reaches(-kStep));
    EXPECT_TRUE(path.reaches(0.0));
}

// Replayed from the step the server's tick falls in (one the arena's edge stopped), that step
// and every one before it move by the difference; the later ones step again by their own
// strides, now free of the edge. Motion taken out is not stepped again.
TEST(PredictedPath, ReplaysFromTheServersStepAndTakesOutOnlyTheMotionTheServerDidNotMake) {
    PredictedPath path = run(kArenaBoundMetres - 0.25f, 5);  // stopped by the edge from the third step
    EXPECT_NEAR(path.replay(3 * kStep, {-1.0f, 0.0f, 0.0f}, {}).x, kArenaBoundMetres - 0.8f, 1e-4);
    const f32 expected[] = {-1.25f, -1.15f, -1.05f, -1.0f, -0.9f, -0.8f};
    ASSERT_EQ(path.size(), 6u);
    for (u32 step = 0; step < 6; ++step) {
        EXPECT_NEAR(xAt(path, 5 - step), kArenaBoundMetres + expected[step], 1e-4) << step;
    }

    PredictedPath twoMoves = run(0.0f, 3, 1);
    twoMoves.record(4 * kStep, {0.4f, 0.0f, 0.0f}, 2, {kStride, 0.0f, 0.0f});
    EXPECT_NEAR(twoMoves.removeMotion(1 * kStep, 1).x, 0.2f, 1e-5);  // steps 2 and 3 of move 1
    EXPECT_NEAR(xAt(twoMoves, 0), 0.2f, 1e-5);
    EXPECT_NEAR(xAt(twoMoves, 3), 0.1f, 1e-5);
    EXPECT_NEAR(twoMoves.replay(kStep, {}, {}).x, 0.2f, 1e-5);  // the motion taken out stays out
    EXPECT_NEAR(twoMoves.removeMotion(0.0, 0).x, 0.2f, 1e-5);  // all that is left after the start
    EXPECT_NEAR(xAt(twoMoves, 0), 0.0f, 1e-5);
}

}  // namespace
}  // namespace kestrune::scene
