#include "sample_models.h"

#include <algorithm>
#include <cmath>

namespace kestrune::content::test {

Transform translationTransform(f32 x, f32 y, f32 z) {
    Transform t;
    t.translation = {x, y, z};
    return t;
}

std::array<f32, 4> axisAngle(f32 ax, f32 ay, f32 az, f32 radians) {
    const f64 half = radians / 2.0;
    const f64 s = std::sin(half);
    return {static_cast<f32>(ax * s), static_cast<f32>(ay * s), static_cast<f32>(az * s),
            static_cast<f32>(std::cos(half))};
}

AnimationClip makeClip(const std::string& name, f32 durationSeconds, f32 sampleRate, u32 nodeCount,
                       const std::function<Transform(u32 frame, u32 node)>& sample) {
    AnimationClip clip;
    clip.name = name;
    clip.duration = durationSeconds;
    clip.sampleRate = sampleRate;
    const f64 span = f64{durationSeconds} * f64{sampleRate};
    clip.frameCount = static_cast<u32>(std::max(std::ceil(span) + 1.0, 2.0));
    clip.nodeCount = nodeCount;
    for (u32 f = 0; f < clip.frameCount; ++f) {
        for (u32 n = 0; n < nodeCount; ++n) clip.samples.push_back(sample(f, n));
    }
    return clip;
}

Model minimalModel() {
    Model model;
    Node root;
    root.name = "root";
    model.nodes.push_back(root);
    Material material;
    material.name = "mat";
    model.materials.push_back(material);
    model.nodeOrder = {0};
    return model;
}

Model richModel() {
    Model model;
    const auto node = [&](const char* name, i32 parent, Transform transform, i32 firstMesh, i32 skin) {
        Node n;
        n.name = name;
        n.parent = parent;
        n.transform = transform;
        n.firstMesh = firstMesh;
        n.skin = skin;
        model.nodes.push_back(n);
    };
    Transform hips = translationTransform(0.0f, 1.0f, 0.0f);
    hips.rotation = axisAngle(0.0f, 1.0f, 0.0f, 0.5f);
    node("root", -1, Transform{}, -1, -1);
    node("hips", 0, hips, 0, 0);
    node("spine-\xC3\x9F", 1, translationTransform(0.0f, 0.5f, 0.0f), -1, -1);  // UTF-8 sharp s
    node("prop", 0, translationTransform(0.3f, 1.0f, 0.1f), 1, -1);
    node("second root", -1, translationTransform(5.0f, 0.0f, 0.0f), -1, -1);
    model.nodeOrder = {0, 4, 1, 3, 2};

    Skin skin;
    skin.name = "body";
    skin.skeleton = 1;
    skin.joints = {1, 2};
    Matrix4 toHips;
    toHips.m = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1, 0, 1};
    Matrix4 toSpine = toHips;
    toSpine[13] = -1.5f;
    skin.inverseBindMatrices = {toHips, toSpine};
    model.skins.push_back(skin);

    Material textured;
    textured.name = "skin";
    textured.texture = "textures/body.png";
    textured.baseColor = {1.0f, 0.8f, 0.7f, 1.0f};
    Material glow;
    glow.name = "glow";
    glow.baseColor = {0.2f, 0.6f, 1.0f, 0.5f};
    glow.alphaMode = kAlphaBlended;
    glow.doubleSided = true;
    model.materials = {textured, glow};

    Mesh body;
    body.name = "body";
    body.node = 1;
    body.skin = 0;
    body.material = 0;
    for (int i = 0; i < 4; ++i) {
        Vertex v;
        v.position = {static_cast<f32>(i % 2), 1.0f + static_cast<f32>(i / 2), 0.0f};
        v.normal = {0.0f, 0.0f, 1.0f};
        v.uv = {static_cast<f32>(i % 2), static_cast<f32>(i / 2)};
        v.joints = {0, 1, 999, 999};  // slots with zero weight are never looked at
        v.weights = {0.5f, 0.5f, 0.0f, 0.0f};
        body.vertices.push_back(v);
    }
    body.indices = {0, 1, 2, 2, 1, 3};
    Mesh sword;
    sword.name = "sword";
    sword.node = 3;
    sword.skin = -1;
    sword.material = 1;
    for (int i = 0; i < 3; ++i) {
        Vertex v;
        v.position = {0.0f, static_cast<f32>(i), 0.1f * static_cast<f32>(i)};
        v.normal = {1.0f, 0.0f, 0.0f};
        v.joints = {7, 300, 65535, 2};  // meaningless on a rigid mesh
        v.weights = {3.0f, 0.0f, 0.25f, 0.0f};
        sword.vertices.push_back(v);
    }
    sword.indices = {0, 1, 2};
    model.meshes = {body, sword};

    const auto swing = [](u32 frame, u32 node) {
        Transform t = translationTransform(static_cast<f32>(frame), static_cast<f32>(node), 0.0f);
        t.rotation = axisAngle(0.0f, 0.0f, 1.0f, 0.1f * static_cast<f32>(frame));
        return t;
    };
    model.clips.push_back(makeClip("idle", 0.5f, 30.0f, 5, swing));
    model.clips.push_back(makeClip("walk", 0.875f, 4.0f, 5, swing));
    model.clips.push_back(makeClip("Idle", 0.0f, 30.0f, 5, swing));
    return model;
}

}  // namespace kestrune::content::test
