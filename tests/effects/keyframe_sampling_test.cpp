#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "effects/keyframe_sampling.h"

namespace kestrune::effects {
namespace {

// A key whose every value is `value`, with the given alpha and a red channel of 0x33.
Keyframe ramp(f32 time, f32 value, u32 alpha) {
    return {time, (alpha << 24) | 0x330000u, {value, value, value, value}, {value, value, value, value}};
}

TEST(KeyframeSampling, UnpacksChannelsFromTheirBits) {
    const auto colour = unpackColour(0x80FF4F01);
    EXPECT_FLOAT_EQ(colour[0], 1.0f);
    EXPECT_FLOAT_EQ(colour[1], 79.0f / 255.0f);
    EXPECT_FLOAT_EQ(colour[2], 1.0f / 255.0f);
    EXPECT_FLOAT_EQ(colour[3], 128.0f / 255.0f);
}

TEST(KeyframeSampling, HoldsEndsAndInterpolatesBetweenKeys) {
    const std::vector<Keyframe> keys{ramp(0.2f, 10.0f, 0x00), ramp(0.5f, 20.0f, 0xFF), ramp(0.5f, 40.0f, 0x00),
                                     ramp(0.75f, 50.0f, 0x80)};
    const struct {
        const char* name;
        f32 t;
        f32 value;
        f32 alpha;
    } cases[] = {
        {"before the first key", 0.0f, 10.0f, 0.0f},
        {"at the first key", 0.2f, 10.0f, 0.0f},
        {"between the first two keys", 0.35f, 15.0f, 0.5f},
        {"at a key shared by two keys takes the earlier", 0.5f, 20.0f, 1.0f},
        {"just after a shared time ramps from the later", 0.625f, 45.0f, 64.0f / 255.0f},
        {"at the last key", 0.75f, 50.0f, 128.0f / 255.0f},
        {"past the last key", 1.0f, 50.0f, 128.0f / 255.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const KeyframeSample sample = sampleTrack(keys, c.t);
        EXPECT_FLOAT_EQ(sample.a[0], c.value);
        EXPECT_FLOAT_EQ(sample.a[3], c.value);
        EXPECT_FLOAT_EQ(sample.b[0], c.value);
        EXPECT_FLOAT_EQ(sample.b[3], c.value);
        EXPECT_FLOAT_EQ(sample.colour[3], c.alpha);
        EXPECT_FLOAT_EQ(sample.colour[0], 0x33 / 255.0f);
    }
}

TEST(KeyframeSampling, KeysAtMostAMillionthApartStepToTheLaterKey) {
    const struct {
        const char* name;
        f32 secondTime;
        f32 t;
        f32 value;
    } cases[] = {
        {"a millionth apart is a step", 1e-6f, 0.5e-6f, 2.0f},
        {"two millionths apart is a ramp", 2e-6f, 1e-6f, 1.5f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Keyframe> keys{ramp(0.0f, 1.0f, 0), ramp(c.secondTime, 2.0f, 0)};
        EXPECT_FLOAT_EQ(sampleTrack(keys, c.t).a[0], c.value);
    }
}

TEST(KeyframeSampling, SingleKeyHoldsEverywhere) {
    const std::vector<Keyframe> keys{ramp(0.5f, 7.0f, 0x40)};
    for (const f32 t : {0.0f, 0.5f, 1.0f}) {
        SCOPED_TRACE(t);
        EXPECT_EQ(sampleTrack(keys, t).a[1], 7.0f);
    }
}

TEST(KeyframeSampling, DuplicatedFirstKeyOfTrackZero) {
    const auto keys = trackKeys(keyframeTracks()[0]);
    EXPECT_EQ(sampleTrack(keys, 0.0f).colour[3], 0.0f);
    // Halfway from the second time-0 key to the key at 0.1 (alpha 0x90).
    EXPECT_FLOAT_EQ(sampleTrack(keys, 0.05f).colour[3], 0.5f * 0x90 / 255.0f);
    EXPECT_FLOAT_EQ(sampleTrack(keys, 0.05f).a[3], 4.8f);
}

TEST(KeyframeSampling, RejectsAnEmptyTrack) {
    try {
        sampleTrack({}, 0.5f);
        FAIL() << "expected std::invalid_argument";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "keyframe track has no keys");
    }
}

}  // namespace
}  // namespace kestrune::effects
