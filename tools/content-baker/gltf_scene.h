#pragma once
// The node hierarchy of a glTF scene and the frame change into the runtime's. Nodes are
// taken in file order from the scene the file names (or its first, or every root when it
// has none); nodes outside it are left out. Transforms stay in glTF's frame, in double
// precision, until the model is assembled.
//
// glTF is right-handed (+y up, a character faces +z, its left is +x); the runtime is
// left-handed with the same up and front (a character's right is +x). Mirroring x turns
// one into the other and keeps the character's own left and right: positions, normals and
// translations negate x, rotations (x, y, z, w) become (x, -y, -z, w), matrices are M ->
// S M S with S = diag(-1, 1, 1). Mirroring also reverses each triangle's turn in space,
// which is exactly the runtime's winding rule, so indices keep glTF's order.

#include <span>
#include <string>
#include <vector>

#include "bake_math.h"
#include "content/model.h"
#include "gltf_accessors.h"

namespace kestrune::baker {

// A local transform: scale, then rotation, then translation.
struct Trs {
    Vec3 translation;
    Quat rotation;
    Vec3 scale{1.0, 1.0, 1.0};
};

struct SceneNodes {
    std::vector<int> gltfNode;   // per imported node, its glTF index
    std::vector<int> imported;   // per glTF node, its imported index or -1
    std::vector<int> parent;     // per imported node, its parent's imported index or -1
    std::vector<Trs> rest;       // per imported node, in glTF's frame
    std::vector<std::string> name;
};

// Throws ImportError for out-of-range indices, a node with two parents, cycles, a scene
// that lists a child, non-finite or non-TRS transforms and more nodes than a model holds.
SceneNodes readSceneNodes(const GltfReader& reader, const content::ModelLimits& limits,
                          std::vector<std::string>& warnings);

// The rotation of a unit quaternion given as four numbers; ImportError naming `what` when
// they are not finite or have no direction.
Quat unitQuaternion(const GltfReader& reader, std::span<const f64> xyzw, const std::string& what);

// The uniform scale, turn about +y and translation that the importer puts above the roots.
struct RootPlacement {
    f64 scale = 1.0;
    f64 yawRadians = 0.0;
    Vec3 translation;
};

// `local` of a root node with the placement above it, both in the runtime's frame.
Trs placed(const Trs& local, const RootPlacement& placement) noexcept;

Trs mirrored(const Trs& t) noexcept;
inline Vec3 mirrored(Vec3 v) noexcept { return {-v.x, v.y, v.z}; }
// S M S for a glTF matrix (column-major, which is this format's row-vector layout).
content::Matrix4 mirroredMatrix(std::span<const f64> columnMajor) noexcept;

content::Transform toTransform(const Trs& t) noexcept;

}  // namespace kestrune::baker
