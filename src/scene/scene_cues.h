#pragma once
// What the scene showed happen in a frame, in order, for the senses beside it (sound, the
// HUD) to follow without reaching into the scene: an action starting (predicted for the local
// fighter, as the playback reaches it for the opponent), an action reaching its strike, a hit
// landing (the server's word online, the scene's own resolution offline), a jump's landing, a
// footfall of the walk or run clip, a knockdown and a new round. Read once per frame, then
// cleared; a frame holds at most kMaxSceneCues (the rest are counted, not kept).

#include <array>
#include <span>

#include "base/types.h"
#include "scene/scene_math.h"

namespace kestrune::scene {

enum class CueKind : u8 {
    actionStarted,  // action, detail: the basic attack's combo step (0 to 3)
    actionStruck,   // action: reached the moment its hit is decided
    hitLanded,      // slot: the one hit; action: the attacker's
    landed,         // the jump's end
    footstep,       // detail: 0 walking, 1 running
    knockedDown,
    roundStarted,   // slot: none (kNoCueSlot)
};

inline constexpr u8 kNoCueSlot = 0xFF;
inline constexpr u32 kMaxSceneCues = 32;

struct SceneCue {
    CueKind kind = CueKind::actionStarted;
    u8 slot = kNoCueSlot;
    u8 action = 0;
    u8 detail = 0;
    Vec3 position;  // where it happened: the slot's fighter, or the arena's middle
};

class SceneCues {
public:
    void raise(const SceneCue& cue) noexcept {
        if (count_ == cues_.size()) {
            ++overflowed_;
            return;
        }
        cues_[count_++] = cue;
    }
    std::span<const SceneCue> list() const noexcept { return {cues_.data(), count_}; }
    void clear() noexcept { count_ = 0; }
    u64 overflowed() const noexcept { return overflowed_; }

private:
    std::array<SceneCue, kMaxSceneCues> cues_{};
    std::size_t count_ = 0;
    u64 overflowed_ = 0;
};

}  // namespace kestrune::scene
