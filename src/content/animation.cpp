#include "content/animation.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace kestrune::content {
namespace {

// Below this span between the last two frames the final segment has no length to blend over.
constexpr f64 kMinFinalSegmentSeconds = 2.220446049250313e-16;

struct FrameChoice {
    u32 first = 0;
    u32 second = 0;
    f32 weight = 0.0f;  // > 0 only when the two frames are blended
};

// The frames around `timeSeconds` and the weight of the second. Frames are 1/rate apart,
// except that the last one sits at `duration` itself.
FrameChoice chooseFrames(const AnimationClip& clip, f64 timeSeconds, bool loop) {
    const f64 duration = clip.duration;
    const f64 rate = clip.sampleRate;
    const u32 lastFrame = clip.frameCount - 1;
    if (duration <= 0.0) {
        return {};
    }
    f64 t;
    if (loop) {
        t = std::fmod(timeSeconds, duration);
        if (t < 0.0) t += duration;
    } else {
        if (timeSeconds < 0.0) return {};
        t = std::min(timeSeconds, duration);
    }
    if (t <= 0.0) {
        return {};
    }
    if (t >= duration) {
        return {lastFrame, lastFrame, 0.0f};
    }
    const u32 lastRegular = clip.frameCount - 2;
    const f64 lastRegularSeconds = lastRegular / rate;
    FrameChoice choice;
    f64 weight;
    if (t >= lastRegularSeconds) {
        choice.first = lastRegular;
        choice.second = lastRegular + 1;
        const f64 segment = duration - lastRegularSeconds;
        weight = segment <= kMinFinalSegmentSeconds ? 1.0 : std::clamp((t - lastRegularSeconds) / segment, 0.0, 1.0);
    } else {
        const f64 position = t * rate;
        choice.first = std::min(static_cast<u32>(std::floor(position)), lastFrame);
        choice.second = std::min(choice.first + 1, lastFrame);
        weight = std::clamp(position - choice.first, 0.0, 1.0);
    }
    choice.weight = static_cast<f32>(weight);
    if (choice.first == choice.second || !(choice.weight > 0.0f)) {
        return {choice.first, choice.first, 0.0f};
    }
    return choice;
}

}  // namespace

void blendPoses(std::span<const Transform> a, std::span<const Transform> b, f32 t, std::span<Transform> out) {
    if (a.size() != b.size() || a.size() != out.size()) {
        throw ContentError("pose blend transform counts differ");
    }
    interpolateTransforms(a, b, t, out);
}

void sampleClip(const Model& model, const AnimationClip& clip, f64 timeSeconds, bool loop,
                std::span<Transform> out) {
    const std::size_t nodeCount = clip.nodeCount;
    if (model.nodes.size() != nodeCount || out.size() != nodeCount) {
        throw ContentError("animation clip/output node count differs from model");
    }
    if (!std::isfinite(timeSeconds)) {
        throw ContentError("animation time must be finite");
    }
    if (nodeCount == 0 || clip.frameCount < 2 || !(clip.sampleRate > 0.0f) ||
        clip.samples.size() != u64{clip.frameCount} * nodeCount) {
        throw ContentError("animation clip storage is inconsistent");
    }
    const FrameChoice choice = chooseFrames(clip, timeSeconds, loop);
    const Transform* first = clip.samples.data() + std::size_t{choice.first} * nodeCount;
    if (choice.weight > 0.0f) {
        const Transform* second = clip.samples.data() + std::size_t{choice.second} * nodeCount;
        blendPoses({first, nodeCount}, {second, nodeCount}, choice.weight, out);
    } else {
        std::copy_n(first, nodeCount, out.begin());
    }
}

void computeGlobalMatrices(const Model& model, std::span<const Transform> locals, std::span<Matrix4> globals) {
    if (locals.size() != model.nodes.size() || globals.size() != locals.size() ||
        model.nodeOrder.size() != model.nodes.size()) {
        throw ContentError("pose/global matrix storage differs from model node count");
    }
    // Every global starts as its local matrix; walking parents before children, a node's
    // parent is already global when the node is reached, and the node still local.
    transformsToMatrices(locals, globals);
    composeGlobalMatrices(model.nodes, model.nodeOrder, globals);
}

Pose evaluateClip(const Model& model, const AnimationClip& clip, f64 timeSeconds, bool loop) {
    Pose pose;
    pose.locals.assign(model.nodes.size(), Transform{});
    pose.globals.assign(model.nodes.size(), Matrix4{});
    sampleClip(model, clip, timeSeconds, loop, pose.locals);
    computeGlobalMatrices(model, pose.locals, pose.globals);
    return pose;
}

const Transform& clipSample(const AnimationClip& clip, u32 frame, u32 node) {
    const u64 index = u64{frame} * clip.nodeCount + node;
    if (frame >= clip.frameCount || node >= clip.nodeCount || index >= clip.samples.size()) {
        throw std::out_of_range("animation sample index is out of range");
    }
    return clip.samples[static_cast<std::size_t>(index)];
}

const AnimationClip* findClip(const Model& model, std::string_view name) noexcept {
    for (const AnimationClip& clip : model.clips) {
        if (clip.name == name) return &clip;
    }
    return nullptr;
}

}  // namespace kestrune::content
