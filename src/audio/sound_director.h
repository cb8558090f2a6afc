#pragma once
// Hears the scene's cues and plays the content's sounds for them: which sound a cue makes,
// where it sits between the speakers (by where it happens on the screen) and how loud (louder
// near the camera). It only reads the scene. Without a mixer (no device, muted) it still
// decides every sound, so the trace and the report say the same on every machine.

#include <algorithm>
#include <array>
#include <optional>
#include <span>

#include "audio/mixer.h"
#include "base/types.h"
#include "content/sound_catalogue.h"
#include "render/render_types.h"
#include "scene/scene_cues.h"

namespace kestrune::audio {

// The sound a cue makes, if any.
std::optional<content::Sound> soundOfCue(const scene::SceneCue& cue) noexcept;

struct SoundPlacement {
    f32 pan = 0.0f;   // -1 left to +1 right
    f32 gain = 1.0f;  // kFarGain to 1
};
inline constexpr f32 kNearMetres = 8.0f;  // at most this far from the eye: full gain
inline constexpr f32 kFarGain = 0.35f;
// Where `position` is heard from `camera`: pan by its place across the picture (a 16:9 one),
// gain falling with the distance beyond kNearMetres. Cues without a fighter sound in the middle.
SoundPlacement placeSound(const render::Camera& camera, const scene::Vec3& position) noexcept;

struct HeardSound {
    content::Sound sound = content::Sound::swing1;
    u8 slot = scene::kNoCueSlot;
    SoundPlacement placement;
    u32 serial = 0;  // 1 for the run's first sound
    u64 frame = 0;   // the frame that heard it
};

class SoundDirector {
public:
    inline static constexpr std::size_t kLogCapacity = 4096;

    // `mixer` may be null: nothing is heard, everything is decided and counted.
    explicit SoundDirector(Mixer* mixer) : mixer_(mixer) {}

    // The cues of frame `frame`. Allocates nothing.
    void hear(std::span<const scene::SceneCue> cues, const render::Camera& camera, u64 frame) noexcept;

    // The sounds of the last frame heard, and of the run so far (its first kLogCapacity).
    std::span<const HeardSound> lastFrame() const noexcept { return {frame_.data(), frameCount_}; }
    std::span<const HeardSound> log() const noexcept {
        return {log_.data(), static_cast<std::size_t>(std::min<u64>(played_, kLogCapacity))};
    }
    u64 soundsPlayed() const noexcept { return played_; }

private:
    Mixer* mixer_;
    std::array<HeardSound, scene::kMaxSceneCues> frame_{};
    std::size_t frameCount_ = 0;
    std::array<HeardSound, kLogCapacity> log_{};
    u64 played_ = 0;
};

}  // namespace kestrune::audio
