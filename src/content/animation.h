#pragma once
// Turning a pre-sampled clip and a time into a pose: sampling gives every node its local
// Transform, global evaluation combines them down the hierarchy into one Matrix4 per
// node. Per-frame operations write into caller-owned spans and allocate nothing; only
// evaluateClip builds a new Pose. Failures are ContentErrors thrown before any output
// is written. Safe on any thread for distinct outputs.

#include <span>
#include <string_view>
#include <vector>

#include "base/types.h"
#include "content/model.h"
#include "content/transform_math.h"

namespace kestrune::content {

// Local transforms and global matrices of one model instance, both in node index order.
struct Pose {
    std::vector<Transform> locals;
    std::vector<Matrix4> globals;
};

// out[i] = interpolateTransform(a[i], b[i], t); out may be the storage of a or b.
void blendPoses(std::span<const Transform> a, std::span<const Transform> b, f32 t, std::span<Transform> out);

// The clip's pose at `timeSeconds`, looping or clamped to [0, duration]. `out` holds one
// transform per node.
void sampleClip(const Model& model, const AnimationClip& clip, f64 timeSeconds, bool loop,
                std::span<Transform> out);

// globals[i] = local(i) x globals[parent(i)], parents first by model.nodeOrder.
void computeGlobalMatrices(const Model& model, std::span<const Transform> locals, std::span<Matrix4> globals);

Pose evaluateClip(const Model& model, const AnimationClip& clip, f64 timeSeconds, bool loop);

// The stored sample of `node` at `frame`; std::out_of_range when either is out of range.
const Transform& clipSample(const AnimationClip& clip, u32 frame, u32 node);

// The first clip whose name is byte for byte `name`, or null.
const AnimationClip* findClip(const Model& model, std::string_view name) noexcept;

}  // namespace kestrune::content
