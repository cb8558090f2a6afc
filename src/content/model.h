#pragma once
// The in-memory model: what a successfully decoded Kestrune Model file is. A Model is
// produced whole by the decoder or not at all and is immutable afterwards; consumers may
// rely on the invariants stated per field without checking them again.
//
// Matrices use the row-vector convention: 16 floats stored row by row, p' = p x M,
// translation in elements 12..14, and A x B applies A first.

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/types.h"

namespace kestrune::content {

// Every failure of the content subsystem; what() is the complete message.
class ContentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Transform {
    std::array<f32, 3> translation{0.0f, 0.0f, 0.0f};
    std::array<f32, 4> rotation{0.0f, 0.0f, 0.0f, 1.0f};  // x, y, z, w
    std::array<f32, 3> scale{1.0f, 1.0f, 1.0f};

    friend bool operator==(const Transform&, const Transform&) = default;
};

struct Matrix4 {
    std::array<f32, 16> m{};

    f32& operator[](std::size_t i) noexcept { return m[i]; }
    f32 operator[](std::size_t i) const noexcept { return m[i]; }
    friend bool operator==(const Matrix4&, const Matrix4&) = default;
};

struct Node {
    std::string name;             // non-empty
    i32 parent = -1;              // -1 (root) or another node's index
    Transform transform;          // local, relative to the parent
    i32 firstMesh = -1;           // lowest index of a mesh on this node, or -1
    i32 skin = -1;                // -1 or the skin of every mesh on this node

    friend bool operator==(const Node&, const Node&) = default;
};

struct Skin {
    std::string name;
    i32 skeleton = -1;                       // stored, not interpreted
    std::vector<u32> joints;                 // node indices, no duplicates
    std::vector<Matrix4> inverseBindMatrices;  // one per joint, finite

    friend bool operator==(const Skin&, const Skin&) = default;
};

// 56 bytes, identical in the file and in memory (the GPU path uploads it as it is).
struct Vertex {
    std::array<f32, 3> position{};
    std::array<f32, 3> normal{};
    std::array<f32, 2> uv{};
    std::array<u16, 4> joints{};   // palette slots of the mesh's skin
    std::array<f32, 4> weights{};  // >= 0; sum in [0.98, 1.02] for skinned meshes

    friend bool operator==(const Vertex&, const Vertex&) = default;
};
static_assert(sizeof(Vertex) == 56, "vertex layout is shared with the file and the GPU");

struct Mesh {
    std::string name;
    i32 node = 0;        // a node index, never -1
    i32 skin = -1;       // -1 (rigid) or the node's skin
    i32 material = -1;   // -1 or a material index
    std::vector<Vertex> vertices;
    std::vector<u32> indices;  // triangles; every entry < vertex count

    friend bool operator==(const Mesh&, const Mesh&) = default;
};

enum AlphaMode : u32 { kAlphaOpaque = 0, kAlphaTested = 1, kAlphaBlended = 2 };

struct Material {
    std::string name;
    std::string texture;  // empty, or a relative '/'-separated path
    std::array<f32, 4> baseColor{1.0f, 1.0f, 1.0f, 1.0f};
    u32 alphaMode = kAlphaOpaque;
    bool doubleSided = false;

    friend bool operator==(const Material&, const Material&) = default;
};

struct AnimationClip {
    std::string name;       // unique within the model (byte-exact)
    f32 duration = 0.0f;    // seconds; time of the last frame
    f32 sampleRate = 0.0f;  // frames per second
    u32 frameCount = 0;     // max(ceil(duration * sampleRate) + 1, 2)
    u32 nodeCount = 0;      // the model's node count
    std::vector<Transform> samples;  // frame-major: frame f, node n at f * nodeCount + n

    friend bool operator==(const AnimationClip&, const AnimationClip&) = default;
};

struct Model {
    std::vector<Node> nodes;
    std::vector<Skin> skins;
    std::vector<Mesh> meshes;
    std::vector<Material> materials;
    std::vector<AnimationClip> clips;
    std::vector<u32> nodeOrder;  // breadth-first, parents before children
    std::array<u8, 32> sha256{};  // digest of the whole file as read

    friend bool operator==(const Model&, const Model&) = default;
};

// Limits of one model load; the defaults are those every caller in the program uses.
struct ModelLimits {
    u64 maxFileBytes = 536'870'912;
    u32 maxStringTableBytes = 16'777'216;
    u32 maxNodes = 16'384;
    u32 maxSkins = 1'024;
    u32 maxMeshes = 65'536;
    u32 maxMaterials = 65'536;
    u32 maxClips = 4'096;
    u32 maxJointsPerSkin = 65'536;
    u32 maxVerticesPerMesh = 16'777'216;
    u32 maxIndicesPerMesh = 50'331'648;
    u64 maxTotalVertices = 33'554'432;
    u64 maxTotalIndices = 100'663'296;
    u32 maxFramesPerClip = 1'000'000;
    u64 maxTotalAnimationSamples = 8'388'608;
    f32 maxSampleRate = 1000.0f;
    std::optional<std::string> expectedSha256;
};

}  // namespace kestrune::content
