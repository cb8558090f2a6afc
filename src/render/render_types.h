#pragma once
// Value types shared by the renderer and its callers: handles, vertex records, the camera
// and the per-draw constants. Plain aggregates; nothing here owns a GPU object.

#include <array>
#include <limits>

#include "base/types.h"
#include "content/model.h"

namespace kestrune::render {

using content::Matrix4;

// Indices into the device's texture and model lists, in order of creation, never reused
// before Destroy. Two types, so one kind cannot be passed where the other is meant.
enum class TextureHandle : u32 {};
enum class ModelHandle : u32 {};
inline constexpr u32 kNoHandle = 0xFFFF'FFFFu;  // never a valid index of either list
inline constexpr TextureHandle kWhiteTexture{0};  // the 1 x 1 white texture made by Create
inline constexpr TextureHandle kNoTexture{kNoHandle};

using Vec3 = std::array<f32, 3>;
using Color = std::array<f32, 4>;  // red, green, blue, alpha; linear

// 48 bytes: the primitive input layout and the CPU skinning output.
struct PrimitiveVertex {
    Vec3 position{};
    Vec3 normal{};
    std::array<f32, 2> uv{};
    Color color{};
};
static_assert(sizeof(PrimitiveVertex) == 48, "primitive vertex stride is part of the input layout");

// The model file's vertex record, uploaded as it is on the GPU skinning path.
using SkinnedVertex = content::Vertex;
static_assert(sizeof(SkinnedVertex) == 56, "skinned vertex stride is part of the input layout");

struct Camera {
    Vec3 eye{};
    Vec3 target{};
    Vec3 up{};
    f32 fieldOfViewYRadians = 0.0f;
    f32 nearPlane = 0.0f;
    f32 farPlane = 0.0f;
};

// Register b0 of every program: 160 bytes.
struct SceneConstants {
    Matrix4 worldViewProjection;
    Matrix4 world;
    Color tint{};
    std::array<f32, 4> lightAndTexture{};  // ambient, directional, useTexture, alphaCutoff
};
static_assert(sizeof(SceneConstants) == 160, "scene constant buffer layout");

inline constexpr u32 kGpuPaletteJoints = 128;
inline constexpr u32 kSkinConstantsBytes = 8208;
static_assert(kGpuPaletteJoints * sizeof(Matrix4) + 16 == kSkinConstantsBytes, "skin constants: palette plus metadata");

// Register b1 of the model vertex program: the palette, then enabled (0 or 1), matrix count, 0, 0.
struct SkinConstants {
    std::array<Matrix4, kGpuPaletteJoints> skinMatrices{};
    std::array<u32, 4> skinMetadata{};
};
static_assert(sizeof(SkinConstants) == kSkinConstantsBytes, "skin constant buffer layout");

inline Matrix4 identityMatrix() noexcept {
    Matrix4 m;
    m[0] = m[5] = m[10] = m[15] = 1.0f;
    return m;
}

}  // namespace kestrune::render
