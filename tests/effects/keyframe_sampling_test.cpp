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

TEST(KeyframeSampling, HoldsEndsAndInterpolatesBetweenKeys) {
    const std::vector<Keyframe> keys{ramp(0.2f, 10.0f, 0x00), ramp(0.5f, 20.0f, 0xFF), ramp(0.5f, 40.0f, 0x00),
                                     ramp(0.75f, 50.0f, 0x80)};
    const std::vector<Keyframe> single{ramp(0.5f, 7.0f, 0x40)};
    // Keys at most a millionth apart step to the later key.
    const std::vector<Keyframe> aMillionthApart{ramp(0.0f, 1.0f, 0), ramp(1e-6f, 2.0f, 0)};
    const std::vector<Keyframe> twoMillionthsApart{ramp(0.0f, 1.0f, 0), ramp(2e-6f, 2.0f, 0)};
    const struct {
        const char* name;
        const std::vector<Keyframe>& keys;
        f32 t;
        f32 value;
        f32 alpha;
    } cases[] = {
        {"before the first key", keys, 0.0f, 10.0f, 0.0f},
        {"at the first key", keys, 0.2f, 10.0f, 0.0f},
        {"between the first two keys", keys, 0.35f, 15.0f, 0.5f},
        {"at a key shared by two keys takes the earlier", keys, 0.5f, 20.0f, 1.0f},
        {"just after a shared time ramps from the later", keys, 0.625f, 45.0f, 64.0f / 255.0f},
        {"at the last key", keys, 0.75f, 50.0f, 128.0f / 255.0f},
        {"past the last key", keys, 1.0f, 50.0f, 128.0f / 255.0f},
        {"a single key before it", single, 0.0f, 7.0f, 64.0f / 255.0f},
        {"a single key at it", single, 0.5f, 7.0f, 64.0f / 255.0f},
        {"a single key after it", single, 1.0f, 7.0f, 64.0f / 255.0f},
        {"a millionth apart is a step", aMillionthApart, 0.5e-6f, 2.0f, 0.0f},
        {"two millionths apart is a ramp", twoMillionthsApart, 1e-6f, 1.5f, 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const KeyframeSample sample = sampleTrack(c.keys, c.t);
        EXPECT_FLOAT_EQ(sample.a[0], c.value);
        EXPECT_FLOAT_EQ(sample.a[3], c.value);
        EXPECT_FLOAT_EQ(sample.b[0], c.value);
        EXPECT_FLOAT_EQ(sample.b[3], c.value);
        EXPECT_FLOAT_EQ(sample.colour[3], c.alpha);
        EXPECT_FLOAT_EQ(sample.colour[0], 0x33 / 255.0f);
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
