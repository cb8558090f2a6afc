#pragma once
// The two playable characters. Each returns its folder's files: character.kmdl first, then
// the textures it names.
//
// The scene draws the warrior turned by pi and lifted 0.37 m, the templar unturned and lifted
// 0.155 m, and a character at yaw 0 faces +z; so the warrior's model faces -z with its feet at
// y = -0.37 and the templar's faces +z with its feet at y = -0.155. Both carry every clip
// of the presentation table under their class's names.

#include <vector>

#include "bake.h"
#include "rig.h"

namespace kestrune::baker {

inline constexpr Placement kWarriorPlacement{kPi, -0.37};
inline constexpr Placement kTemplarPlacement{0.0, -0.155};

// Mesh-name fragment of the warrior's spare weapon on its back, which the game hides.
inline constexpr const char* kSpareWeaponMark = "CH01021101";

std::vector<BakedFile> bakeWarrior();
std::vector<BakedFile> bakeTemplar();

}  // namespace kestrune::baker
