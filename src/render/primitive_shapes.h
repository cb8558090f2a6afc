#pragma once
// Geometry of the renderer's built-in shapes: ground floor and grid, flat rings,
// camera-facing billboards and status bars, and the placeholder triangle. Builders append
// to a caller-owned batch whose vectors keep their capacity, so a batch reused every frame
// stops allocating once it has seen its largest shape. Nothing here touches the GPU.

#include <span>
#include <vector>

#include "base/types.h"
#include "render/camera_math.h"
#include "render/render_types.h"

namespace kestrune::render {

struct PrimitiveBatch {
    std::vector<PrimitiveVertex> vertices;
    std::vector<u32> indices;

    void clear() noexcept {
        vertices.clear();
        indices.clear();
    }
};

inline constexpr Vec3 kUpNormal{0.0f, 1.0f, 0.0f};
inline constexpr f32 kShapePi = 3.1415927f;

inline constexpr f32 kFloorDropMetres = 0.02f;
inline constexpr f32 kGridLineHalfWidthMetres = 0.012f;
inline constexpr Color kFloorColor{0.11f, 0.15f, 0.17f, 1.0f};
inline constexpr Color kGridLineColor{0.15f, 0.34f, 0.42f, 0.34f};

inline constexpr u32 kMinRingSegments = 3;
inline constexpr u32 kMaxRingSegments = 512;

inline constexpr f32 kStatusBarHalfWidth = 0.59f;
inline constexpr f32 kStatusBarHalfHeight = 0.06f;
inline constexpr f32 kStatusBarHighlightedHalfHeight = 0.08f;
inline constexpr f32 kStatusTrackWidth = 1.08f;
inline constexpr f32 kStatusMinFillWidth = 0.001f;
inline constexpr f32 kStatusFillHalfHeight = 0.0375f;
inline constexpr f32 kStatusLowThreshold = 0.35f;  // at or below: the warning colour
inline constexpr Color kStatusBackgroundColor{0.025f, 0.035f, 0.045f, 0.92f};
inline constexpr Color kStatusHealthyColor{0.10f, 0.90f, 0.42f, 0.96f};
inline constexpr Color kStatusLowColor{0.96f, 0.18f, 0.14f, 0.96f};
static_assert(kStatusTrackWidth * 0.5f < kStatusBarHalfWidth, "the fill track lies inside the bar background");

// Appends one quad (four vertices, two triangles 0-2-1 and 0-3-2) with normal (0, 1, 0).
void appendQuad(PrimitiveBatch& batch, const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& d,
                const Color& color, std::span<const std::array<f32, 2>, 4> uvs);

// The floor quad, slightly below the grid so the lines never fight it for depth.
void buildGroundFloor(PrimitiveBatch& batch, const Vec3& center, f32 halfExtent);
// 2n + 1 lines in each direction, n = floor(halfExtent); none for a negative extent.
void buildGroundGrid(PrimitiveBatch& batch, const Vec3& center, f32 halfExtent);
// Returns false (appending nothing) for fewer than 3 or more than 512 segments, or a
// non-positive radius or width.
bool buildRing(PrimitiveBatch& batch, const Vec3& center, f32 radius, f32 width, const Color& color, u32 segments);
void buildBillboard(PrimitiveBatch& batch, const CameraBasis& basis, const Vec3& center, f32 width, f32 height,
                    const Color& color, f32 angleRadians);
void buildStatusBarBackground(PrimitiveBatch& batch, const CameraBasis& basis, const Vec3& position,
                              bool highlighted);
void buildStatusBarFill(PrimitiveBatch& batch, const CameraBasis& basis, const Vec3& position, f32 fraction);
void buildPlaceholderTriangle(PrimitiveBatch& batch);

// The placeholder frame's camera and its tint pulse (0.7 to 1.0, one cycle per time unit).
Camera placeholderCamera() noexcept;
f32 placeholderPulse(f32 time) noexcept;

}  // namespace kestrune::render
