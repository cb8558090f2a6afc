#include "render/primitive_shapes.h"

#include <algorithm>
#include <cmath>

namespace kestrune::render {

namespace {

constexpr std::array<std::array<f32, 2>, 4> kQuadUvs{{{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {0.0f, 1.0f}}};
constexpr std::array<std::array<f32, 2>, 4> kZeroUvs{};
constexpr std::array<std::array<f32, 2>, 4> kBillboardUvs{{{0.0f, 1.0f}, {1.0f, 1.0f}, {1.0f, 0.0f}, {0.0f, 0.0f}}};

Vec3 add(const Vec3& a, const Vec3& b) noexcept { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec3 scale(const Vec3& v, f32 s) noexcept { return {v[0] * s, v[1] * s, v[2] * s}; }

// A camera-facing quad centred on `center` with half-axes a (right) and b (up).
void appendFacingQuad(PrimitiveBatch& batch, const Vec3& center, const Vec3& a, const Vec3& b, const Color& color,
                      std::span<const std::array<f32, 2>, 4> uvs) {
    appendQuad(batch, subtract(subtract(center, a), b), subtract(add(center, a), b), add(add(center, a), b),
               add(subtract(center, a), b), color, uvs);
}

void appendGridLine(PrimitiveBatch& batch, f32 height, f32 x0, f32 z0, f32 x1, f32 z1) {
    const f32 dx = x1 - x0;
    const f32 dz = z1 - z0;
    const f32 length = std::sqrt(dx * dx + dz * dz);
    const f32 ox = -dz / length * kGridLineHalfWidthMetres;
    const f32 oz = dx / length * kGridLineHalfWidthMetres;
    appendQuad(batch, {x0 + ox, height, z0 + oz}, {x1 + ox, height, z1 + oz}, {x1 - ox, height, z1 - oz},
               {x0 - ox, height, z0 - oz}, kGridLineColor, kZeroUvs);
}

}  // namespace

void appendQuad(PrimitiveBatch& batch, const Vec3& a, const Vec3& b, const Vec3& c, const Vec3& d,
                const Color& color, std::span<const std::array<f32, 2>, 4> uvs) {
    const u32 first = static_cast<u32>(batch.vertices.size());
    batch.vertices.push_back({a, kUpNormal, uvs[0], color});
    batch.vertices.push_back({b, kUpNormal, uvs[1], color});
    batch.vertices.push_back({c, kUpNormal, uvs[2], color});
    batch.vertices.push_back({d, kUpNormal, uvs[3], color});
    for (const u32 corner : {0u, 2u, 1u, 0u, 3u, 2u}) {
        batch.indices.push_back(first + corner);
    }
}

void buildGroundFloor(PrimitiveBatch& batch, const Vec3& center, f32 halfExtent) {
    const f32 y = center[1] - kFloorDropMetres;
    const f32 h = halfExtent;
    appendQuad(batch, {center[0] - h, y, center[2] - h}, {center[0] + h, y, center[2] - h},
               {center[0] + h, y, center[2] + h}, {center[0] - h, y, center[2] + h}, kFloorColor, kQuadUvs);
}

void buildGroundGrid(PrimitiveBatch& batch, const Vec3& center, f32 halfExtent) {
    const f32 h = halfExtent;
    const f32 cx = center[0];
    const f32 cz = center[2];
    const i64 n = static_cast<i64>(std::floor(h));
    for (i64 i = -n; i <= n; ++i) {
        const f32 offset = static_cast<f32>(i);
        appendGridLine(batch, center[1], cx + offset, cz - h, cx + offset, cz + h);
        appendGridLine(batch, center[1], cx - h, cz + offset, cx + h, cz + offset);
    }
}

bool buildRing(PrimitiveBatch& batch, const Vec3& center, f32 radius, f32 width, const Color& color, u32 segments) {
    if (segments < kMinRingSegments || segments > kMaxRingSegments || !(radius > 0.0f) || !(width > 0.0f)) {
        return false;
    }
    const f32 inner = std::max(0.0f, radius - width * 0.5f);
    const f32 outer = radius + width * 0.5f;
    const u32 first = static_cast<u32>(batch.vertices.size());
    for (u32 i = 0; i <= segments; ++i) {
        const f32 angle = (static_cast<f32>(i) / static_cast<f32>(segments)) * 2.0f * kShapePi;
        const f32 c = std::cos(angle);
        const f32 s = std::sin(angle);
        batch.vertices.push_back(
            {{center[0] + c * inner, center[1], center[2] + s * inner}, kUpNormal, {0.0f, 0.0f}, color});
        batch.vertices.push_back(
            {{center[0] + c * outer, center[1], center[2] + s * outer}, kUpNormal, {1.0f, 1.0f}, color});
        if (i < segments) {
            const u32 base = first + 2 * i;
            for (const u32 offset : {0u, 3u, 1u, 0u, 2u, 3u}) {
                batch.indices.push_back(base + offset);
            }
        }
    }
    return true;
}

void buildBillboard(PrimitiveBatch& batch, const CameraBasis& basis, const Vec3& center, f32 width, f32 height,
                    const Color& color, f32 angleRadians) {
    const f32 c = std::cos(angleRadians);
    const f32 s = std::sin(angleRadians);
    const Vec3 alongA = add(scale(basis.right, c), scale(basis.up, s));
    const Vec3 alongB = subtract(scale(basis.up, c), scale(basis.right, s));
    appendFacingQuad(batch, center, scale(alongA, width * 0.5f), scale(alongB, height * 0.5f), color, kBillboardUvs);
}

void buildStatusBarBackground(PrimitiveBatch& batch, const CameraBasis& basis, const Vec3& position,
                              bool highlighted) {
    const f32 halfHeight = highlighted ? kStatusBarHighlightedHalfHeight : kStatusBarHalfHeight;
    appendFacingQuad(batch, position, scale(basis.right, kStatusBarHalfWidth), scale(basis.up, halfHeight),
                     kStatusBackgroundColor, kZeroUvs);
}

void buildStatusBarFill(PrimitiveBatch& batch, const CameraBasis& basis, const Vec3& position, f32 fraction) {
    // NaN compares false everywhere, so it is treated as an empty bar rather than passed through.
    const f32 value = fraction > 0.0f ? std::min(fraction, 1.0f) : 0.0f;
    const f32 fillWidth = value * kStatusTrackWidth;
    const Vec3 centre = add(position, scale(basis.right, (kStatusTrackWidth - fillWidth) * -0.5f));
    const f32 halfWidth = std::max(fillWidth, kStatusMinFillWidth) * 0.5f;
    const Color& color = value > kStatusLowThreshold ? kStatusHealthyColor : kStatusLowColor;
    appendFacingQuad(batch, centre, scale(basis.right, halfWidth), scale(basis.up, kStatusFillHalfHeight), color,
                     kZeroUvs);
}

void buildPlaceholderTriangle(PrimitiveBatch& batch) {
    constexpr Vec3 kTowardsCamera{0.0f, 0.0f, -1.0f};
    const u32 first = static_cast<u32>(batch.vertices.size());
    batch.vertices.push_back({{0.0f, 1.75f, 0.0f}, kTowardsCamera, {0.0f, 0.0f}, {0.95f, 0.72f, 0.18f, 1.0f}});
    batch.vertices.push_back({{0.62f, 0.55f, 0.0f}, kTowardsCamera, {0.0f, 0.0f}, {0.12f, 0.68f, 0.92f, 1.0f}});
    batch.vertices.push_back({{-0.62f, 0.55f, 0.0f}, kTowardsCamera, {0.0f, 0.0f}, {0.28f, 0.90f, 0.52f, 1.0f}});
    for (const u32 corner : {0u, 2u, 1u}) {
        batch.indices.push_back(first + corner);
    }
}

Camera placeholderCamera() noexcept {
    return Camera{{0.0f, 3.0f, -7.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, 0.82f, 0.05f, 250.0f};
}

f32 placeholderPulse(f32 time) noexcept { return std::sin(2.0f * kShapePi * time) * 0.15f + 0.85f; }

}  // namespace kestrune::render
