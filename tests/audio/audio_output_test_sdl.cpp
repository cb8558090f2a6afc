// SDL's output, driven through SDL's own headless drivers: "disk" writes every block the device
// would play to a file, "dummy" pulls blocks in real time and discards them.
#include <SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/audio_output.h"
#include "audio/audio_test_support.h"

namespace kestrune::audio {
namespace {

std::vector<std::byte> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::byte> bytes(chars.size());
    for (std::size_t i = 0; i < chars.size(); ++i) {
        bytes[i] = static_cast<std::byte>(chars[i]);
    }
    return bytes;
}

// The disk driver dumps the device buffer as is: AUDIO_S16SYS, little-endian on every host we build for.
i16 sampleAt(const std::vector<std::byte>& bytes, std::size_t index) {
    const auto low = static_cast<u32>(bytes[2 * index]);
    const auto high = static_cast<u32>(bytes[2 * index + 1]);
    return static_cast<i16>(static_cast<u16>(low | (high << 8)));
}

void useDriver(const char* driver) { ASSERT_EQ(setenv("SDL_AUDIODRIVER", driver, 1), 0); }

class TempFile {
public:
    explicit TempFile(const char* stem)
        : path_(std::filesystem::temp_directory_path() /
                (std::string(stem) + "-" + std::to_string(getpid()) + ".raw")) {
        std::filesystem::remove(path_);
    }
    ~TempFile() { std::filesystem::remove(path_); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

TEST(SdlAudioOutput, DiskDriverWritesExactlyWhatTheMixerMixed) {
    const std::vector<i16> tone = test::testTone();
    const PlayRequest first{0, 0.8f, -0.5f, 1};
    const PlayRequest second{0, 1.0f, 0.7f, 2};
    TempFile file("kestrune-audio-output");
    useDriver("disk");
    ASSERT_EQ(setenv("SDL_DISKAUDIOFILE", file.path().c_str(), 1), 0);

    Mixer mixer({tone});
    ASSERT_TRUE(mixer.play(first));  // starts with the first block the device asks for
    std::string whyNot;
    std::unique_ptr<AudioOutput> output = openAudioOutput(mixer, whyNot);
    ASSERT_NE(output, nullptr) << whyNot;
    EXPECT_EQ(output->deviceName(), "SDL disk");
    ASSERT_TRUE(test::waitFor([&] { return mixer.mixedFrames() >= 3 * test::kBlockFrames; }));
    ASSERT_TRUE(mixer.play(second));  // played while the device runs, from whichever block comes next
    ASSERT_TRUE(test::waitFor([&] {
        const std::optional<u64> start = mixer.startFrame(second.serial);
        return start && mixer.mixedFrames() > *start + tone.size() + test::kBlockFrames;
    }));
    output.reset();

    const u64 mixedFrames = mixer.mixedFrames();
    const u64 secondStart = mixer.startFrame(second.serial).value();
    ASSERT_EQ(mixedFrames % test::kBlockFrames, 0u);
    ASSERT_EQ(secondStart % test::kBlockFrames, 0u);

    const std::vector<i16> expected = test::mixOffline(tone, first, second, secondStart, mixedFrames);

    // SDL plays silence while the device is opened paused, so whole silent blocks may come first.
    const std::vector<std::byte> bytes = readFile(file.path());
    const std::size_t frameBytes = kOutputChannels * sizeof(i16);
    ASSERT_GE(bytes.size(), expected.size() * sizeof(i16));
    const std::size_t leadSamples = bytes.size() / sizeof(i16) - expected.size();
    ASSERT_EQ(leadSamples % (test::kBlockFrames * kOutputChannels), 0u) << bytes.size() << " bytes";
    ASSERT_EQ(bytes.size() % frameBytes, 0u);
    for (std::size_t i = 0; i < leadSamples; ++i) {
        ASSERT_EQ(sampleAt(bytes, i), 0) << "lead sample " << i;
    }
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (sampleAt(bytes, leadSamples + i) != expected[i] && mismatches++ < 5) {
            ADD_FAILURE() << "sample " << i << " of the mix: " << sampleAt(bytes, leadSamples + i) << " instead of "
                          << expected[i];
        }
    }
    EXPECT_EQ(mismatches, 0u);
    // Both tones were heard, not just silence compared with silence.
    EXPECT_NE(expected[2 * 100], 0);
    EXPECT_NE(expected[(secondStart + 100) * kOutputChannels + 1], 0);
}

TEST(SdlAudioOutput, DummyDriverPullsTheMixerInBlocksUntilClosed) {
    useDriver("dummy");
    const std::vector<i16> tone = test::testTone();
    Mixer mixer({tone});
    std::string whyNot;
    std::unique_ptr<AudioOutput> output = openAudioOutput(mixer, whyNot);
    ASSERT_NE(output, nullptr) << whyNot;
    EXPECT_EQ(output->deviceName(), "SDL dummy");
    EXPECT_TRUE(whyNot.empty());
    EXPECT_NE(SDL_WasInit(SDL_INIT_AUDIO), 0u);
    ASSERT_TRUE(test::waitFor([&] { return mixer.mixedFrames() >= 2 * test::kBlockFrames; }));
    output.reset();
    EXPECT_EQ(mixer.mixedFrames() % test::kBlockFrames, 0u);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "the audio subsystem is left running";
}

TEST(SdlAudioOutput, WithoutADeviceReturnsNullAndSaysWhy) {
    const struct {
        const char* name;
        const char* driver;
        const char* diskFile;
        const char* message;
    } cases[] = {
        {"unknown driver", "nonexistent", "",
         "SDL could not start its audio (SDL_InitSubSystem: Audio target 'nonexistent' not available)."},
        {"disk driver that cannot write its file", "disk", "/nonexistent-kestrune-folder/out.raw",
         "SDL could not open an audio device with its disk driver (SDL_OpenAudioDevice: Couldn't open "
         "/nonexistent-kestrune-folder/out.raw)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        useDriver(c.driver);
        ASSERT_EQ(setenv("SDL_DISKAUDIOFILE", c.diskFile, 1), 0);
        Mixer mixer({});
        std::string whyNot;
        EXPECT_EQ(openAudioOutput(mixer, whyNot), nullptr);
        EXPECT_EQ(whyNot, c.message);
        EXPECT_EQ(SDL_WasInit(SDL_INIT_AUDIO), 0u) << "the audio subsystem is left running";
        EXPECT_EQ(mixer.mixedFrames(), 0u);
    }
}

}  // namespace
}  // namespace kestrune::audio
