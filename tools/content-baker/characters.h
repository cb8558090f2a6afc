#pragma once
// The two playable characters. Each returns its folder's files: character.kmdl first, then
// the textures it names.
//
// The scene draws the warrior turned by pi and lifted 0.37 m, the templar unturned and lifted
// 0.155 m, and a character at yaw 0 faces +z; so the warrior's model faces -z with its feet at
// y = -0.37 and the templar's faces +z with its feet at y = -0.155. Both carry every clip
// of the presentation table under their class's names, and the knock-down clip.

#include <array>
#include <span>
#include <vector>

#include "bake.h"
#include "rig.h"

namespace kestrune::baker {

// The presentation clip table of each class: the names of its clips in the model, idle first.
inline constexpr std::array<const char*, 11> kWarriorClipNames = {
    "CH010301", "CH010304", "CH010305", "CH010306", "CH010307", "CH010308",
    "CH010309", "CH010311", "CH010356", "CH010321", "CH010326"};
inline constexpr std::array<const char*, 8> kTemplarClipNames = {"idle",     "walk",     "run",      "attack_1",
                                                                 "attack_2", "attack_3", "attack_4", "jump"};

// The clip a fighter plays once when its health reaches 0, holding its last pose until the
// round restarts. Both classes carry it under this name, which neither table uses; it is
// optional in a model (one without it idles while down), so the importer writes it only when
// the glTF file has an animation for it.
inline constexpr const char* kKnockDownClipName = "knockdown";

// How the scene draws a class: turned by the yaw offset, lifted, and without the meshes
// whose names contain `hiddenMesh`; and the clips it plays.
struct ClassDrawConstants {
    const char* directory;
    f64 yawOffsetRadians;
    f64 liftMetres;
    const char* hiddenMesh;  // null: hides nothing
    std::span<const char* const> clipNames;
};

// Mesh-name fragment of the warrior's spare weapon on its back, which the game hides.
inline constexpr const char* kSpareWeaponMark = "CH01021101";

inline constexpr ClassDrawConstants kWarriorDraw{"warrior", kPi, 0.37, kSpareWeaponMark, kWarriorClipNames};
inline constexpr ClassDrawConstants kTemplarDraw{"templar", 0.0, 0.155, nullptr, kTemplarClipNames};

// Each model is placed so that the scene's turn and lift stand it on the ground facing +z
// (a turn by pi is its own inverse).
inline constexpr Placement kWarriorPlacement{kWarriorDraw.yawOffsetRadians, -kWarriorDraw.liftMetres};
inline constexpr Placement kTemplarPlacement{-kTemplarDraw.yawOffsetRadians, -kTemplarDraw.liftMetres};

std::vector<BakedFile> bakeWarrior();
std::vector<BakedFile> bakeTemplar();

}  // namespace kestrune::baker
