// The mixer against a plain reference: every block size, every voice count up to past the
// pool, stealing oldest first, gains, pan, volume and clipping, sample for sample; and the
// director's choice and placement of sounds. (Its per-frame list and serials are the frame
// loop's test; where the sounds began on a device, the sound end-to-end run's.)

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "audio/mixer.h"
#include "audio/sound_director.h"

namespace kestrune::audio {
namespace {

// Sounds of distinct lengths and shapes, loud enough that sums clip.
std::vector<std::vector<i16>> makeSounds() {
    std::vector<std::vector<i16>> sounds;
    std::mt19937 random(7);
    for (u32 length : {1u, 37u, 480u, 1000u, 5003u}) {
        std::vector<i16> samples(length);
        for (i16& sample : samples) sample = static_cast<i16>(static_cast<i32>(random() % 65536) - 32768);
        sounds.push_back(std::move(samples));
    }
    return sounds;
}

std::vector<std::span<const i16>> views(const std::vector<std::vector<i16>>& sounds) {
    return {sounds.begin(), sounds.end()};
}

// What the mixer should give: each request starts at the first frame of the block after it was
// asked for, in the first free voice or else the oldest one's, and the voices are summed in
// pool order, rounded and clipped.
struct Reference {
    struct Voice { const std::vector<i16>* sound = nullptr; u64 start = 0; f32 left = 0; f32 right = 0; u64 order = 0; };
    std::array<Voice, kVoiceCount> voices{};
    u64 order = 0;

    void start(const std::vector<i16>& sound, const PlayRequest& request, u64 frame) {
        for (Voice& v : voices) {
            if (v.sound != nullptr && frame >= v.start + v.sound->size()) v.sound = nullptr;
        }
        auto chosen = std::find_if(voices.begin(), voices.end(), [](const Voice& v) { return v.sound == nullptr; });
        if (chosen == voices.end()) {
            chosen = std::min_element(voices.begin(), voices.end(),
                                      [](const Voice& a, const Voice& b) { return a.order < b.order; });
        }
        const PanGains pan = panGains(request.pan);
        const f32 gain = std::clamp(request.gain, 0.0f, 1.0f);
        *chosen = {&sound, frame, pan.left * gain, pan.right * gain, order++};
    }
    i16 sample(u64 frame, u32 channel, f32 volume) const {
        f32 sum = 0.0f;
        for (const Voice& v : voices) {
            if (v.sound != nullptr && frame >= v.start && frame < v.start + v.sound->size()) {
                sum += static_cast<f32>((*v.sound)[frame - v.start]) * (channel == 0 ? v.left : v.right);
            }
        }
        return static_cast<i16>(std::clamp(std::nearbyint(sum * volume), -32768.0f, 32767.0f));
    }
};

TEST(Mixer, MatchesTheReferenceSampleForSample) {
    const std::vector<std::vector<i16>> sounds = makeSounds();
    for (const u32 seed : {1u, 2u, 3u}) {
        Mixer mixer(views(sounds));
        Reference reference;
        std::mt19937 random(seed);
        u64 frame = 0;
        u32 serial = 0;
        std::vector<i16> block;
        for (u32 round = 0; round < 300; ++round) {
            const u32 requests = random() % 5 == 0 ? 40 : random() % 3;  // sometimes past the pool
            std::vector<PlayRequest> asked;
            for (u32 i = 0; i < requests; ++i) {
                PlayRequest request{static_cast<u16>(random() % sounds.size()),
                                    static_cast<f32>(random() % 1200) / 1000.0f - 0.1f,
                                    static_cast<f32>(random() % 2400) / 1000.0f - 1.2f, ++serial};
                if (mixer.play(request)) asked.push_back(request);
            }
            const f32 volume = round % 7 == 0 ? 0.5f : 1.0f;
            mixer.setVolume(volume);
            for (const PlayRequest& request : asked) reference.start(sounds[request.sound], request, frame);
            const u32 frames = 1 + random() % 1500;  // across the mixer's own chunks
            block.assign(2 * frames, 0);
            mixer.mix(block);
            for (u32 i = 0; i < frames; ++i) {
                ASSERT_EQ(block[2 * i], reference.sample(frame + i, 0, volume)) << "seed " << seed << " frame " << frame + i;
                ASSERT_EQ(block[2 * i + 1], reference.sample(frame + i, 1, volume)) << "seed " << seed << " frame " << frame + i;
            }
            for (const PlayRequest& request : asked) {
                ASSERT_EQ(mixer.startFrame(request.serial), std::optional<u64>(frame));
            }
            frame += frames;
        }
        EXPECT_EQ(mixer.mixedFrames(), frame);
        EXPECT_GT(mixer.voicesStolen(), 0u);
    }
}

TEST(Mixer, RefusesUnknownSoundsAndAFullQueue) {
    const std::vector<std::vector<i16>> sounds = makeSounds();
    Mixer mixer(views(sounds));
    EXPECT_FALSE(mixer.play({static_cast<u16>(sounds.size()), 1.0f, 0.0f, 1}));
    for (u32 i = 0; i < kRequestQueueCapacity; ++i) EXPECT_TRUE(mixer.play({0, 1.0f, 0.0f, i + 2}));
    EXPECT_FALSE(mixer.play({0, 1.0f, 0.0f, 999}));
    EXPECT_EQ(mixer.requestsDropped(), 2u);
    std::vector<i16> block(2 * 64);
    mixer.mix(block);
    EXPECT_EQ(mixer.voicesStarted(), kRequestQueueCapacity);
    EXPECT_EQ(mixer.voicesStolen(), kRequestQueueCapacity - kVoiceCount);
    EXPECT_FALSE(mixer.startFrame(999).has_value());
    EXPECT_TRUE(mixer.play({0, 1.0f, 0.0f, 1000}));  // room again once mixed
}

TEST(Mixer, PansWithEqualPower) {
    for (const f32 pan : {-2.0f, -1.0f, -0.5f, 0.0f, 0.25f, 1.0f, 3.0f}) {
        const PanGains gains = panGains(pan);
        EXPECT_NEAR(gains.left * gains.left + gains.right * gains.right, 1.0f, 1e-6f) << pan;
        EXPECT_EQ(gains.left > gains.right, pan < 0.0f) << pan;
    }
    EXPECT_NEAR(panGains(-1.0f).right, 0.0f, 1e-6f);
    EXPECT_NEAR(panGains(1.0f).left, 0.0f, 1e-6f);
}

using content::Sound;
using scene::CueKind;

TEST(SoundDirector, ChoosesTheSoundOfEachCue) {
    struct Case { CueKind kind; u8 action; u8 detail; std::optional<Sound> sound; };
    const Case cases[] = {
        {CueKind::actionStarted, 1, 0, Sound::swing1},   {CueKind::actionStarted, 1, 3, Sound::swing4},
        {CueKind::actionStarted, 1, 9, Sound::swing4},   {CueKind::actionStarted, 2, 0, Sound::skill1Cast},
        {CueKind::actionStarted, 3, 0, Sound::skill2Charge}, {CueKind::actionStarted, 4, 0, Sound::swingHeavy},
        {CueKind::actionStarted, 5, 0, Sound::jump},     {CueKind::actionStarted, 0, 0, std::nullopt},
        {CueKind::actionStruck, 3, 0, Sound::skill2Beam}, {CueKind::actionStruck, 1, 0, std::nullopt},
        {CueKind::hitLanded, 1, 0, Sound::hitBasic},     {CueKind::hitLanded, 4, 0, Sound::hitHeavy},
        {CueKind::hitLanded, 2, 0, Sound::skill1Lock},   {CueKind::hitLanded, 3, 0, Sound::hitHeavy},
        {CueKind::hitLanded, 5, 0, Sound::hitBasic},     {CueKind::landed, 0, 0, Sound::landing},
        {CueKind::footstep, 0, 0, Sound::stepWalk},      {CueKind::footstep, 0, 1, Sound::stepRun},
        {CueKind::knockedDown, 0, 0, Sound::knockout},   {CueKind::roundStarted, 0, 0, Sound::roundStart},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(soundOfCue({c.kind, 0, c.action, c.detail, {}}), c.sound)
            << static_cast<int>(c.kind) << " " << int(c.action) << " " << int(c.detail);
    }
}

TEST(SoundDirector, PlacesSoundsWhereTheyAreSeen) {
    // Behind the warrior's start, looking along +z: +x is to the right of the picture.
    const render::Camera camera{{0.0f, 3.0f, -6.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, 0.8f, 0.1f, 100.0f};
    f32 lastPan = -2.0f;
    for (f32 x = -12.0f; x <= 12.0f; x += 0.5f) {
        const SoundPlacement placed = placeSound(camera, {x, 0.0f, 1.0f});
        EXPECT_GE(placed.pan, lastPan) << x;  // further right, never further left
        EXPECT_EQ(placed.pan > 0.0f, x > 0.0f) << x;
        EXPECT_GE(placed.pan, -1.0f);
        EXPECT_LE(placed.pan, 1.0f);
        lastPan = placed.pan;
    }
    EXPECT_EQ(placeSound(camera, {0.0f, 1.0f, -1.0f}).gain, 1.0f);
    EXPECT_LT(placeSound(camera, {0.0f, 0.0f, 12.0f}).gain, placeSound(camera, {0.0f, 0.0f, 6.0f}).gain);
    EXPECT_EQ(placeSound(camera, {0.0f, 0.0f, 500.0f}).gain, kFarGain);
    // A sound at the picture's edge pans fully.
    EXPECT_NEAR(std::abs(placeSound(camera, {40.0f, 1.0f, 1.0f}).pan), 1.0f, 1e-6f);
}

}  // namespace
}  // namespace kestrune::audio
