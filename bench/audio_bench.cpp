// What sound costs: the mixer filling one 10 ms block (480 frames of 48 kHz stereo) with all
// 32 voices playing, which the output's thread does a hundred times a second, and the
// director hearing a frame's cues on the main thread. Neither may allocate.

#include <benchmark/benchmark.h>

#include <vector>

#include "allocation_counter.h"
#include "audio/mixer.h"
#include "audio/sound_director.h"

namespace {

using namespace kestrune;

constexpr u32 kBlockFrames = 480;

// Sounds of a second each, so that the voices stay busy between restarts.
std::vector<std::vector<i16>> busySounds() {
    std::vector<std::vector<i16>> sounds(content::kSoundCount, std::vector<i16>(audio::kOutputRate));
    u32 state = 1;
    for (auto& sound : sounds) {
        for (i16& sample : sound) {
            state = state * 1664525u + 1013904223u;
            sample = static_cast<i16>(static_cast<i32>(state >> 16) - 32768);
        }
    }
    return sounds;
}

void MixTenMillisecondsOf32Voices(benchmark::State& state) {
    const std::vector<std::vector<i16>> sounds = busySounds();
    audio::Mixer mixer({sounds.begin(), sounds.end()});
    std::vector<i16> block(2 * kBlockFrames);
    u32 serial = 0;
    const auto fill = [&] {
        // Keep the pool full: a voice ends every 100 blocks, a new one starts each block.
        mixer.play({static_cast<u16>(serial % content::kSoundCount), 0.3f, static_cast<f32>(serial % 9) / 4.0f - 1.0f,
                    ++serial});
        mixer.mix(block);
    };
    for (u32 warm = 0; warm < 64; ++warm) fill();
    bench::runFramesCountingAllocations(state, fill);
    benchmark::DoNotOptimize(block.data());
    state.counters["busyVoices"] = static_cast<double>(std::min<u64>(mixer.voicesStarted(), audio::kVoiceCount));
    // The share of the block's 10 ms that mixing it takes, from the mean time per iteration.
    state.counters["shareOfBlock"] = benchmark::Counter(1e-2 * static_cast<double>(state.iterations()),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(MixTenMillisecondsOf32Voices);

void HearAFrameOfCues(benchmark::State& state) {
    const std::vector<std::vector<i16>> sounds = busySounds();
    audio::Mixer mixer({sounds.begin(), sounds.end()});
    audio::SoundDirector director(&mixer);
    const render::Camera camera{{0.0f, 3.15f, -7.25f}, {0.0f, 1.05f, -0.45f}, {0.0f, 1.0f, 0.0f}, 0.8f, 0.1f, 100.0f};
    const scene::SceneCue cues[] = {{scene::CueKind::actionStarted, 0, 1, 2, {-1.0f, 0.0f, -0.8f}},
                                    {scene::CueKind::hitLanded, 1, 1, 0, {1.2f, 0.0f, 1.3f}},
                                    {scene::CueKind::footstep, 1, 0, 1, {1.2f, 0.0f, 1.3f}}};
    std::vector<i16> block(2 * 64);
    u64 frame = 0;
    bench::runFramesCountingAllocations(state, [&] {
        director.hear(cues, camera, ++frame);
        mixer.mix(block);  // the output's side drains the requests
    });
}
BENCHMARK(HearAFrameOfCues);

}  // namespace
