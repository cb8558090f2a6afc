#pragma once
// CPU skinning: the vertices of one model mesh deformed by its skinning palette and
// written as 48-byte primitive vertices, for devices or skins the GPU path cannot take.
// Runs for every drawn CPU-path mesh in every frame, so it reads caller-owned spans,
// writes caller-owned storage (normally the mapped vertex buffer) and allocates nothing.
// Safe on any thread for distinct outputs.
//
// Per vertex: each of the four influences whose weight is above 0 and whose joint is
// below the palette size transforms the position as a point (row vector (x, y, z, 1)
// times the matrix, then divided by w when |w| > 1e-7) and the normal by the matrix's
// upper-left 3 x 3 part; both are summed, weighted. When the valid weights add up to more
// than 0.0001, position = sum / total and normal = normalize(sum / total), a normal whose
// squared length is not above 1e-12 becoming (0, 0, 0); otherwise the source position
// and normal are kept. uv is copied; the colour is white (the draw's tint colours it).

#include <cstddef>
#include <new>
#include <span>
#include <vector>

#include "base/types.h"
#include "render/render_types.h"

namespace kestrune::render {

inline constexpr f32 kMinSkinWeightTotal = 0.0001f;
inline constexpr std::size_t kCacheLineBytes = 64;
static_assert(sizeof(Matrix4) == kCacheLineBytes, "a palette matrix fills one cache line");

// Cache-line aligned storage, so no palette matrix straddles two lines (a 256-bit read of
// its last two rows would otherwise touch both).
template <class T>
struct CacheLineAllocator {
    using value_type = T;
    static constexpr std::align_val_t kAlignment{kCacheLineBytes};

    CacheLineAllocator() = default;
    template <class U>
    explicit CacheLineAllocator(const CacheLineAllocator<U>&) noexcept {}
    T* allocate(std::size_t count) { return static_cast<T*>(::operator new(count * sizeof(T), kAlignment)); }
    void deallocate(T* storage, std::size_t) noexcept { ::operator delete(storage, kAlignment); }
    friend bool operator==(const CacheLineAllocator&, const CacheLineAllocator&) noexcept { return true; }
};

// Palette storage as the kernels read it fastest.
using SkinningPalette = std::vector<Matrix4, CacheLineAllocator<Matrix4>>;
inline constexpr f32 kMinProjectiveW = 1e-7f;

// The kernels, by name, so each can be checked against the definition.
enum class SkinningKernel : u8 {
    scalar,  // the definition, one influence after the other; any palette
    sse2,    // blends the influences' matrices, then transforms once; blendable palettes only
    avx2,    // the same with two matrix rows per 256-bit register and fused multiply-add
    avx512,  // the same with a whole matrix per 512-bit register, four vertices at a time
};

// Whether every matrix is finite and its last column exactly (0, 0, 0, 1), so no influence
// has a w other than 1 to divide by and a zero weight times any entry is zero: the
// precondition of the blending kernels.
bool isBlendablePalette(std::span<const Matrix4> palette) noexcept;

// sse2 on every x86-64 processor; avx2 where the processor and the system support AVX2 and FMA;
// avx512 where they also support AVX-512 F.
bool isSkinningKernelAvailable(SkinningKernel kernel) noexcept;

// Skins with the fastest kernel that applies. Throws std::invalid_argument when out and
// source differ in size, before anything is written.
void skinVertices(std::span<const SkinnedVertex> source, std::span<const Matrix4> palette,
                  std::span<PrimitiveVertex> out);

// Skins with `kernel`, which must be available; all but scalar need a blendable palette.
// Sizes as for skinVertices.
void skinVerticesWith(SkinningKernel kernel, std::span<const SkinnedVertex> source,
                      std::span<const Matrix4> palette, std::span<PrimitiveVertex> out);

}  // namespace kestrune::render
