#include "gltf_animation.h"

#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>

#include "base/text_format.h"

namespace kestrune::baker {
namespace {

// Rotations closer than this (the cosine of their angle) are interpolated linearly, where
// slerp's division by the sine loses precision.
constexpr f64 kNearlyParallel = 0.9995;

std::size_t componentsOf(AnimatedPath path) noexcept { return path == AnimatedPath::rotation ? 4 : 3; }

const char* pathName(AnimatedPath path) noexcept {
    switch (path) {
    case AnimatedPath::translation: return "translation";
    case AnimatedPath::rotation: return "rotation";
    default: return "scale";
    }
}

Quat slerp(Quat a, Quat b, f64 t) noexcept {
    f64 d = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
    if (d < 0.0) {
        b = {-b.x, -b.y, -b.z, -b.w};
        d = -d;
    }
    f64 wa = 1.0 - t, wb = t;
    if (d < kNearlyParallel) {
        const f64 angle = acosClamped(d);
        const f64 s = sinRadians(angle);
        wa = sinRadians((1.0 - t) * angle) / s;
        wb = sinRadians(t * angle) / s;
    }
    return normalized(Quat{a.x * wa + b.x * wb, a.y * wa + b.y * wb, a.z * wa + b.z * wb, a.w * wa + b.w * wb});
}

// The curve's value at `seconds` into `out` (3 or 4 numbers).
void evaluate(const Curve& curve, f64 seconds, std::span<f64> out) {
    const std::size_t n = componentsOf(curve.path);
    const std::vector<f64>& times = curve.timesSeconds;
    const bool cubic = curve.interpolation == Interpolation::cubicSpline;
    // Key k's value: with cubic splines the middle of its three elements.
    const auto value = [&](std::size_t k, std::size_t c) { return curve.values[(cubic ? 3 * k + 1 : k) * n + c]; };
    const std::size_t last = times.size() - 1;
    std::size_t k = 0;
    f64 s = 0.0;
    if (seconds >= times[last]) {
        k = last;
    } else if (seconds > times[0]) {
        k = static_cast<std::size_t>(std::upper_bound(times.begin(), times.end(), seconds) - times.begin()) - 1;
        const f64 span = times[k + 1] - times[k];
        s = span > 0.0 ? (seconds - times[k]) / span : 0.0;
    }
    if (k == last || s <= 0.0 || curve.interpolation == Interpolation::step) {
        for (std::size_t c = 0; c < n; ++c) out[c] = value(k, c);
    } else if (curve.interpolation == Interpolation::linear) {
        if (curve.path == AnimatedPath::rotation) {
            const Quat q = slerp({value(k, 0), value(k, 1), value(k, 2), value(k, 3)},
                                 {value(k + 1, 0), value(k + 1, 1), value(k + 1, 2), value(k + 1, 3)}, s);
            out[0] = q.x, out[1] = q.y, out[2] = q.z, out[3] = q.w;
        } else {
            for (std::size_t c = 0; c < n; ++c) out[c] = lerp(value(k, c), value(k + 1, c), s);
        }
    } else {
        const f64 span = times[k + 1] - times[k];
        const f64 s2 = s * s, s3 = s2 * s;
        for (std::size_t c = 0; c < n; ++c) {
            const f64 outTangent = curve.values[(3 * k + 2) * n + c];
            const f64 inTangent = curve.values[(3 * (k + 1)) * n + c];
            out[c] = (2 * s3 - 3 * s2 + 1) * value(k, c) + (s3 - 2 * s2 + s) * span * outTangent +
                     (-2 * s3 + 3 * s2) * value(k + 1, c) + (s3 - s2) * span * inTangent;
        }
    }
}

}  // namespace

SourceAnimation readAnimation(const GltfReader& reader, int index, const SceneNodes& nodes,
                              const content::ModelLimits& limits, std::vector<std::string>& warnings) {
    const tinygltf::Animation& source = reader.document().animations[static_cast<std::size_t>(index)];
    const std::string name = "animation " + std::to_string(index);
    SourceAnimation animation;
    animation.index = index;
    animation.name = source.name;
    std::vector<int> drivenBy(nodes.gltfNode.size() * 3, -1);
    bool warnedWeights = false;
    for (std::size_t c = 0; c < source.channels.size(); ++c) {
        const tinygltf::AnimationChannel& channel = source.channels[c];
        const std::string channelName = name + " channel " + std::to_string(c);
        Curve curve;
        if (channel.target_path == "weights") {
            if (!warnedWeights) {
                warnings.push_back(name + " animates morph target weights, which the runtime does not show");
                warnedWeights = true;
            }
            continue;
        }
        if (channel.target_path == "translation") {
            curve.path = AnimatedPath::translation;
        } else if (channel.target_path == "rotation") {
            curve.path = AnimatedPath::rotation;
        } else if (channel.target_path == "scale") {
            curve.path = AnimatedPath::scale;
        } else {
            reader.fail(channelName + " animates \"" + channel.target_path + "\", which is no node property");
        }
        if (channel.target_node < 0 || static_cast<std::size_t>(channel.target_node) >= nodes.imported.size()) {
            reader.fail(channelName + " targets node " + std::to_string(channel.target_node) + ", but the file has " +
                        std::to_string(nodes.imported.size()) + " nodes");
        }
        curve.node = nodes.imported[static_cast<std::size_t>(channel.target_node)];
        if (curve.node < 0) continue;  // outside the scene
        int& driver = drivenBy[static_cast<std::size_t>(curve.node) * 3 + static_cast<std::size_t>(curve.path)];
        if (driver >= 0) {
            reader.fail(channelName + " animates the " + pathName(curve.path) + " of node " +
                        std::to_string(channel.target_node) + ", as channel " + std::to_string(driver) + " does");
        }
        driver = static_cast<int>(c);

        if (channel.sampler < 0 || static_cast<std::size_t>(channel.sampler) >= source.samplers.size()) {
            reader.fail(channelName + " names sampler " + std::to_string(channel.sampler) + ", but the animation has " +
                        std::to_string(source.samplers.size()));
        }
        const tinygltf::AnimationSampler& sampler = source.samplers[static_cast<std::size_t>(channel.sampler)];
        const std::string samplerName = name + " sampler " + std::to_string(channel.sampler);
        if (sampler.interpolation == "STEP") {
            curve.interpolation = Interpolation::step;
        } else if (sampler.interpolation == "LINEAR" || sampler.interpolation.empty()) {
            curve.interpolation = Interpolation::linear;
        } else if (sampler.interpolation == "CUBICSPLINE") {
            curve.interpolation = Interpolation::cubicSpline;
        } else {
            reader.fail(samplerName + " interpolates by \"" + sampler.interpolation +
                        "\", not STEP, LINEAR or CUBICSPLINE");
        }
        curve.timesSeconds =
            reader.numbers(sampler.input, ElementType::scalar, {kFloat}, limits.maxFramesPerClip, samplerName + " input");
        for (std::size_t k = 1; k < curve.timesSeconds.size(); ++k) {
            if (curve.timesSeconds[k] < curve.timesSeconds[k - 1]) {
                reader.fail(samplerName + " input goes back in time at key " + std::to_string(k));
            }
        }
        const bool cubic = curve.interpolation == Interpolation::cubicSpline;
        const std::size_t expected = curve.timesSeconds.size() * (cubic ? 3 : 1);
        const ElementType type = curve.path == AnimatedPath::rotation ? ElementType::vec4 : ElementType::vec3;
        // Rotations may also be stored as normalised integers; translations and scales are floats.
        curve.values = curve.path == AnimatedPath::rotation
                           ? reader.numbers(sampler.output, type,
                                            {kFloat, kSignedByte, kUnsignedByte, kSignedShort, kUnsignedShort},
                                            expected, samplerName + " output")
                           : reader.numbers(sampler.output, type, {kFloat}, expected, samplerName + " output");
        if (curve.values.size() != expected * componentsOf(curve.path)) {
            reader.fail(samplerName + " output has " + std::to_string(curve.values.size() / componentsOf(curve.path)) +
                        " values for " + std::to_string(curve.timesSeconds.size()) + " keys; " +
                        (cubic ? "a cubic spline needs three per key" : "it needs one per key"));
        }
        if (curve.path == AnimatedPath::rotation) {
            for (std::size_t k = cubic ? 1 : 0; k < expected; k += cubic ? 3 : 1) {
                const Quat q = unitQuaternion(reader, std::span(curve.values).subspan(k * 4, 4),
                                              samplerName + " output rotation " + std::to_string(k));
                curve.values[k * 4] = q.x, curve.values[k * 4 + 1] = q.y;
                curve.values[k * 4 + 2] = q.z, curve.values[k * 4 + 3] = q.w;
            }
        }
        animation.durationSeconds = std::max(animation.durationSeconds, curve.timesSeconds.back());
        animation.curves.push_back(std::move(curve));
    }
    return animation;
}

void sampleAnimation(const SourceAnimation& animation, f64 seconds, std::span<Trs> pose) {
    f64 v[4];
    for (const Curve& curve : animation.curves) {
        evaluate(curve, seconds, v);
        Trs& t = pose[static_cast<std::size_t>(curve.node)];
        switch (curve.path) {
        case AnimatedPath::translation: t.translation = {v[0], v[1], v[2]}; break;
        case AnimatedPath::rotation: t.rotation = normalized(Quat{v[0], v[1], v[2], v[3]}); break;
        case AnimatedPath::scale: t.scale = {v[0], v[1], v[2]}; break;
        }
    }
}

ResampledClip resampleAnimation(const GltfReader& reader, const SourceAnimation& animation,
                                const std::vector<Trs>& rest, f32 sampleRate, const content::ModelLimits& limits,
                                u64 frameBudget) {
    const std::string name = "animation " + std::to_string(animation.index);
    ResampledClip clip;
    clip.durationSeconds = static_cast<f32>(animation.durationSeconds);
    // The frame count as the model format fixes it: from the stored single-precision numbers.
    const f64 frames = std::ceil(static_cast<f64>(clip.durationSeconds) * static_cast<f64>(sampleRate));
    if (!std::isfinite(clip.durationSeconds) || !(frames + 1.0 <= static_cast<f64>(limits.maxFramesPerClip))) {
        reader.fail(name + formatText(" lasts %g s, more than the %u frames a clip may hold at %g Hz",
                                      animation.durationSeconds, limits.maxFramesPerClip,
                                      static_cast<f64>(sampleRate)));
    }
    clip.frameCount = std::max(static_cast<u32>(frames) + 1, 2u);
    const u64 samples = u64{clip.frameCount} * rest.size();
    if (samples > frameBudget) {
        reader.fail(name + " needs " + std::to_string(samples) + " node samples, more than the " +
                    std::to_string(frameBudget) + " left of the " + std::to_string(limits.maxTotalAnimationSamples) +
                    " a model may hold");
    }
    clip.frames.reserve(samples);
    std::vector<Trs> pose(rest.size());
    for (u32 f = 0; f < clip.frameCount; ++f) {
        const f64 seconds =
            f + 1 == clip.frameCount ? static_cast<f64>(clip.durationSeconds) : f / static_cast<f64>(sampleRate);
        std::copy(rest.begin(), rest.end(), pose.begin());
        sampleAnimation(animation, seconds, pose);
        clip.frames.insert(clip.frames.end(), pose.begin(), pose.end());
    }
    return clip;
}

}  // namespace kestrune::baker
