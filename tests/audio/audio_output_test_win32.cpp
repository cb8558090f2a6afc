// XAudio2's output under Wine, on a device of ALSA's that writes what Wine plays to a file
// (scripts/wine-exec's KESTRUNE_WINE_AUDIO=file:<path>). The program with and without a device
// is the sound end-to-end run's test under Wine.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/audio_output.h"
#include "audio/audio_test_support.h"

namespace kestrune::audio {
namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// What Wine played, as 16-bit samples: the device is 32-bit float stereo at 48 kHz, and XAudio2
// turns our 16-bit samples into floats by dividing by 32768, which the rounding undoes exactly.
std::vector<i16> capturedSamples(const std::string& unixPath) {
    std::ifstream in("Z:" + unixPath, std::ios::binary);
    const std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(chars.size() % (kOutputChannels * sizeof(f32)), 0u) << "not whole float stereo frames";
    std::vector<i16> samples(chars.size() / sizeof(f32));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        u32 bits = 0;
        for (u32 byte = 0; byte < sizeof(f32); ++byte) {
            bits |= static_cast<u32>(static_cast<unsigned char>(chars[i * sizeof(f32) + byte])) << (8 * byte);
        }
        const f32 scaled = std::bit_cast<f32>(bits) * 32768.0f;
        EXPECT_EQ(scaled, std::nearbyint(scaled)) << "sample " << i << " is not a 16-bit value";
        samples[i] = static_cast<i16>(std::lround(scaled));
    }
    return samples;
}

// The stereo frames that are not silent, in order. Wine plays silence wherever a block came
// late, so the device's stream is the mix with silent stretches added; without them the two
// must be equal, which a lost, repeated, reordered or altered block breaks.
std::vector<i16> audibleFrames(const std::vector<i16>& samples) {
    std::vector<i16> audible;
    for (std::size_t i = 0; i + 1 < samples.size(); i += kOutputChannels) {
        if (samples[i] != 0 || samples[i + 1] != 0) {
            audible.insert(audible.end(), {samples[i], samples[i + 1]});
        }
    }
    return audible;
}

TEST(XAudio2Output, DevicePlaysExactlyWhatTheMixerMixed) {
    const std::string capture = environment("KESTRUNE_WINE_AUDIO_FILE");
    if (capture.empty()) {
        GTEST_SKIP() << "needs Wine's output written to a file (KESTRUNE_WINE_AUDIO=file:<path>)";
    }
    const std::vector<i16> tone = test::testTone();
    const PlayRequest first{0, 0.8f, -0.5f, 1};
    const PlayRequest second{0, 1.0f, 0.7f, 2};
    Mixer mixer({tone});
    ASSERT_TRUE(mixer.play(first));
    std::string whyNot;
    std::unique_ptr<AudioOutput> output = openAudioOutput(mixer, whyNot);
    ASSERT_NE(output, nullptr) << whyNot;
    ASSERT_TRUE(test::waitFor([&] { return mixer.mixedFrames() >= 3 * test::kBlockFrames; }));
    ASSERT_TRUE(mixer.play(second));
    // Mixed far enough past the second tone that its last block has been played, not just queued.
    ASSERT_TRUE(test::waitFor([&] {
        const std::optional<u64> start = mixer.startFrame(second.serial);
        return start && mixer.mixedFrames() > *start + tone.size() + 8 * test::kBlockFrames;
    }));
    output.reset();  // closes Wine's device, and with it the file

    const u64 mixedFrames = mixer.mixedFrames();
    const u64 secondStart = mixer.startFrame(second.serial).value();
    const std::vector<i16> expected = test::mixOffline(tone, first, second, secondStart, mixedFrames);

    const std::vector<i16> captured = capturedSamples(capture);
    const std::vector<i16> played = audibleFrames(captured);
    const std::vector<i16> mixed = audibleFrames(expected);
    ASSERT_GT(mixed.size(), tone.size()) << "both tones are in the mix";
    ASSERT_EQ(played.size(), mixed.size());
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < mixed.size(); ++i) {
        if (played[i] != mixed[i] && mismatches++ < 5) {
            ADD_FAILURE() << "audible sample " << i << ": " << played[i] << " instead of " << mixed[i];
        }
    }
    EXPECT_EQ(mismatches, 0u);
    RecordProperty("capturedFrames", static_cast<int>(captured.size() / kOutputChannels));
}

}  // namespace
}  // namespace kestrune::audio
