#include "audio/sound_bank.h"

#include <algorithm>
#include <stdexcept>

#include "content/wav.h"

namespace kestrune::audio {

SoundBank SoundBank::load(const std::filesystem::path& root, std::vector<std::string>& problems) {
    SoundBank bank;
    for (std::size_t index = 0; index < content::kSoundCount; ++index) {
        const std::filesystem::path path = root / std::filesystem::path(content::kSoundPaths[index]);
        try {
            bank.sounds_[index] = content::loadWav(path);
        } catch (const std::exception& error) {
            problems.emplace_back(error.what());
        }
    }
    return bank;
}

std::vector<std::span<const i16>> SoundBank::all() const {
    return {sounds_.begin(), sounds_.end()};
}

u32 SoundBank::loadedCount() const noexcept {
    return static_cast<u32>(std::count_if(sounds_.begin(), sounds_.end(), [](const auto& s) { return !s.empty(); }));
}

}  // namespace kestrune::audio
