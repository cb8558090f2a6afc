#pragma once
// A decoded model as the scene draws it: the renderer's winding rule per triangle, and poses
// sampled, skinned by the renderer's CPU skinning and placed as the runtime does it; and a
// baked file found by its path.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "bake.h"
#include "bake_math.h"
#include "content/animation.h"
#include "content/model.h"
#include "content/skinning.h"
#include "render/cpu_skinning.h"

namespace kestrune::baker::test {

using Point = std::array<f64, 3>;

// Triangles of `mesh` whose cross product points along their summed vertex normals: front
// faces are counter-clockwise on screen, so in the renderer's left-handed view the plain
// cross product of a front face points into the solid, against the vertex normals.
inline std::size_t invertedTriangles(const content::Mesh& mesh) {
    std::size_t inverted = 0;
    const auto vec = [](const std::array<f32, 3>& v) { return Vec3{v[0], v[1], v[2]}; };
    for (std::size_t i = 0; i + 2 < mesh.indices.size(); i += 3) {
        const content::Vertex& a = mesh.vertices[mesh.indices[i]];
        const content::Vertex& b = mesh.vertices[mesh.indices[i + 1]];
        const content::Vertex& c = mesh.vertices[mesh.indices[i + 2]];
        const Vec3 face = cross(vec(b.position) - vec(a.position), vec(c.position) - vec(a.position));
        inverted += dot(face, vec(a.normal) + vec(b.normal) + vec(c.normal)) > 0.0 ? 1 : 0;
    }
    return inverted;
}

// Every node's global matrix in clip `clip` at `seconds`.
inline std::vector<content::Matrix4> posedGlobals(const content::Model& model, const std::string& clip, f64 seconds,
                                                  bool loop = false) {
    const content::AnimationClip* found = content::findClip(model, clip);
    if (found == nullptr) throw std::runtime_error("no clip " + clip);
    std::vector<content::Transform> locals(model.nodes.size());
    std::vector<content::Matrix4> globals(model.nodes.size());
    content::sampleClip(model, *found, seconds, loop, locals);
    content::computeGlobalMatrices(model, locals, globals);
    return globals;
}

// A point under a column-major 4 x 4 matrix (content::Matrix4, or the tests' own doubles).
template <class Matrix> Point transformPoint(const Matrix& m, const Point& p) {
    return {p[0] * m[0] + p[1] * m[4] + p[2] * m[8] + m[12], p[0] * m[1] + p[1] * m[5] + p[2] * m[9] + m[13],
            p[0] * m[2] + p[1] * m[6] + p[2] * m[10] + m[14]};
}

inline f64 distance(const Point& a, const Point& b) { return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]); }

inline Point jointPosition(const std::vector<content::Matrix4>& globals, std::size_t node) {
    return {globals[node][12], globals[node][13], globals[node][14]};
}

// Every vertex skinned by the palette and placed by its mesh node, in mesh order; meshes
// whose name holds `hidden` are left out.
inline std::vector<Point> skinnedPositions(const content::Model& model, const std::vector<content::Matrix4>& globals,
                                           const char* hidden = nullptr) {
    std::vector<Point> out;
    for (const content::Mesh& mesh : model.meshes) {
        if (hidden != nullptr && mesh.name.find(hidden) != std::string::npos) continue;
        render::SkinningPalette palette(model.skins[static_cast<std::size_t>(mesh.skin)].joints.size());
        content::computeSkinningPalette(model, mesh, globals, palette);
        std::vector<render::PrimitiveVertex> skinned(mesh.vertices.size());
        render::skinVertices(mesh.vertices, palette, skinned);
        for (const render::PrimitiveVertex& v : skinned) {
            out.push_back(transformPoint(globals[static_cast<std::size_t>(mesh.node)],
                                         {v.position[0], v.position[1], v.position[2]}));
        }
    }
    return out;
}

inline std::size_t nodeNamed(const content::Model& model, const std::string& name) {
    const auto found = std::ranges::find_if(model.nodes, [&](const content::Node& node) { return node.name == name; });
    if (found == model.nodes.end()) throw std::runtime_error("no node " + name);
    return static_cast<std::size_t>(found - model.nodes.begin());
}

// Where the scene draws a model-space point: turned about the vertical, then lifted.
inline Point drawn(f64 yawRadians, f64 liftMetres, const Point& p) {
    const f64 c = std::cos(yawRadians), s = std::sin(yawRadians);
    return {c * p[0] + s * p[2], p[1] + liftMetres, -s * p[0] + c * p[2]};
}

inline const BakedFile& bakedFile(const std::vector<BakedFile>& files, const std::string& path) {
    const auto found = std::ranges::find_if(files, [&](const BakedFile& file) { return file.path == path; });
    if (found == files.end()) throw std::runtime_error("not baked: " + path);
    return *found;
}

}  // namespace kestrune::baker::test
