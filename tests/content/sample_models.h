#pragma once
// Models the content suites and the fuzz seeds build on: valid unless a test breaks one
// rule on purpose.

#include <functional>
#include <string>

#include "content/model.h"

namespace kestrune::content::test {

// One node "root", one material "mat": the smallest complete model (142 bytes written).
Model minimalModel();

// Every section in use: five nodes in two trees, a two-joint skin, a skinned and a rigid
// mesh, a textured and an untextured material, three clips (one of duration 0).
Model richModel();

// A clip whose frame count follows from duration and rate; sample(frame, node) fills it.
AnimationClip makeClip(const std::string& name, f32 durationSeconds, f32 sampleRate, u32 nodeCount,
                       const std::function<Transform(u32 frame, u32 node)>& sample);

Transform translationTransform(f32 x, f32 y, f32 z);

// Unit quaternion (x, y, z, w) of `radians` about the unit axis (ax, ay, az).
std::array<f32, 4> axisAngle(f32 ax, f32 ay, f32 az, f32 radians);

}  // namespace kestrune::content::test
