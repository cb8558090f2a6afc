#include "sample_models.h"

#include <algorithm>
#include <cmath>

namespace kestrune::content::test {

Transform translationTransform(f32 x, f32 y, f32 z) { return {.translation = {x, y, z}}; }

std::array<f32, 4> axisAngle(f32 ax, f32 ay, f32 az, f32 radians) {
    const f64 half = radians / 2.0;
    const f64 s = std::sin(half);
    return {static_cast<f32>(ax * s), static_cast<f32>(ay * s), static_cast<f32>(az * s),
            static_cast<f32>(std::cos(half))};
}

AnimationClip makeClip(const std::string& name, f32 durationSeconds, f32 sampleRate, u32 nodeCount,
                       const std::function<Transform(u32 frame, u32 node)>& sample) {
    const f64 span = f64{durationSeconds} * f64{sampleRate};
    AnimationClip clip{name, durationSeconds, sampleRate, static_cast<u32>(std::max(std::ceil(span) + 1.0, 2.0)),
                       nodeCount, {}};
    for (u32 f = 0; f < clip.frameCount; ++f)
        for (u32 n = 0; n < nodeCount; ++n) clip.samples.push_back(sample(f, n));
    return clip;
}

Model minimalModel() { return {.nodes = {{.name = "root"}}, .materials = {{.name = "mat"}}, .nodeOrder = {0}}; }

Model richModel() {
    Model model;
    const Transform hips{.translation = {0, 1, 0}, .rotation = axisAngle(0, 1, 0, 0.5f)};
    model.nodes = {
        {"root", -1, Transform{}, -1, -1}, {"hips", 0, hips, 0, 0},
        {"spine-\xC3\x9F", 1, translationTransform(0.0f, 0.5f, 0.0f), -1, -1},  // UTF-8 sharp s
        {"prop", 0, translationTransform(0.3f, 1.0f, 0.1f), 1, -1},
        {"second root", -1, translationTransform(5.0f, 0.0f, 0.0f), -1, -1}};
    model.nodeOrder = {0, 4, 1, 3, 2};

    const Matrix4 toHips{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1, 0, 1}};
    const Matrix4 toSpine{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1.5f, 0, 1}};
    model.skins = {{"body", 1, {1, 2}, {toHips, toSpine}}};
    model.materials = {{"skin", "textures/body.png", {1.0f, 0.8f, 0.7f, 1.0f}, kAlphaOpaque, false},
                       {"glow", "", {0.2f, 0.6f, 1.0f, 0.5f}, kAlphaBlended, true}};

    Mesh body{"body", 1, 0, 0, {}, {0, 1, 2, 2, 1, 3}};
    // Slots with zero weight are never looked at.
    for (int i = 0; i < 4; ++i) {
        const f32 x = static_cast<f32>(i % 2), y = static_cast<f32>(i / 2);
        body.vertices.push_back({{x, 1.0f + y, 0}, {0, 0, 1}, {x, y}, {0, 1, 999, 999}, {0.5f, 0.5f, 0, 0}});
    }
    Mesh sword{"sword", 3, -1, 1, {}, {0, 1, 2}};
    // Joints and weights are meaningless on a rigid mesh.
    for (const f32 y : {0.0f, 1.0f, 2.0f})
        sword.vertices.push_back({{0, y, 0.1f * y}, {1, 0, 0}, {}, {7, 300, 65535, 2}, {3, 0, 0.25f, 0}});
    model.meshes = {body, sword};

    const auto swing = [](u32 frame, u32 node) {
        const f32 f = static_cast<f32>(frame);
        return Transform{.translation = {f, static_cast<f32>(node), 0}, .rotation = axisAngle(0, 0, 1, 0.1f * f)};
    };
    model.clips = {makeClip("idle", 0.5f, 30.0f, 5, swing), makeClip("walk", 0.875f, 4.0f, 5, swing),
                   makeClip("Idle", 0.0f, 30.0f, 5, swing)};
    return model;
}

}  // namespace kestrune::content::test
