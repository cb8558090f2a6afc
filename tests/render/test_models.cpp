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

Node node(const std::string& name, i32 parent, const Vec3& at, i32 firstMesh = -1, i32 skin = -1) {
    return {.name = name, .parent = parent, .transform = {.translation = at}, .firstMesh = firstMesh, .skin = skin};
}

// Which joints a box corner follows: up to two, with weights.
struct Binding { std::array<u16, 4> joints{}; std::array<f32, 4> weights{}; };

Binding rigid(u16 joint) { return {{joint, 0, 0, 0}, {1.0f, 0.0f, 0.0f, 0.0f}}; }
Binding blend(u16 a, f32 weightA, u16 b) { return {{a, b, 0, 0}, {weightA, 1.0f - weightA, 0.0f, 0.0f}}; }

// Appends a box between `low` and `high` with flat outward normals and counter-clockwise
// faces seen from outside; corners at the low y follow `bottom`, those at the high y `top`.
void appendBox(Mesh& mesh, const Vec3& low, const Vec3& high, const Binding& bottom, const Binding& top) {
    for (std::size_t axis = 0; axis < 3; ++axis) {
        for (const f32 side : {-1.0f, 1.0f}) {
            const std::size_t u = (axis + 1) % 3, v = (axis + 2) % 3;
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
            mesh.indices.insert(mesh.indices.end(), {first, first + 1, first + 2, first, first + 2, first + 3});
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
    Mesh mesh{.name = name, .material = materialIndex};
    const std::array<std::array<f32, 2>, 4> corners{{{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}};
    for (const auto& corner : corners) {
        mesh.vertices.push_back({{corner[0], corner[1], depth}, {0.0f, 0.0f, -1.0f},
                                 {corner[0] == x0 ? 0.0f : 1.0f, corner[1] == y0 ? 1.0f : 0.0f}, {}, {1.0f, 0, 0, 0}});
    }
    mesh.indices = {0, 1, 2, 0, 2, 3};
    return mesh;
}

Model rigidModel(std::vector<Mesh> meshes, std::vector<content::Material> materials) {
    return decoded({.nodes = {node("root", -1, {}, meshes.empty() ? -1 : 0)}, .meshes = std::move(meshes),
                    .materials = std::move(materials)});
}

Model skinnedQuadModel(u32 jointCount) {
    Model model{.nodes = {node("root", -1, {0.0f, 0.0f, 0.0f}, 0, 0)}};
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
    constexpr u16 kLinks = 5;
    constexpr f32 kFoot = 0.1f;   // the lowest joint's height, metres
    constexpr f32 kLink = 0.35f;  // the length of each link, metres
    // Node j + 1 is joint j, each link on the one below; node 0 is the root, the last node
    // carries the meshes.
    Model model{.nodes = {node("root", -1, {0.0f, 0.0f, 0.0f})}};
    content::Skin skin{.name = "body", .skeleton = 1};
    for (u16 j = 0; j < kLinks; ++j) {
        model.nodes.push_back(node("link" + std::to_string(j), j, {0.0f, j == 0 ? kFoot : kLink, 0.0f}));
        skin.joints.push_back(j + 1u);
        skin.inverseBindMatrices.push_back(translation(0.0f, -(kFoot + kLink * j), 0.0f));
    }
    const i32 bodyNode = static_cast<i32>(model.nodes.size());
    model.nodes.push_back(node("body", 0, {0.0f, 0.0f, 0.0f}, 0, 0));
    model.skins.push_back(skin);

    // Two columns, a box per link in each, whose lower corners blend with the link below.
    Mesh cloth{"cloth", bodyNode, 0, 0, {}, {}}, bare{"skin", bodyNode, 0, 1, {}, {}};
    for (u16 j = 0; j < kLinks; ++j) {
        const f32 y = kFoot + kLink * j;
        const Binding bottom = j == 0 ? rigid(0) : blend(j, 0.5f, static_cast<u16>(j - 1));
        appendBox(cloth, {-0.2f, y, -0.1f}, {-0.02f, y + kLink, 0.1f}, bottom, rigid(j));
        appendBox(bare, {0.02f, y, -0.1f}, {0.2f, y + kLink, 0.1f}, bottom, rigid(j));
    }
    model.meshes = {cloth, bare};
    model.materials = {material("cloth", {0.25f, 0.35f, 0.8f, 1.0f}), material("skin", {0.9f, 0.68f, 0.52f, 1.0f})};

    // Every link swings about x, each a radian behind the one below.
    content::AnimationClip walk{"walk", 1.0f, 30.0f, 31, static_cast<u32>(model.nodes.size()), {}};
    for (u32 frame = 0; frame < walk.frameCount; ++frame) {
        const f32 phase = 2.0f * std::numbers::pi_v<f32> * static_cast<f32>(frame) / walk.sampleRate;
        for (std::size_t i = 0; i < model.nodes.size(); ++i) {
            Transform t = model.nodes[i].transform;
            if (i >= 1 && i <= kLinks) {
                const f32 halfAngle = 0.175f * std::sin(phase - static_cast<f32>(i));  // a swing of 0.35 rad at most
                t.rotation = {std::sin(halfAngle), 0.0f, 0.0f, std::cos(halfAngle)};    // about x
            }
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
