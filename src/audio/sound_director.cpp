#include "audio/sound_director.h"

#include <cmath>

#include "scene/character_slot.h"

namespace kestrune::audio {
namespace {

using content::Sound;
using scene::CueKind;

using scene::kActionBasicAttack;
using scene::kActionHeavyAttack;
using scene::kActionJump;
using scene::kActionSkill1;
using scene::kActionSkill2;

constexpr f32 kPictureAspect = 16.0f / 9.0f;

// tan(x) for |x| < pi/2 by Lambert's continued fraction, in plain arithmetic: the placement
// goes into traces that must read the same on every platform, whose libraries' tan may differ
// in the last bit. Twelve levels hold double precision up to about 1.2 radians.
f64 portableTan(f64 x) noexcept {
    const f64 squared = x * x;
    f64 tail = 25.0;
    for (f64 odd = 23.0; odd > 0.0; odd -= 2.0) {
        tail = odd - squared / tail;
    }
    return x / tail;
}

std::optional<Sound> actionStartSound(u8 action, u8 comboStep) noexcept {
    switch (action) {
        case kActionBasicAttack: return static_cast<Sound>(static_cast<u8>(Sound::swing1) + std::min<u8>(comboStep, scene::kComboSteps - 1));
        case kActionSkill1: return Sound::skill1Cast;
        case kActionSkill2: return Sound::skill2Charge;
        case kActionHeavyAttack: return Sound::swingHeavy;
        case kActionJump: return Sound::jump;
        default: return std::nullopt;
    }
}

std::optional<Sound> hitSound(u8 action) noexcept {
    switch (action) {
        case kActionSkill1: return Sound::skill1Lock;
        case kActionSkill2: case kActionHeavyAttack: return Sound::hitHeavy;
        case kActionBasicAttack: case kActionJump: return Sound::hitBasic;
        default: return std::nullopt;
    }
}

}  // namespace

std::optional<Sound> soundOfCue(const scene::SceneCue& cue) noexcept {
    switch (cue.kind) {
        case CueKind::actionStarted: return actionStartSound(cue.action, cue.detail);
        case CueKind::actionStruck: return cue.action == kActionSkill2 ? std::optional(Sound::skill2Beam) : std::nullopt;
        case CueKind::hitLanded: return hitSound(cue.action);
        case CueKind::landed: return Sound::landing;
        case CueKind::footstep: return cue.detail == 0 ? Sound::stepWalk : Sound::stepRun;
        case CueKind::knockedDown: return Sound::knockout;
        case CueKind::roundStarted: return Sound::roundStart;
    }
    return std::nullopt;
}

SoundPlacement placeSound(const render::Camera& camera, const scene::Vec3& position) noexcept {
    const scene::Vec3 eye{camera.eye[0], camera.eye[1], camera.eye[2]};
    scene::Vec3 forward{camera.target[0] - eye.x, camera.target[1] - eye.y, camera.target[2] - eye.z};
    const scene::Vec3 up{camera.up[0], camera.up[1], camera.up[2]};
    const scene::Vec3 toSound{position.x - eye.x, position.y - eye.y, position.z - eye.z};
    const f32 forwardLength = std::sqrt(scene::squaredLength(forward));
    if (!(forwardLength > 0.0f) || !(camera.fieldOfViewYRadians > 0.0f)) {
        return {};
    }
    forward = forward * (1.0f / forwardLength);
    // Across the picture, as a left-handed view has it: up x forward points right.
    const scene::Vec3 right{up.y * forward.z - up.z * forward.y, up.z * forward.x - up.x * forward.z,
                            up.x * forward.y - up.y * forward.x};
    const f32 depth = toSound.x * forward.x + toSound.y * forward.y + toSound.z * forward.z;
    const f32 across = toSound.x * right.x + toSound.y * right.y + toSound.z * right.z;
    const f32 halfWidth = std::max(depth, 0.1f) *
                          static_cast<f32>(portableTan(0.5 * static_cast<f64>(camera.fieldOfViewYRadians))) * kPictureAspect;
    const f32 distance = std::sqrt(scene::squaredLength(toSound));
    SoundPlacement placement;
    placement.pan = std::clamp(across / halfWidth, -1.0f, 1.0f);
    placement.gain = distance <= kNearMetres ? 1.0f : std::max(kFarGain, kNearMetres / distance);
    return placement;
}

void SoundDirector::hear(std::span<const scene::SceneCue> cues, const render::Camera& camera, u64 frame) noexcept {
    frameCount_ = 0;
    for (const scene::SceneCue& cue : cues) {
        const std::optional<Sound> sound = soundOfCue(cue);
        if (!sound || frameCount_ == frame_.size()) {
            continue;
        }
        HeardSound heard;
        heard.sound = *sound;
        heard.slot = cue.slot;
        heard.placement = cue.slot == scene::kNoCueSlot ? SoundPlacement{} : placeSound(camera, cue.position);
        heard.serial = static_cast<u32>(played_ + 1);
        heard.frame = frame;
        if (mixer_ != nullptr) {
            mixer_->play({static_cast<u16>(heard.sound), heard.placement.gain, heard.placement.pan, heard.serial});
        }
        frame_[frameCount_++] = heard;
        if (played_ < kLogCapacity) {
            log_[played_] = heard;
        }
        ++played_;
    }
}

}  // namespace kestrune::audio
