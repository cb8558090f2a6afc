#pragma once
// Geometry of the baked models. Every solid is a ring surface: closed rings of points,
// consecutive rings joined by quads, optionally capped, shaded smooth or flat. Tubes, lathed
// profiles, capsules, boxes, blades and thin sheets are all ring surfaces (shapes.h builds
// them). Triangles are wound so that the renderer's back-face culling keeps the outside:
// counter-clockwise on screen, which in its left-handed view means the plain cross product
// (b - a) x (c - a) points into the solid. Skin weights come from the distance of each
// vertex to the bones it is bound to. Offline code; allocates freely.

#include <optional>
#include <string>
#include <vector>

#include "bake_math.h"
#include "content/model.h"

namespace kestrune::baker {

struct RingSurface {
    std::vector<std::vector<Vec3>> rings;  // loops of points, all of one size
    bool closed = true;                    // false: an open sheet, no quad from last point to first
    bool smooth = true;                    // shared normals; false: a normal per quad
    bool capFirst = false;                 // close the first ring with a flat fan
    bool capLast = false;
    f64 uTiles = 1.0;                      // texture repeats around the rings
    f64 vStart = 0.0;                      // texture v at the first ring ...
    f64 vEnd = 1.0;                        // ... and at the last, by length along the surface
    // Outward means away from this point; without it, away from each ring's centre.
    std::optional<Vec3> inside;
};

// A bone the skin weights may use: its palette slot and its segment in bind space.
struct BoneSegment {
    u16 slot = 0;
    Vec3 head;
    Vec3 tail;
};

// Weights of up to four bones, each 1 / (d^2 + softness^2)^2 for the distance d from the
// vertex to the bone's segment, normalised; shares below kMinimumWeight are dropped so
// each part moves with the bones it lies on.
struct SkinBinding {
    std::vector<BoneSegment> bones;
    f64 softnessMetres = 0.03;
};

inline constexpr f64 kMinimumWeight = 0.02;

class MeshBuilder {
public:
    MeshBuilder() = default;
    // Vertices are built (and weighted) where they are authored, then turned by `turn` and
    // moved by `offset` into the mesh's space.
    MeshBuilder(Quat turn, Vec3 offset) : turn_(turn), offset_(offset) {}

    // Surfaces added from now on are skinned by `binding`; without a binding they are rigid.
    void bind(SkinBinding binding);
    void unbind();

    void add(const RingSurface& surface);

    bool empty() const noexcept { return indices_.empty(); }
    std::size_t vertexCount() const noexcept { return vertices_.size(); }

    content::Mesh build(std::string name, i32 node, i32 skin, i32 material) const;

private:
    u32 addVertex(Vec3 position, Vec3 normal, f64 u, f64 v);
    void addTriangle(u32 a, u32 b, u32 c);
    void addFlatQuad(Vec3 a, Vec3 b, Vec3 c, Vec3 d, Vec3 outward, const std::array<f64, 8>& uv);
    void addCap(const std::vector<Vec3>& ring, Vec3 outward);

    Quat turn_;
    Vec3 offset_;
    std::optional<SkinBinding> binding_;
    std::vector<content::Vertex> vertices_;
    std::vector<u32> indices_;
};

// Skin weights of `position` under `binding`: slots and weights of up to four bones,
// weights summing to one.
void skinWeights(const SkinBinding& binding, Vec3 position, std::array<u16, 4>& slots, std::array<f64, 4>& weights);

}  // namespace kestrune::baker
