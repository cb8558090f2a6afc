// The authoring layer's promises that the clips rely on: keyed channels hold exactly where
// two keys agree (planted feet do not creep) and loop without a seam, the gait's planted
// foot travels back at the ground speed, and clip lengths give the format's frame counts.

#include <gtest/gtest.h>

#include <cmath>

#include "motion.h"

namespace kestrune::baker {
namespace {

Pose footAt(f64 z, f64 elbowDegrees) {
    Pose pose;
    pose.feet[kLeft].offset = {0.0, 0.0, z};
    pose[kForearmR].x = elbowDegrees;
    return pose;
}

TEST(KeyedMotion, HoldsWhereKeysAgreeAndClampsOutsideTheKeys) {
    const KeyedMotion motion = KeyedMotion::clamped().key(0.0, footAt(0.0, 0.0)).key(0.5, footAt(0.3, -40.0))
                                   .key(1.0, footAt(0.3, -90.0)).key(1.5, footAt(-0.2, 0.0));
    // Exactly: neither overshoot nor creep.
    for (const f64 t : {0.5, 0.55, 0.75, 0.99, 1.0}) EXPECT_EQ(motion(t).feet[kLeft].offset.z, 0.3) << t;
    const f64 elbow = motion(0.75)[kForearmR].x;
    EXPECT_TRUE(elbow < -40.0 && elbow > -90.0) << elbow;
    EXPECT_EQ(std::tuple(motion(-1.0).feet[kLeft].offset.z, motion(9.0).feet[kLeft].offset.z), std::tuple(0.0, -0.2));
}

TEST(KeyedMotion, LoopsWithoutASeam) {
    const KeyedMotion motion = KeyedMotion::looping(1.0).key(0.1, footAt(0.0, -10.0)).key(0.4, footAt(0.2, -60.0))
                                   .key(0.8, footAt(0.1, -30.0));
    for (const f64 t : {0.0, 0.25, 0.6, 0.95}) {
        SCOPED_TRACE(t);
        EXPECT_NEAR(motion(t)[kForearmR].x, motion(t + 1.0)[kForearmR].x, 1e-9);
        EXPECT_NEAR(motion(t)[kForearmR].x, motion(t - 2.0)[kForearmR].x, 1e-9);
    }
    // Across the wrap from the last key back to the first the curve is continuous.
    EXPECT_NEAR(motion(0.999999)[kForearmR].x, motion(1.000001)[kForearmR].x, 1e-3);
    EXPECT_NEAR(motion(0.1)[kForearmR].x, -10.0, 1e-12);
}

TEST(Gait, PlantedFootTravelsBackAtTheGroundSpeed) {
    Skeleton skeleton;
    skeleton.head[kFootL] = {-0.1, 0.09, 0.0};
    skeleton.head[kFootR] = {0.1, 0.09, 0.0};
    skeleton.head[kToeL] = {-0.1, 0.03, 0.13};
    skeleton.head[kToeR] = {0.1, 0.03, 0.13};
    const Gait gait{.speedMetresPerSecond = 3.0, .periodSeconds = 0.8, .stanceFraction = 0.5};
    // Between the heel roll and the toe roll the foot is flat: its ankle moves at exactly
    // the ground speed, backwards.
    const f64 step = 0.01;
    for (const f64 t : {0.08, 0.12, 0.16, 0.2}) {
        SCOPED_TRACE(t);
        const f64 before = gaitPose(skeleton, Pose{}, gait, t).feet[kLeft].offset.z;
        const f64 after = gaitPose(skeleton, Pose{}, gait, t + step).feet[kLeft].offset.z;
        EXPECT_NEAR((after - before) / step, -3.0, 1e-9);
        EXPECT_EQ(gaitPose(skeleton, Pose{}, gait, t).feet[kLeft].offset.y, 0.0);
    }
}

TEST(ClipDuration, GivesTheFormatsFrameCountOfIntervalsPlusOne) {
    for (const u32 intervals : {1u, 7u, 18u, 19u, 21u, 22u, 23u, 25u, 27u, 53u, 90u}) {
        SCOPED_TRACE(intervals);
        const f32 duration = clipDurationSeconds(intervals);
        EXPECT_EQ(std::max(static_cast<u32>(std::ceil(static_cast<f64>(duration) * 30.0)) + 1u, 2u), intervals + 1u);
        EXPECT_NEAR(duration, intervals / 30.0, 1e-6);
    }
}

}  // namespace
}  // namespace kestrune::baker
