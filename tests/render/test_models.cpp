#include "render/test_models.h"

#include <array>
#include <cmath>
#include <numbers>

#include "content/animation.h"
#include "content/kmdl_reader.h"
#include "content/kmdl_writer.h"
#include "render/camera_math.h"
#include "render/test_support.h"

namespace kestrune::render::testing {

namespace {

using content::Mesh;
using content::Model;
using content::Node;
using content::Transform;
using content::Vertex;

constexpr f32 kTwoPi = 2.0f * std::numbers::pi_v<f32>;

Node node(const std::string& name, i32 parent, const Vec3& translation, i32 firstMesh = -1, i32 skin = -1) {
    return {.name = name, .parent = parent, .transform = {.translation = translation}, .firstMesh = firstMesh,
            .skin = skin};
}

std::array<f32, 4> aboutAxis(const Vec3& axis, f32 radians) {
    const f32 s = std::sin(radians / 2.0f);
    return {axis[0] * s, axis[1] * s, axis[2] * s, std::cos(radians / 2.0f)};
}

// Which joints a box corner follows: up to two, with weights.
struct Binding {
    std::array<u16, 4> joints{};
    std::array<f32, 4> weights{};
};

Binding rigid(u16 joint) { return {{joint, 0, 0, 0}, {1.0f, 0.0f, 0.0f, 0.0f}}; }
Binding blend(u16 a, f32 weightA, u16 b) { return {{a, b, 0, 0}, {weightA, 1.0f - weightA, 0.0f, 0.0f}}; }

// Appends a box between `low` and `high` with flat outward normals and counter-clockwise
// faces seen from outside; corners at the low y follow `bottom`, those at the high y `top`.
void appendBox(Mesh& mesh, const Vec3& low, const Vec3& high, const Binding& bottom, const Binding& top) {
    for (std::size_t axis = 0; axis < 3; ++axis) {
        for (const f32 side : {-1.0f, 1.0f}) {
            const std::size_t u = (axis + 1) % 3;
            const std::size_t v = (axis + 2) % 3;
            Vec3 normal{};
            normal[axis] = side;
            std::array<Vec3, 4> corners{};
            for (std::size_t c = 0; c < 4; ++c) {
                corners[c][axis] = side > 0 ? high[axis] : low[axis];
                corners[c][u] = c == 1 || c == 2 ? high[u] : low[u];
                corners[c][v] = c >= 2 ? high[v] : low[v];
            }
            // Seen from outside in a left-handed frame, counter-clockwise means the usual
            // cross product of the first two edges points into the box.
            if (dot(cross(subtract(corners[1], corners[0]), subtract(corners[2], corners[0])), normal) > 0.0f) {
                std::swap(corners[1], corners[3]);
            }
            const u32 first = static_cast<u32>(mesh.vertices.size());
            for (const Vec3& corner : corners) {
                const Binding& binding = corner[1] == high[1] ? top : bottom;
                mesh.vertices.push_back({corner, normal, {corner[0], corner[1]}, binding.joints, binding.weights});
            }
            for (const u32 index : {0u, 1u, 2u, 0u, 2u, 3u}) {
                mesh.indices.push_back(first + index);
            }
        }
    }
}

}  // namespace

Model decoded(const Model& model) { return content::parseModel(content::writeModel(model), {}, "test.kmdl"); }

content::Material material(const std::string& name, const Color& color, u32 alphaMode, bool doubleSided,
                           const std::string& texture) {
    return {name, texture, color, alphaMode, doubleSided};
}

Mesh quadMesh(const std::string& name, f32 x0, f32 y0, f32 x1, f32 y1, f32 depth, i32 materialIndex) {
    Mesh mesh;
    mesh.name = name;
    mesh.material = materialIndex;
    const std::array<std::array<f32, 2>, 4> corners{{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}};
    for (const auto& corner : corners) {
        mesh.vertices.push_back({{corner[0], corner[1], depth}, {0.0f, 0.0f, -1.0f},
                                 {corner[0] == x0 ? 0.0f : 1.0f, corner[1] == y0 ? 1.0f : 0.0f}, {}, {1.0f, 0, 0, 0}});
    }
    mesh.indices = {0, 1, 2, 0, 2, 3};
    return mesh;
}

Model rigidModel(std::vector<Mesh> meshes, std::vector<content::Material> materials) {
    Model model;
    model.nodes.push_back(node("root", -1, {0.0f, 0.0f, 0.0f}, meshes.empty() ? -1 : 0));
    model.meshes = std::move(meshes);
    model.materials = std::move(materials);
    return decoded(model);
}

Model skinnedQuadModel(u32 jointCount) {
    Model model;
    model.nodes.push_back(node("root", -1, {0.0f, 0.0f, 0.0f}, 0, 0));
    content::Skin skin{.name = "chain"};
    for (u32 j = 0; j < jointCount; ++j) {
        model.nodes.push_back(node("joint" + std::to_string(j), 0, {0.0f, 0.0f, 0.0f}));
        skin.joints.push_back(j + 1);
        skin.inverseBindMatrices.push_back(identityMatrix());
    }
    model.skins.push_back(skin);
    model.meshes.push_back(quadMesh("quad", -0.5f, -0.5f, 0.5f, 0.5f, 0.0f, 0));
    model.meshes[0].skin = 0;
    model.materials.push_back(material("white", kWhite));
    return decoded(model);
}

Model testCharacter() {
    enum Joint : u16 {
        kHips, kSpine, kHead, kUpperArmL, kForearmL, kUpperArmR, kForearmR, kThighL, kShinL, kThighR, kShinR
    };
    Model model;
    // Node i + 1 is joint i; node 0 is the root, the last node carries the meshes.
    const struct {
        const char* name;
        i32 parent;
        Vec3 local, global;
    } joints[] = {
        {"hips", 0, {0.0f, 0.95f, 0.0f}, {0.0f, 0.95f, 0.0f}},
        {"spine", 1, {0.0f, 0.25f, 0.0f}, {0.0f, 1.2f, 0.0f}},
        {"head", 2, {0.0f, 0.42f, 0.0f}, {0.0f, 1.62f, 0.0f}},
        {"upper_arm.L", 2, {0.24f, 0.38f, 0.0f}, {0.24f, 1.58f, 0.0f}},
        {"forearm.L", 4, {0.0f, -0.3f, 0.0f}, {0.24f, 1.28f, 0.0f}},
        {"upper_arm.R", 2, {-0.24f, 0.38f, 0.0f}, {-0.24f, 1.58f, 0.0f}},
        {"forearm.R", 6, {0.0f, -0.3f, 0.0f}, {-0.24f, 1.28f, 0.0f}},
        {"thigh.L", 1, {0.1f, -0.02f, 0.0f}, {0.1f, 0.93f, 0.0f}},
        {"shin.L", 8, {0.0f, -0.45f, 0.0f}, {0.1f, 0.48f, 0.0f}},
        {"thigh.R", 1, {-0.1f, -0.02f, 0.0f}, {-0.1f, 0.93f, 0.0f}},
        {"shin.R", 10, {0.0f, -0.45f, 0.0f}, {-0.1f, 0.48f, 0.0f}},
    };
    model.nodes.push_back(node("root", -1, {0.0f, 0.0f, 0.0f}));
    content::Skin skin{.name = "body", .skeleton = 1};
    for (u32 j = 0; j < std::size(joints); ++j) {
        model.nodes.push_back(node(joints[j].name, joints[j].parent, joints[j].local));
        skin.joints.push_back(j + 1);
        const Vec3& at = joints[j].global;
        skin.inverseBindMatrices.push_back(translation(-at[0], -at[1], -at[2]));
    }
    const i32 bodyNode = static_cast<i32>(model.nodes.size());
    model.nodes.push_back(node("body", 0, {0.0f, 0.0f, 0.0f}, 0, 0));
    model.skins.push_back(skin);

    Mesh cloth{"cloth", bodyNode, 0, 0, {}, {}};
    appendBox(cloth, {-0.2f, 0.9f, -0.11f}, {0.2f, 1.6f, 0.11f}, blend(kHips, 0.7f, kSpine), rigid(kSpine));
    appendBox(cloth, {0.03f, 0.5f, -0.07f}, {0.17f, 0.95f, 0.07f}, rigid(kThighL), rigid(kThighL));
    appendBox(cloth, {0.04f, 0.02f, -0.06f}, {0.16f, 0.5f, 0.06f}, rigid(kShinL), blend(kShinL, 0.5f, kThighL));
    appendBox(cloth, {-0.17f, 0.5f, -0.07f}, {-0.03f, 0.95f, 0.07f}, rigid(kThighR), rigid(kThighR));
    appendBox(cloth, {-0.16f, 0.02f, -0.06f}, {-0.04f, 0.5f, 0.06f}, rigid(kShinR), blend(kShinR, 0.5f, kThighR));
    Mesh bare{"skin", bodyNode, 0, 1, {}, {}};
    appendBox(bare, {-0.11f, 1.62f, -0.11f}, {0.11f, 1.86f, 0.11f}, rigid(kHead), rigid(kHead));
    appendBox(bare, {0.2f, 1.28f, -0.05f}, {0.29f, 1.6f, 0.05f}, rigid(kUpperArmL), rigid(kUpperArmL));
    appendBox(bare, {0.205f, 0.98f, -0.045f}, {0.285f, 1.28f, 0.045f}, rigid(kForearmL),
              blend(kForearmL, 0.5f, kUpperArmL));
    appendBox(bare, {-0.29f, 1.28f, -0.05f}, {-0.2f, 1.6f, 0.05f}, rigid(kUpperArmR), rigid(kUpperArmR));
    appendBox(bare, {-0.285f, 0.98f, -0.045f}, {-0.205f, 1.28f, 0.045f}, rigid(kForearmR),
              blend(kForearmR, 0.5f, kUpperArmR));
    model.meshes = {cloth, bare};
    model.materials = {material("cloth", {0.25f, 0.35f, 0.8f, 1.0f}), material("skin", {0.9f, 0.68f, 0.52f, 1.0f})};

    content::AnimationClip walk{"walk", 1.0f, 30.0f, 31, static_cast<u32>(model.nodes.size()), {}};
    const Vec3 sideways{1.0f, 0.0f, 0.0f};
    for (u32 frame = 0; frame < walk.frameCount; ++frame) {
        const f32 phase = kTwoPi * static_cast<f32>(frame) / walk.sampleRate;
        const f32 swing = std::sin(phase);
        for (const Node& n : model.nodes) {
            Transform t = n.transform;
            const std::string& name = n.name;
            if (name == "hips") t.translation[1] += 0.03f * std::cos(2.0f * phase);
            if (name == "spine") t.rotation = aboutAxis({0.0f, 1.0f, 0.0f}, 0.15f * swing);
            if (name == "upper_arm.L") t.rotation = aboutAxis(sideways, 0.7f * swing);
            if (name == "upper_arm.R") t.rotation = aboutAxis(sideways, -0.7f * swing);
            if (name == "forearm.L" || name == "forearm.R") t.rotation = aboutAxis(sideways, -0.5f - 0.3f * swing);
            if (name == "thigh.L") t.rotation = aboutAxis(sideways, -0.5f * swing);
            if (name == "thigh.R") t.rotation = aboutAxis(sideways, 0.5f * swing);
            if (name == "shin.L" || name == "shin.R") t.rotation = aboutAxis(sideways, 0.4f * (1.0f - std::cos(phase)));
            walk.samples.push_back(t);
        }
    }
    model.clips.push_back(walk);
    return decoded(model);
}

std::vector<Matrix4> bindPose(const Model& model) {
    std::vector<Transform> locals;
    for (const Node& n : model.nodes) locals.push_back(n.transform);
    std::vector<Matrix4> globals(model.nodes.size());
    content::computeGlobalMatrices(model, locals, globals);
    return globals;
}

std::vector<Matrix4> clipPose(const Model& model, const std::string& clip, f64 timeSeconds) {
    return content::evaluateClip(model, *content::findClip(model, clip), timeSeconds, true).globals;
}

}  // namespace kestrune::render::testing
