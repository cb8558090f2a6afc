#pragma once
// glTF animations read into curves and resampled into the runtime's clips: every node gets
// one transform per frame at a fixed rate, frame f at f / rate and the last frame at the
// duration, each node without a channel holding its rest transform. Curves are evaluated
// as glTF defines them: STEP holds a key, LINEAR interpolates translation and scale and
// takes the shortest-arc slerp of rotations, CUBICSPLINE is the Hermite spline through the
// keys and their tangents (rotations renormalised). Before the first key and after the
// last the curve holds its end value. Offline code; allocates freely.

#include <span>
#include <string>
#include <vector>

#include "content/model.h"
#include "gltf_accessors.h"
#include "gltf_scene.h"

namespace kestrune::baker {

enum class AnimatedPath { translation, rotation, scale };
enum class Interpolation { step, linear, cubicSpline };

struct Curve {
    int node = 0;  // imported node index
    AnimatedPath path = AnimatedPath::translation;
    Interpolation interpolation = Interpolation::linear;
    std::vector<f64> timesSeconds;
    std::vector<f64> values;  // 3 or 4 per key; cubic splines hold in-tangent, value, out-tangent per key
};

struct SourceAnimation {
    int index = 0;
    std::string name;  // as in the file; may be empty
    std::vector<Curve> curves;
    f64 durationSeconds = 0.0;  // the last key time of any curve, at least 0
};

// Reads animation `index`. Channels of nodes outside the scene are dropped; morph-target
// weights are dropped with a warning. Throws ImportError for bad samplers, keys that go back
// in time, value counts that do not match the keys, and more keys than `limits` allow frames.
SourceAnimation readAnimation(const GltfReader& reader, int index, const SceneNodes& nodes,
                              const content::ModelLimits& limits, std::vector<std::string>& warnings);

// Every node's local transform at `seconds`, in glTF's frame: `pose` starts as the rest pose.
void sampleAnimation(const SourceAnimation& animation, f64 seconds, std::span<Trs> pose);

// The frames of the clip resampled at `sampleRate`, frame-major, in glTF's frame, with the
// clip's duration and frame count as the model format fixes them. Throws ImportError when
// the clip would exceed `frameBudget` samples or the limits' frames per clip.
struct ResampledClip {
    f32 durationSeconds = 0.0f;
    u32 frameCount = 0;
    std::vector<Trs> frames;
};
ResampledClip resampleAnimation(const GltfReader& reader, const SourceAnimation& animation,
                                const std::vector<Trs>& rest, f32 sampleRate, const content::ModelLimits& limits,
                                u64 frameBudget);

}  // namespace kestrune::baker
