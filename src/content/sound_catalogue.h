#pragma once
// The duel's sounds: one WAV file each under "sounds/" in the content directory, made by the
// content baker and played by the audio part. The order is the sound's number in both.

#include <array>
#include <string_view>

#include "base/types.h"

namespace kestrune::content {

enum class Sound : u8 {
    swing1,      // the basic attack's combo steps, each a little different
    swing2,
    swing3,
    swing4,
    swingHeavy,  // the heavy attack
    hitBasic,
    hitHeavy,
    skill1Cast,
    skill1Lock,  // the skill's hit, which locks its target
    skill2Charge,
    skill2Beam,
    jump,
    landing,
    stepWalk,
    stepRun,
    knockout,
    roundStart,
};
inline constexpr std::size_t kSoundCount = 17;

// Paths relative to the content directory, '/'-separated, in Sound order.
inline constexpr std::array<std::string_view, kSoundCount> kSoundPaths{
    "sounds/swing1.wav",       "sounds/swing2.wav",      "sounds/swing3.wav",    "sounds/swing4.wav",
    "sounds/swing_heavy.wav",  "sounds/hit_basic.wav",   "sounds/hit_heavy.wav", "sounds/skill1_cast.wav",
    "sounds/skill1_lock.wav",  "sounds/skill2_charge.wav", "sounds/skill2_beam.wav", "sounds/jump.wav",
    "sounds/landing.wav",      "sounds/step_walk.wav",   "sounds/step_run.wav",  "sounds/knockout.wav",
    "sounds/round_start.wav",
};

constexpr std::string_view soundPath(Sound sound) noexcept { return kSoundPaths[static_cast<std::size_t>(sound)]; }
// The file's stem ("swing1"), as reports name a sound.
constexpr std::string_view soundName(Sound sound) noexcept {
    std::string_view path = soundPath(sound);
    path.remove_prefix(path.find('/') + 1);
    return path.substr(0, path.size() - 4);
}

}  // namespace kestrune::content
