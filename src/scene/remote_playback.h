#pragma once
// The opponent between the server's snapshots: its positions and running actions by tick,
// played a little behind the newest so that a snapshot that comes late does not stop it,
// caught up with after a stall, jumped over after a freeze, and the gait (idle, walk or run)
// its drawn speed shows. Fed by the snapshots, advanced by the fixed steps; writes the drawn
// position and yaw, and tells which action the server runs at the drawn moment.

#include <array>

#include "base/types.h"
#include "scene/clip_table.h"
#include "scene/frame_scene.h"
#include "scene/scene_math.h"

namespace kestrune::scene {

inline constexpr u32 kMaxRemoteSamples = 8;
// Played this far behind the newest sample when it arrives, so that until the next one the
// playback still has a sample ahead. Further behind than that by more than a tick (after a
// stall), playback speeds up, to at most twice its pace 8 ticks later, until it has caught up.
inline constexpr f64 kInterpolationDelayTicks = 2.0;
inline constexpr f64 kCatchUpAfterTicks = 1.0;
inline constexpr f64 kCatchUpRampTicks = 8.0;
inline constexpr f64 kCatchUpMaxRate = 2.0;
// Further behind than this (a frozen link, a server whose ticks jumped) is no lag to catch up
// with: the playback goes straight to its point behind the newest sample.
inline constexpr f64 kFreezeLagTicks = 10.0;
static_assert(kFreezeLagTicks > kInterpolationDelayTicks + kCatchUpAfterTicks + 2.0,
              "ordinary jitter is caught up with, not jumped over");
// Faster than this from its last sample (six times a run) the fighter was put there (a new
// round), not run there: it is drawn there at once.
inline constexpr f32 kRemoteTeleportMetresPerTick = 1.0f;
// The gait follows the drawn speed: moving above the first speed, running above the split
// (walking below it, with a margin either way so the clip does not flicker), idle once it has
// stood still for a while.
inline constexpr f32 kRemoteMovingMetresPerSecond = 0.5f;
inline constexpr f32 kRemoteRunSplitMetresPerSecond = 3.2f;
inline constexpr f32 kRemoteRunMarginMetresPerSecond = 0.4f;
inline constexpr f64 kRemoteStillSeconds = 0.12;

// The server's action in a sample: each run of one (a skill, or one swing of the combo) has
// its own number, counting up, and the tick of the first sample that showed it.
struct RemoteAction {
    u16 skill = 0;  // 0: free
    u8 comboStep = 0;
    u32 number = 0;  // 0 while free
    u64 sinceTick = 0;
};

struct RemoteSample {
    u64 tick = 0;
    Vec3 position;
    RemoteAction action;
};

class RemotePlayback {
public:
    void reset() noexcept { *this = RemotePlayback{}; }
    bool started() const noexcept { return started_; }
    f64 playbackTick() const noexcept { return playbackTick_; }
    u32 sampleCount() const noexcept { return count_; }
    const RemoteSample& sample(u32 index) const noexcept { return samples_[index]; }
    // The newest position the server gave, which the opponent's body blocks; false before any.
    bool newest(Vec3& position) const noexcept;

    // The server's position of the fighter at `tick`. A sample older than the newest is dropped;
    // the first, one put far away (a new round) or one after a freeze places the fighter at
    // once, through `position`, before the events that came with it place their effects.
    void add(u64 tick, Vec3 sample, Vec3& position, Vec3& previousPosition, NetworkFigures& figures) noexcept {
        add(tick, sample, 0, 0, position, previousPosition, figures);
    }
    // The same with the action the server runs then (`skill` 0 for none, the combo step of a swing).
    void add(u64 tick, Vec3 sample, u16 skill, u8 comboStep, Vec3& position, Vec3& previousPosition,
             NetworkFigures& figures) noexcept;
    // The newest sample the playback has reached; null before it has reached one.
    const RemoteSample* sampleAtPlayback() const noexcept;
    // One fixed step at `tickRate`: the playback moves on and places the fighter, facing its way.
    void advance(f64 stepSeconds, u16 tickRate, Vec3& position, f32& yawRadians, NetworkFigures& figures) noexcept;
    // The gait a fighter drawn moving `metresPerSecond` this step shows.
    ClipUse gait(f32 metresPerSecond, f64 stepSeconds) noexcept;

private:
    void place(Vec3& position, f32* yawRadians) noexcept;

    std::array<RemoteSample, kMaxRemoteSamples> samples_{};  // oldest first
    u32 count_ = 0;
    f64 playbackTick_ = 0.0;
    bool started_ = false;
    ClipUse gait_ = ClipUse::idle;
    f64 stillSeconds_ = 0.0;
    RemoteAction newestAction_;  // of the newest sample, also once the samples are gone
    u32 actionsSeen_ = 0;
};

}  // namespace kestrune::scene
