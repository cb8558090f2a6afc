#pragma once
// What the two characters share beyond the rig: the skeleton built from a handful of
// proportions, mirrored joint names, and body parts whose shape only differs in size.

#include "mesh_builder.h"
#include "rig.h"
#include "shapes.h"

namespace kestrune::baker {

// Arm and leg joints of one side (the left ones are four places before the right ones).
constexpr Joint onSide(Joint leftJoint, Side side) noexcept {
    return side == kLeft ? leftJoint : static_cast<Joint>(leftJoint + 4);
}
static_assert(kClavicleR == kClavicleL + 4 && kHandR == kHandL + 4 && kThighR == kThighL + 4 && kToeR == kToeL + 4,
              "left and right limbs keep their order");

// x of the right side's point, mirrored for the left.
constexpr f64 sideX(Side side, f64 rightX) noexcept { return side == kLeft ? -rightX : rightX; }

// Heights, widths and lengths in metres of the right half; the left mirrors it.
struct Proportions {
    f64 hipsY = 0.98;
    f64 spineY = 1.10;
    f64 chestY = 1.28;
    f64 neckY = 1.52;
    f64 headY = 1.61;
    f64 headTopY = 1.80;
    f64 clavicleX = 0.03;
    f64 shoulderX = 0.20;
    f64 shoulderY = 1.46;
    f64 elbowX = 0.26;
    f64 elbowY = 1.17;
    f64 wristX = 0.30;
    f64 wristY = 0.92;
    f64 handLength = 0.09;
    f64 hipX = 0.11;
    f64 hipY = 0.95;
    f64 kneeY = 0.52;
    f64 ankleX = 0.12;
    f64 ankleY = 0.09;
    f64 ballZ = 0.13;   // ball of the foot ahead of the ankle
    f64 toeLength = 0.08;
    Vec3 back{0.0, 1.40, -0.17};
    Vec3 backTail{0.0, 0.70, -0.24};
    f64 weaponReach = 0.35;  // length of the weapon bone along the grip
};

Skeleton humanoidSkeleton(const Proportions& p);

// A closed foot from heel to toe: its sole is flat on y = 0 in the bind pose; the front
// third follows the toe joint.
void addFoot(MeshBuilder& mesh, const Skeleton& skeleton, Side side, f64 halfWidth, f64 height, f64 heelBack,
             f64 toeReach, SkinBinding footAndToe);

// A mitten hand around the hand bone, flattened front to back.
RingSurface handShape(const Skeleton& skeleton, Side side, f64 radius);

}  // namespace kestrune::baker
