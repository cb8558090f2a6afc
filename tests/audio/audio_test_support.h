#pragma once
// What the output tests play and how they wait for a real device's thread.

#include <chrono>
#include <cmath>
#include <functional>
#include <span>
#include <thread>
#include <vector>

#include "audio/mixer.h"

namespace kestrune::audio::test {

inline constexpr u32 kBlockFrames = 480;  // what both outputs ask of the mixer at a time

// A 440 Hz tone under a falling ramp, 0.1 s long: no two blocks of it are alike, so a lost,
// repeated or reordered block shows in a comparison.
inline std::vector<i16> testTone() {
    constexpr u32 kFrames = kOutputRate / 10;
    std::vector<i16> samples(kFrames);
    for (u32 i = 0; i < kFrames; ++i) {
        const f64 envelope = 1.0 - static_cast<f64>(i) / kFrames;
        const f64 phase = 2.0 * 3.141592653589793 * 440.0 * i / kOutputRate;
        samples[i] = static_cast<i16>(std::lround(20000.0 * envelope * std::sin(phase)));
    }
    return samples;
}

// What `mixer`'s thread mixed, mixed again offline: `first` queued before the first block,
// `second` before the block at `secondStartFrame`, in blocks of kBlockFrames up to `frames`.
inline std::vector<i16> mixOffline(std::span<const i16> sound, const PlayRequest& first, const PlayRequest& second,
                                   u64 secondStartFrame, u64 frames) {
    Mixer reference({sound});
    reference.play(first);
    std::vector<i16> mixed(frames * kOutputChannels);
    for (u64 frame = 0; frame < frames; frame += kBlockFrames) {
        if (frame == secondStartFrame) {
            reference.play(second);
        }
        reference.mix(std::span<i16>(mixed).subspan(frame * kOutputChannels, kBlockFrames * kOutputChannels));
    }
    return mixed;
}

// Polls `condition` until it holds; the guard only keeps a stalled device from hanging the run.
inline bool waitFor(const std::function<bool()>& condition) {
    constexpr auto kHangGuard = std::chrono::seconds(20);
    const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace kestrune::audio::test
