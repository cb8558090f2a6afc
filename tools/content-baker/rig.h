#pragma once
// The humanoid rig both characters share: 24 joints in one fixed hierarchy, posed by
// authored joint turns and by foot targets that a two-bone solver reaches, so that feet
// stay exactly where a clip plants them. Authoring happens in the canonical frame: feet
// on y = 0, facing +z, the character's right at +x, every joint's bind orientation the
// identity (so a joint's turn is about its parent's axes). Offline code; allocates freely.

#include <array>
#include <string_view>
#include <vector>

#include "bake_math.h"
#include "content/model.h"

namespace kestrune::baker {

enum Joint : u16 {
    kHips,
    kSpine,
    kChest,
    kNeck,
    kHead,
    kClavicleL,
    kUpperArmL,
    kForearmL,
    kHandL,
    kClavicleR,
    kUpperArmR,
    kForearmR,
    kHandR,
    kThighL,
    kShinL,
    kFootL,
    kToeL,
    kThighR,
    kShinR,
    kFootR,
    kToeR,
    kWeapon,   // grip of the main weapon, child of the right hand
    kOffhand,  // grip of the left hand's shield or focus
    kBack,     // between the shoulder blades, carries what hangs on the back
    kJointCount
};

inline constexpr std::size_t kJoints = kJointCount;

// Joint name in the model, and its parent (kJointCount for the hips, whose parent is the
// model's placement node).
std::string_view jointName(Joint joint) noexcept;
Joint jointParent(Joint joint) noexcept;

enum Side : u8 { kLeft = 0, kRight = 1 };

// Bind positions in the canonical frame. A joint's bone runs from its head to its tail;
// the tail only shapes skin weights.
struct Skeleton {
    std::array<Vec3, kJoints> head{};
    std::array<Vec3, kJoints> tail{};
};

// Where a foot goes: the ankle's offset from its bind position, and the foot's heading and
// pitch (degrees; positive pitch lowers the toes). The knee points along the heading, tipped
// up by `kneeLiftDegrees` (90: straight up, as for a fighter on its back with its knees
// raised, whose legs run along the heading where a level knee direction is undefined).
struct FootPlant {
    Vec3 offset;
    f64 headingDegrees = 0.0;
    f64 pitchDegrees = 0.0;
    f64 kneeLiftDegrees = 0.0;
};

// One authored instant of a character's motion, before the legs are solved. Turns of the
// thighs, shins and feet are ignored: the solver sets them from the feet.
struct Pose {
    Vec3 hips;  // offset of the hips from their bind position, metres
    std::array<Euler, kJoints> turn{};
    std::array<FootPlant, 2> feet{};

    Euler& operator[](Joint joint) noexcept { return turn[joint]; }
    const Euler& operator[](Joint joint) const noexcept { return turn[joint]; }
};

// The pose as a flat list of numbers, so motions can interpolate every channel alike.
inline constexpr std::size_t kPoseChannels = 3 + 3 * kJoints + 2 * 6;
std::array<f64, kPoseChannels> poseChannels(const Pose& pose) noexcept;
Pose poseFromChannels(const std::array<f64, kPoseChannels>& channels) noexcept;

// Where the character stands in its model: the placement node's rotation about the vertical
// and height, so that the scene's draw constants put it on the ground facing its yaw.
struct Placement {
    f64 yawRadians = 0.0;
    f64 heightMetres = 0.0;
};

// Node layout of a character model: node 0 is the placement node (it also carries the
// meshes), node 1 + j is joint j.
inline constexpr u32 kPlacementNode = 0;
inline constexpr u32 nodeOfJoint(Joint joint) noexcept { return 1u + joint; }
inline constexpr u32 kCharacterNodes = 1 + kJoints;

// Local transforms of every node for `pose` (node order as above).
std::vector<content::Transform> solvePose(const Skeleton& skeleton, const Placement& placement, const Pose& pose);

// Nodes of the bind pose with the skeleton's names and hierarchy, and the one skin over
// every joint, its inverse bind matrices taken from the bind pose's global matrices.
std::vector<content::Node> characterNodes(const Skeleton& skeleton, const Placement& placement,
                                          std::string_view placementName);
content::Skin characterSkin(const std::vector<content::Node>& nodes, std::string_view skinName);

}  // namespace kestrune::baker
