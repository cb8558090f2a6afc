// The opponent's playback between snapshots.

#include "scene/remote_playback.h"

#include <gtest/gtest.h>

namespace kestrune::scene {
namespace {

constexpr f64 kStep = 1.0 / 60.0;

// Two ticks behind its newest sample, holding when the samples run out, catching up at up to
// twice its pace after a gap; stale samples dropped, the ninth pushing out the second; a
// fighter put far away (a new round) or a frozen link placed at once.
TEST(RemotePlayback, PlaysBehindHoldsCatchesUpAndJumpsOverFreezes) {
    RemotePlayback playback;
    NetworkFigures figures;
    Vec3 position;
    Vec3 previous;
    f32 yaw = 0.0f;
    const auto add = [&](u64 tick, Vec3 sample) { playback.add(tick, sample, position, previous, figures); };
    const auto steps = [&](u32 count) {
        for (u32 i = 0; i < count; ++i) playback.advance(kStep, 30, position, yaw, figures);
    };
    add(10, {-2.0f, 0.0f, 0.5f});
    EXPECT_EQ(std::tuple(position, previous, playback.playbackTick()), std::tuple(Vec3{-2.0f, 0.0f, 0.5f},
                                                                                   Vec3{-2.0f, 0.0f, 0.5f}, 8.0));
    add(11, {-1.0f, 0.0f, 0.5f});  // one metre per tick along +x
    steps(1);  // half a tick a step: still before its first sample, where it waits
    EXPECT_EQ(position, (Vec3{-2.0f, 0.0f, 0.5f}));
    steps(3);  // the playback reaches tick 10
    EXPECT_DOUBLE_EQ(playback.playbackTick(), 10.0);
    EXPECT_NEAR(position.x, -2.0f, 1e-6);
    steps(1);
    EXPECT_NEAR(position.x, -1.5f, 1e-5);
    EXPECT_FLOAT_EQ(yaw, 1.57079637f);
    steps(3);  // out of samples: it waits at the newest
    EXPECT_EQ(position, (Vec3{-1.0f, 0.0f, 0.5f}));
    EXPECT_EQ(std::tuple(figures.heldSteps, figures.interpolationSteps), std::tuple(2u, 8u));
    // Behind by 2.5, 2, 1.5, 1 and 0.5 ticks, then none while held: 7.5 ticks over 8 steps.
    EXPECT_NEAR(figures.averageInterpolationDelayMs(), 7.5 / 30.0 * 1000.0 / 8.0, 1e-9);

    add(19, {7.0f, 0.0f, 0.5f});  // after a stall, 8 ticks behind: 5 beyond the delay and a tick, 1.625 times the pace
    steps(1);
    EXPECT_DOUBLE_EQ(playback.playbackTick(), 11.8125);
    EXPECT_NEAR(position.x, -0.1875f, 1e-5);

    add(18, {9.0f, 0.0f, 9.0f});  // older than the newest: dropped
    add(19, {9.0f, 0.0f, 9.0f});  // as old as the newest: dropped too
    EXPECT_EQ(playback.sampleCount(), 2u);
    while (playback.playbackTick() < 17.0) steps(1);  // not so far behind that the playback jumps ahead
    for (u64 tick = 20; tick <= 26; ++tick) add(tick, {7.0f, 0.0f, 0.5f});
    EXPECT_EQ(playback.sampleCount(), 8u);
    // The ninth pushes out the second: the first is where the playback comes from.
    EXPECT_EQ(std::tuple(playback.sample(0).tick, playback.sample(1).tick), std::tuple(11u, 20u));
    EXPECT_EQ(figures.droppedSamples, 3u);
    // Put 1.2 m away in a tick (faster than the 1 m a tick a run can reach): drawn there at once.
    add(27, {7.0f, 0.0f, 1.7f});
    EXPECT_EQ(std::tuple(playback.sampleCount(), position.z), std::tuple(1u, 1.7f));
    // 33 ticks later (a frozen link): at once two ticks behind it, before any step.
    add(60, {7.0f, 0.0f, 0.5f});
    EXPECT_DOUBLE_EQ(playback.playbackTick(), 58.0);
    EXPECT_NEAR(position.z, 1.7f - 1.2f * 31.0f / 33.0f, 1e-5);
    EXPECT_EQ(figures.remoteJumps, 1u);
}

}  // namespace
}  // namespace kestrune::scene
