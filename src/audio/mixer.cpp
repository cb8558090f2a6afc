#include "audio/mixer.h"

#include <algorithm>
#include <cmath>

namespace kestrune::audio {
namespace {

constexpr f32 kQuarterPi = 0.785398163397448309616f;

i16 toSample(f32 value) noexcept {
    const f32 rounded = std::nearbyint(value);
    return static_cast<i16>(std::clamp(rounded, -32768.0f, 32767.0f));
}

}  // namespace

PanGains panGains(f32 pan) noexcept {
    const f32 angle = (std::clamp(pan, -1.0f, 1.0f) + 1.0f) * kQuarterPi;
    return {std::cos(angle), std::sin(angle)};
}

Mixer::Mixer(std::vector<std::span<const i16>> sounds) : sounds_(std::move(sounds)) {}

bool Mixer::play(const PlayRequest& request) noexcept {
    const u32 tail = queueTail_.load(std::memory_order_relaxed);
    if (request.sound >= sounds_.size() || sounds_[request.sound].empty() ||
        tail - queueHead_.load(std::memory_order_acquire) >= kRequestQueueCapacity) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    queue_[tail % kRequestQueueCapacity] = request;
    queueTail_.store(tail + 1, std::memory_order_release);
    return true;
}

void Mixer::setVolume(f32 volume) noexcept {
    volume_.store(std::clamp(volume, 0.0f, 1.0f), std::memory_order_relaxed);
}

std::optional<u64> Mixer::startFrame(u32 serial) const noexcept {
    const StartEntry& entry = startLog_[serial % kStartLogCapacity];
    // The writer stores the frame before the serial: a matching serial carries its frame.
    if (entry.serial.load(std::memory_order_acquire) != serial || serial == 0) {
        return std::nullopt;
    }
    return entry.frame.load(std::memory_order_relaxed);
}

// A free voice, or else the one started longest ago.
void Mixer::startVoice(const PlayRequest& request) noexcept {
    Voice* chosen = &voices_[0];
    for (Voice& voice : voices_) {
        if (voice.samples == nullptr) {
            chosen = &voice;
            break;
        }
        if (voice.startedAt < chosen->startedAt) {
            chosen = &voice;
        }
    }
    if (chosen->samples != nullptr) {
        stolen_.fetch_add(1, std::memory_order_relaxed);
    }
    const std::span<const i16> sound = sounds_[request.sound];
    const PanGains pan = panGains(request.pan);
    const f32 gain = std::clamp(request.gain, 0.0f, 1.0f);
    const u64 order = started_.load(std::memory_order_relaxed);
    *chosen = Voice{sound.data(), static_cast<u32>(sound.size()), 0, pan.left * gain, pan.right * gain, order};
    StartEntry& entry = startLog_[request.serial % kStartLogCapacity];
    entry.frame.store(mixedFrames_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    entry.serial.store(request.serial, std::memory_order_release);
    started_.store(order + 1, std::memory_order_release);
}

void Mixer::mix(std::span<i16> out) noexcept {
    const u32 tail = queueTail_.load(std::memory_order_acquire);
    for (u32 head = queueHead_.load(std::memory_order_relaxed); head != tail; ++head) {
        startVoice(queue_[head % kRequestQueueCapacity]);
        queueHead_.store(head + 1, std::memory_order_release);
    }
    const f32 volume = volume_.load(std::memory_order_relaxed);
    const std::size_t frames = out.size() / kOutputChannels;
    for (std::size_t first = 0; first < frames; first += kMixChunkFrames) {
        const u32 count = static_cast<u32>(std::min<std::size_t>(kMixChunkFrames, frames - first));
        std::fill_n(accumulator_.begin(), 2 * count, 0.0f);
        for (Voice& voice : voices_) {
            if (voice.samples == nullptr) {
                continue;
            }
            const u32 take = std::min(count, voice.length - voice.position);
            const i16* samples = voice.samples + voice.position;
            for (u32 i = 0; i < take; ++i) {
                const f32 sample = static_cast<f32>(samples[i]);
                accumulator_[2 * i] += sample * voice.left;
                accumulator_[2 * i + 1] += sample * voice.right;
            }
            voice.position += take;
            if (voice.position == voice.length) {
                voice.samples = nullptr;
            }
        }
        i16* target = out.data() + 2 * first;
        for (u32 i = 0; i < 2 * count; ++i) {
            target[i] = toSample(accumulator_[i] * volume);
        }
    }
    mixedFrames_.fetch_add(frames, std::memory_order_release);
}

}  // namespace kestrune::audio
