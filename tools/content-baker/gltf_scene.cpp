#include "gltf_scene.h"

#include <tiny_gltf.h>

#include <cmath>
#include <deque>

#include "base/text_format.h"

namespace kestrune::baker {
namespace {

// How far a matrix may stray from a translation, rotation and scale and still be read as
// one: float matrices written by exporters carry rounding of this order.
constexpr f64 kMatrixTolerance = 1e-4;
// Below this a scale is zero, and the axis has no direction to take a rotation from.
constexpr f64 kZeroScale = 1e-12;

std::string nodeName(int index) { return "node " + std::to_string(index); }

bool allFinite(std::span<const f64> values) noexcept {
    for (const f64 v : values) {
        if (!std::isfinite(v)) return false;
    }
    return true;
}

Trs decompose(const GltfReader& reader, const std::vector<f64>& m, int index) {
    const std::string name = nodeName(index);
    if (!allFinite(m)) {
        reader.fail(name + ": matrix is not finite");
    }
    if (std::fabs(m[3]) > kMatrixTolerance || std::fabs(m[7]) > kMatrixTolerance ||
        std::fabs(m[11]) > kMatrixTolerance || std::fabs(m[15] - 1.0) > kMatrixTolerance) {
        reader.fail(name + ": matrix is a projection, not a translation, rotation and scale");
    }
    // Column-major glTF: elements 0-2, 4-6 and 8-10 are the images of the x, y and z axes.
    Vec3 axes[3] = {{m[0], m[1], m[2]}, {m[4], m[5], m[6]}, {m[8], m[9], m[10]}};
    Trs t;
    t.translation = {m[12], m[13], m[14]};
    f64 scale[3] = {length(axes[0]), length(axes[1]), length(axes[2])};
    const bool zero[3] = {scale[0] <= kZeroScale, scale[1] <= kZeroScale, scale[2] <= kZeroScale};
    if (zero[0] && zero[1] && zero[2]) {
        t.scale = {0.0, 0.0, 0.0};
        return t;
    }
    if (zero[0] || zero[1] || zero[2]) {
        reader.fail(name + ": matrix flattens some axes but not all, which this importer does not decompose");
    }
    if (dot(cross(axes[0], axes[1]), axes[2]) < 0.0) {
        scale[0] = -scale[0];  // a mirror: one negative scale, the rest a rotation
    }
    for (int i = 0; i < 3; ++i) axes[i] = axes[i] * (1.0 / scale[i]);
    if (std::fabs(dot(axes[0], axes[1])) > kMatrixTolerance || std::fabs(dot(axes[0], axes[2])) > kMatrixTolerance ||
        std::fabs(dot(axes[1], axes[2])) > kMatrixTolerance) {
        reader.fail(name + ": matrix shears, so it is not a translation, rotation and scale");
    }
    t.rotation = quatFromBasis(axes[0], axes[1], axes[2]);
    t.scale = {scale[0], scale[1], scale[2]};
    return t;
}

Vec3 vectorOf(const GltfReader& reader, const std::vector<f64>& v, const std::string& what) {
    if (v.size() != 3) {
        reader.fail(what + " has " + std::to_string(v.size()) + " numbers, not 3");
    }
    if (!allFinite(v)) {
        reader.fail(what + " is not finite");
    }
    return {v[0], v[1], v[2]};
}

Trs restTransform(const GltfReader& reader, const tinygltf::Node& node, int index) {
    const std::string name = nodeName(index);
    if (!node.matrix.empty()) {
        if (node.matrix.size() != 16) {
            reader.fail(name + ": matrix has " + std::to_string(node.matrix.size()) + " numbers, not 16");
        }
        return decompose(reader, node.matrix, index);
    }
    Trs t;
    if (!node.translation.empty()) t.translation = vectorOf(reader, node.translation, name + ": translation");
    if (!node.scale.empty()) t.scale = vectorOf(reader, node.scale, name + ": scale");
    if (!node.rotation.empty()) {
        if (node.rotation.size() != 4) {
            reader.fail(name + ": rotation has " + std::to_string(node.rotation.size()) + " numbers, not 4");
        }
        t.rotation = unitQuaternion(reader, node.rotation, name + ": rotation");
    }
    return t;
}

}  // namespace

Quat unitQuaternion(const GltfReader& reader, std::span<const f64> q, const std::string& what) {
    if (!allFinite(q)) {
        reader.fail(what + " is not finite");
    }
    const f64 l = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    if (!(l > 1e-6) || !std::isfinite(l)) {
        reader.fail(what + formatText(" is not a unit quaternion (length %g)", l));
    }
    return {q[0] / l, q[1] / l, q[2] / l, q[3] / l};
}

SceneNodes readSceneNodes(const GltfReader& reader, const content::ModelLimits& limits,
                          std::vector<std::string>& warnings) {
    const tinygltf::Model& document = reader.document();
    const std::size_t count = document.nodes.size();
    std::vector<int> parent(count, -1);
    for (std::size_t i = 0; i < count; ++i) {
        for (const int child : document.nodes[i].children) {
            const std::string name = nodeName(static_cast<int>(i));
            if (child < 0 || static_cast<std::size_t>(child) >= count) {
                reader.fail(name + " names child " + std::to_string(child) + ", but the file has " +
                            std::to_string(count) + " nodes");
            }
            if (static_cast<std::size_t>(child) == i) {
                reader.fail(name + " is its own child");
            }
            if (parent[static_cast<std::size_t>(child)] >= 0) {
                reader.fail(nodeName(child) + " is a child of both " +
                            nodeName(parent[static_cast<std::size_t>(child)]) + " and " + name);
            }
            parent[static_cast<std::size_t>(child)] = static_cast<int>(i);
        }
    }
    // Every node's chain of parents must end at a root: walk each chain once, marking the
    // nodes on it, so a chain that comes back to a marked node is a cycle.
    std::vector<u8> state(count, 0);  // 0 unseen, 1 on the chain being walked, 2 reaches a root
    for (std::size_t start = 0; start < count; ++start) {
        std::size_t n = start;
        while (state[n] == 0) {
            state[n] = 1;
            if (parent[n] < 0) break;
            n = static_cast<std::size_t>(parent[n]);
        }
        if (state[n] == 1 && parent[n] >= 0) {
            reader.fail(nodeName(static_cast<int>(n)) + " is its own ancestor");
        }
        for (n = start; state[n] == 1; n = parent[n] < 0 ? n : static_cast<std::size_t>(parent[n])) {
            state[n] = 2;
        }
    }

    std::vector<int> roots;
    if (document.scenes.empty()) {
        for (std::size_t i = 0; i < count; ++i) {
            if (parent[i] < 0) roots.push_back(static_cast<int>(i));
        }
    } else {
        const int scene = document.defaultScene >= 0 ? document.defaultScene : 0;
        if (static_cast<std::size_t>(scene) >= document.scenes.size()) {
            reader.fail("the default scene is scene " + std::to_string(scene) + ", but the file has " +
                        std::to_string(document.scenes.size()));
        }
        for (const int root : document.scenes[static_cast<std::size_t>(scene)].nodes) {
            const std::string name = "scene " + std::to_string(scene);
            if (root < 0 || static_cast<std::size_t>(root) >= count) {
                reader.fail(name + " names " + nodeName(root) + ", but the file has " + std::to_string(count) +
                            " nodes");
            }
            if (parent[static_cast<std::size_t>(root)] >= 0) {
                reader.fail(name + " names " + nodeName(root) + ", which is a child of " +
                            nodeName(parent[static_cast<std::size_t>(root)]));
            }
            roots.push_back(root);
        }
    }

    std::vector<bool> inScene(count, false);
    std::deque<int> open(roots.begin(), roots.end());
    while (!open.empty()) {
        const auto n = static_cast<std::size_t>(open.front());
        open.pop_front();
        if (inScene[n]) {
            reader.fail("the scene names " + nodeName(static_cast<int>(n)) + " twice");
        }
        inScene[n] = true;
        for (const int child : document.nodes[n].children) open.push_back(child);
    }

    SceneNodes nodes;
    nodes.imported.assign(count, -1);
    for (std::size_t i = 0; i < count; ++i) {
        if (!inScene[i]) continue;
        nodes.imported[i] = static_cast<int>(nodes.gltfNode.size());
        nodes.gltfNode.push_back(static_cast<int>(i));
    }
    if (nodes.gltfNode.empty()) {
        reader.fail("the scene has no nodes");
    }
    if (nodes.gltfNode.size() > limits.maxNodes) {
        reader.fail("the scene has " + std::to_string(nodes.gltfNode.size()) + " nodes, more than the " +
                    std::to_string(limits.maxNodes) + " a model may have");
    }
    if (nodes.gltfNode.size() < count) {
        warnings.push_back("nodes outside the scene (" + std::to_string(count - nodes.gltfNode.size()) + " of " +
                           std::to_string(count) + ") are left out");
    }
    for (const int g : nodes.gltfNode) {
        const tinygltf::Node& node = document.nodes[static_cast<std::size_t>(g)];
        const int p = parent[static_cast<std::size_t>(g)];
        nodes.parent.push_back(p < 0 ? -1 : nodes.imported[static_cast<std::size_t>(p)]);
        nodes.rest.push_back(restTransform(reader, node, g));
        nodes.name.push_back(node.name.empty() ? "node_" + std::to_string(g) : node.name);
        if (node.camera >= 0) {
            warnings.push_back(nodeName(g) + " carries a camera, which the runtime does not use");
        }
        if (node.extensions.contains("KHR_lights_punctual")) {
            warnings.push_back(nodeName(g) + " carries a light, which the runtime does not use");
        }
    }
    return nodes;
}

Trs mirrored(const Trs& t) noexcept {
    return {mirrored(t.translation), {t.rotation.x, -t.rotation.y, -t.rotation.z, t.rotation.w}, t.scale};
}

content::Matrix4 mirroredMatrix(std::span<const f64> m) noexcept {
    content::Matrix4 out;
    for (std::size_t i = 0; i < 16; ++i) {
        // S M S negates the elements in exactly one of row 0 and column 0.
        const bool flip = (i < 4) != (i % 4 == 0);
        out[i] = static_cast<f32>(flip ? -m[i] : m[i]);
    }
    return out;
}

Trs placed(const Trs& local, const RootPlacement& placement) noexcept {
    // p S R T, then the placement's s Y and t: the uniform s commutes with every rotation,
    // so the result is again a scale, a rotation and a translation.
    const Quat yaw = axisAngle({0.0, 1.0, 0.0}, placement.yawRadians);
    Trs t;
    t.scale = local.scale * placement.scale;
    t.rotation = yaw * local.rotation;
    t.translation = rotate(yaw, local.translation * placement.scale) + placement.translation;
    return t;
}

content::Transform toTransform(const Trs& t) noexcept {
    const Quat q = normalized(t.rotation);
    content::Transform out;
    out.translation = {static_cast<f32>(t.translation.x), static_cast<f32>(t.translation.y),
                       static_cast<f32>(t.translation.z)};
    out.rotation = {static_cast<f32>(q.x), static_cast<f32>(q.y), static_cast<f32>(q.z), static_cast<f32>(q.w)};
    out.scale = {static_cast<f32>(t.scale.x), static_cast<f32>(t.scale.y), static_cast<f32>(t.scale.z)};
    return out;
}

}  // namespace kestrune::baker
