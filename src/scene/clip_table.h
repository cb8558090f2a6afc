#pragma once
// The presentation clip table: which clip of each class's model the scene plays for what,
// and whether it loops. Slot 0 is the warrior, slot 1 the templar. Every clip but the
// knock-down is required; its name follows neither class's scheme, so no other clip of a
// model can be taken for it.

#include <array>
#include <string_view>

#include "base/types.h"

namespace kestrune::scene {

enum class ClipUse : u8 {
    idle,
    walk,
    run,
    attack1,
    attack2,
    attack3,
    attack4,
    skill1,
    skill2,
    heavyAttack,
    jump,
    knockDown,  // optional: a model without it idles while down
};
inline constexpr std::size_t kClipUseCount = 12;

inline constexpr std::array<std::array<std::string_view, kClipUseCount>, 2> kClipNames{{
    {"CH010301", "CH010304", "CH010305", "CH010306", "CH010307", "CH010308", "CH010309", "CH010311", "CH010356",
     "CH010321", "CH010326", "knockdown"},
    {"idle", "walk", "run", "attack_1", "attack_2", "attack_3", "attack_4", "attack_2", "attack_3", "attack_4",
     "jump", "knockdown"},
}};

constexpr std::string_view clipName(u32 slot, ClipUse use) noexcept {
    return kClipNames[slot == 0 ? 0 : 1][static_cast<std::size_t>(use)];
}

// Idle, walk and run loop; every action plays once.
constexpr bool clipLoops(ClipUse use) noexcept {
    return use == ClipUse::idle || use == ClipUse::walk || use == ClipUse::run;
}

// The basic attack's clip for combo step `step` (0 to 3).
constexpr ClipUse basicAttackClip(u32 step) noexcept {
    return static_cast<ClipUse>(static_cast<u32>(ClipUse::attack1) + (step < 3 ? step : 3));
}

}  // namespace kestrune::scene
