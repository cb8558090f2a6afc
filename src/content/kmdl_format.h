#pragma once
// Byte layout of the Kestrune Model file ("KMDL0001"), shared by the decoder and the
// writer so both sides read the same numbers. Little-endian throughout; seven sections
// back to back with no padding: header, string table, nodes, skins, materials, meshes,
// clips.

#include <cstddef>
#include <string_view>

#include "base/types.h"
#include "content/model.h"

namespace kestrune::content::kmdl {

inline constexpr std::string_view kMagic = "KMDL0001";
inline constexpr u32 kVersion = 1;
inline constexpr u32 kEndianMarker = 0x01020304;  // stored as 04 03 02 01

inline constexpr std::size_t kHeaderBytes = 44;
inline constexpr std::size_t kStringTableOffset = kHeaderBytes;
inline constexpr std::size_t kTransformBytes = 40;          // 10 x f32
inline constexpr std::size_t kMatrixBytes = 64;             // 16 x f32
inline constexpr std::size_t kNodeRecordBytes = 56;
inline constexpr std::size_t kSkinHeaderBytes = 12;         // then 4 + 64 bytes per joint
inline constexpr std::size_t kSkinJointBytes = 4 + kMatrixBytes;
inline constexpr std::size_t kMaterialRecordBytes = 32;
inline constexpr std::size_t kMeshHeaderBytes = 24;         // then vertices, then indices
inline constexpr std::size_t kVertexBytes = 56;
inline constexpr std::size_t kIndexBytes = 4;
inline constexpr std::size_t kClipHeaderBytes = 20;         // then frame-major samples

static_assert(kNodeRecordBytes == 4 + 4 + kTransformBytes + 4 + 4, "node record: name, parent, TRS, mesh, skin");
static_assert(kMaterialRecordBytes == 4 + 4 + 16 + 4 + 4, "material record");
static_assert(kVertexBytes == sizeof(Vertex), "vertex layout is the same in the file and in memory");
static_assert(kTransformBytes == sizeof(Transform) && kMatrixBytes == sizeof(Matrix4), "ten and sixteen floats");

}  // namespace kestrune::content::kmdl
