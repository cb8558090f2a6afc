#pragma once
// The content's sounds, decoded once at boot and read-only after (the mixer's voices point
// into them). A missing or refused file leaves its sound silent and says why; the duel plays
// on without it.

#include <array>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "base/types.h"
#include "content/sound_catalogue.h"

namespace kestrune::audio {

class SoundBank {
public:
    // Reads every sound of the catalogue under `root`. `problems` gets one sentence per sound
    // that could not be used (the decoder's message, which names the file).
    static SoundBank load(const std::filesystem::path& root, std::vector<std::string>& problems);

    std::span<const i16> samples(content::Sound sound) const noexcept {
        return sounds_[static_cast<std::size_t>(sound)];
    }
    // Every sound in catalogue order, for the mixer.
    std::vector<std::span<const i16>> all() const;
    u32 loadedCount() const noexcept;

private:
    std::array<std::vector<i16>, content::kSoundCount> sounds_;
};

}  // namespace kestrune::audio
