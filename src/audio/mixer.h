#pragma once
// The duel's mixer: a fixed pool of voices over the content's sounds (mono, 48 kHz), mixed to
// 48 kHz interleaved stereo 16-bit. The main thread asks for sounds through a bounded
// single-producer queue; the output's thread mixes blocks and starts what was asked at the
// start of the next block. A full pool gives the oldest voice to the new sound. Nothing is
// allocated after construction, on either side.
//
// Each voice is panned with equal power (pan -1 all left, +1 all right) and scaled by its own
// gain and the master volume; voices are summed in float and rounded to the nearest sample,
// clipped to the 16-bit range.

#include <array>
#include <atomic>
#include <optional>
#include <span>
#include <vector>

#include "base/types.h"

namespace kestrune::audio {

inline constexpr u32 kOutputRate = 48000;
inline constexpr u32 kOutputChannels = 2;
inline constexpr u32 kVoiceCount = 32;
inline constexpr u32 kRequestQueueCapacity = 64;  // a power of two
inline constexpr u32 kStartLogCapacity = 1024;    // a power of two
inline constexpr u32 kMixChunkFrames = 512;       // frames summed in float at a time

struct PlayRequest {
    u16 sound = 0;     // index into the mixer's sounds
    f32 gain = 1.0f;   // 0 to 1
    f32 pan = 0.0f;    // -1 left to +1 right
    u32 serial = 0;    // the caller's number for it, for startFrame
};

// The left and right gains of `pan` (clamped to [-1, 1]) at unit gain.
struct PanGains {
    f32 left;
    f32 right;
};
PanGains panGains(f32 pan) noexcept;

class Mixer {
public:
    // `sounds` index the requests' sound numbers; their samples must outlive the mixer.
    explicit Mixer(std::vector<std::span<const i16>> sounds);
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    // ---- Main thread ----
    // Queues `request` for the next block; false (and counted) when the queue is full or the
    // sound is unknown.
    bool play(const PlayRequest& request) noexcept;
    // Master volume 0 to 1 (clamped), from the next block on.
    void setVolume(f32 volume) noexcept;

    // ---- The output's thread ----
    // Fills `out` (left, right, left, ...; an even count) with the next frames.
    void mix(std::span<i16> out) noexcept;

    // ---- Any thread ----
    u64 mixedFrames() const noexcept { return mixedFrames_.load(std::memory_order_acquire); }
    u64 voicesStarted() const noexcept { return started_.load(std::memory_order_acquire); }
    u64 voicesStolen() const noexcept { return stolen_.load(std::memory_order_acquire); }
    u64 requestsDropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }
    // The output frame at which the request numbered `serial` started playing, while it is
    // among the last kStartLogCapacity started; empty before it starts.
    std::optional<u64> startFrame(u32 serial) const noexcept;

private:
    struct Voice {
        const i16* samples = nullptr;  // null: free
        u32 length = 0;
        u32 position = 0;
        f32 left = 0.0f;
        f32 right = 0.0f;
        u64 startedAt = 0;  // the start order, for stealing the oldest
    };
    struct StartEntry {
        std::atomic<u32> serial{0};
        std::atomic<u64> frame{0};
    };

    void startVoice(const PlayRequest& request) noexcept;

    std::vector<std::span<const i16>> sounds_;
    std::array<Voice, kVoiceCount> voices_{};
    std::array<PlayRequest, kRequestQueueCapacity> queue_{};
    std::atomic<u32> queueHead_{0};  // next to read (output thread)
    std::atomic<u32> queueTail_{0};  // next to write (main thread)
    std::atomic<f32> volume_{1.0f};
    std::array<f32, kOutputChannels * kMixChunkFrames> accumulator_{};
    std::array<StartEntry, kStartLogCapacity> startLog_{};
    std::atomic<u64> mixedFrames_{0};
    std::atomic<u64> started_{0};
    std::atomic<u64> stolen_{0};
    std::atomic<u64> dropped_{0};
};

}  // namespace kestrune::audio
