#include "scene/remote_playback.h"

#include <algorithm>
#include <cmath>

namespace kestrune::scene {
namespace {

constexpr f32 kMinHeadingSquaredMetres = 1e-8f;

// How much faster than real time the playback runs when it is `behindTicks` behind the newest
// sample: not at all up to the delay and a little more, then ramping up.
f64 catchUpRate(f64 behindTicks) noexcept {
    const f64 excess = behindTicks - kInterpolationDelayTicks - kCatchUpAfterTicks;
    return 1.0 + std::clamp(excess / kCatchUpRampTicks, 0.0, 1.0) * (kCatchUpMaxRate - 1.0);
}

}  // namespace

bool RemotePlayback::newest(Vec3& position) const noexcept {
    if (count_ == 0) {
        return false;
    }
    position = samples_[count_ - 1].position;
    return true;
}

const RemoteSample* RemotePlayback::sampleAtPlayback() const noexcept {
    return count_ == 0 || playbackTick_ < static_cast<f64>(samples_[0].tick) ? nullptr : &samples_[0];
}

void RemotePlayback::add(u64 tick, Vec3 sample, u16 skill, u8 comboStep, Vec3& position, Vec3& previousPosition,
                         NetworkFigures& figures) noexcept {
    if (count_ > 0 && tick <= samples_[count_ - 1].tick) {
        ++figures.droppedSamples;
        return;
    }
    // The same skill and swing as the sample before is the same run of it.
    if (skill == 0) {
        newestAction_ = {};
    } else if (skill != newestAction_.skill || comboStep != newestAction_.comboStep) {
        newestAction_ = {skill, comboStep, ++actionsSeen_, tick};
    }
    if (count_ == kMaxRemoteSamples) {
        // The playback is always on its way from the oldest sample (it drops samples it has
        // passed), so the one after it goes instead: the fighter then heads for a later sample
        // from where it is drawn, rather than jumping ahead to one.
        std::copy(samples_.begin() + 2, samples_.end(), samples_.begin() + 1);
        --count_;
        ++figures.droppedSamples;
    }
    const f32 reachMetres =
        count_ > 0 ? kRemoteTeleportMetresPerTick * static_cast<f32>(tick - samples_[count_ - 1].tick) : 0.0f;
    const bool teleported =
        count_ > 0 && squaredDistance(sample, samples_[count_ - 1].position) > reachMetres * reachMetres;
    if (teleported) {
        count_ = 0;
    }
    samples_[count_++] = {tick, sample, newestAction_};
    if (!started_ || teleported) {
        started_ = true;
        playbackTick_ = static_cast<f64>(tick) - kInterpolationDelayTicks;
        position = previousPosition = sample;
        return;
    }
    if (static_cast<f64>(tick) - playbackTick_ > kFreezeLagTicks) {
        playbackTick_ = static_cast<f64>(tick) - kInterpolationDelayTicks;
        place(position, nullptr);
        previousPosition = position;
        ++figures.remoteJumps;
    }
}

void RemotePlayback::advance(f64 stepSeconds, u16 tickRate, Vec3& position, f32& yawRadians,
                             NetworkFigures& figures) noexcept {
    if (!started_ || count_ == 0) {
        return;
    }
    const f64 newestTick = static_cast<f64>(samples_[count_ - 1].tick);
    const f64 advancedTick = playbackTick_ + stepSeconds * tickRate * catchUpRate(newestTick - playbackTick_);
    if (advancedTick > newestTick) {
        ++figures.heldSteps;
    }
    playbackTick_ = std::min(advancedTick, newestTick);
    figures.interpolationDelayMsTotal += (newestTick - playbackTick_) * 1000.0 / tickRate;
    ++figures.interpolationSteps;
    place(position, &yawRadians);
}

// The fighter at the playback tick, between the samples around it, facing its way; samples the
// playback has passed are dropped.
void RemotePlayback::place(Vec3& position, f32* yawRadians) noexcept {
    u32 dropped = 0;
    while (count_ - dropped >= 2 && static_cast<f64>(samples_[dropped + 1].tick) <= playbackTick_) {
        ++dropped;
    }
    if (dropped > 0) {
        std::copy(samples_.begin() + dropped, samples_.begin() + count_, samples_.begin());
        count_ -= dropped;
    }
    const RemoteSample& first = samples_[0];
    if (count_ == 1) {
        position = first.position;
        return;
    }
    const RemoteSample& second = samples_[1];
    const Vec3 difference = second.position - first.position;
    if (yawRadians != nullptr && squaredLength(difference) > kMinHeadingSquaredMetres) {
        // In double, rounded once: the C libraries' float atan2 differ in the last bit between
        // platforms, and a replay recorded on one must draw the same heading on the other.
        *yawRadians = static_cast<f32>(std::atan2(static_cast<f64>(difference.x), static_cast<f64>(difference.z)));
    }
    const f64 span = static_cast<f64>(second.tick - first.tick);
    const f64 fraction = span == 0.0 ? 1.0 : std::clamp((playbackTick_ - static_cast<f64>(first.tick)) / span, 0.0, 1.0);
    position = first.position + difference * static_cast<f32>(fraction);
}

// A start shows at once; a stop only after the fighter has stood still a moment, so that a
// step the playback waits at a sample does not flash the idle pose.
ClipUse RemotePlayback::gait(f32 metresPerSecond, f64 stepSeconds) noexcept {
    if (metresPerSecond >= kRemoteMovingMetresPerSecond) {
        stillSeconds_ = 0.0;
        const f32 split = gait_ == ClipUse::run    ? kRemoteRunSplitMetresPerSecond - kRemoteRunMarginMetresPerSecond
                          : gait_ == ClipUse::walk ? kRemoteRunSplitMetresPerSecond + kRemoteRunMarginMetresPerSecond
                                                   : kRemoteRunSplitMetresPerSecond;
        gait_ = metresPerSecond >= split ? ClipUse::run : ClipUse::walk;
    } else {
        stillSeconds_ += stepSeconds;
        if (stillSeconds_ >= kRemoteStillSeconds) {
            gait_ = ClipUse::idle;
        }
    }
    return gait_;
}

}  // namespace kestrune::scene
