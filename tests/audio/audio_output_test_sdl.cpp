// SDL's output, driven through SDL's own headless drivers: "dummy" pulls blocks in real time and
// discards them, "disk" writes them to a file (here: one it cannot write).
#include <SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "audio/audio_output.h"
#include "audio/audio_test_support.h"

namespace kestrune::audio {
namespace {

void useDriver(const char* driver) { ASSERT_EQ(setenv("SDL_AUDIODRIVER", driver, 1), 0); }

// (What the disk driver writes is checked sample for sample through the whole program, by the
// sound end-to-end run.)
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
    // Sounds asked for while the device's thread mixes (the ThreadSanitizer build watches the queue).
    u32 serial = 0;
    ASSERT_TRUE(test::waitFor([&] {
        mixer.play({0, 0.5f, 0.0f, ++serial});
        return mixer.mixedFrames() >= 8 * test::kBlockFrames && mixer.voicesStarted() >= 2;
    }));
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
