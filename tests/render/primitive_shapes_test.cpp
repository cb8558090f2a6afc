#include "render/primitive_shapes.h"

#include <gtest/gtest.h>

#include <cmath>

#include "render/test_support.h"

namespace kestrune::render {
namespace {

using testing::expectNear;

// Facing a camera that looks along +z.
const CameraBasis kFrontBasis = cameraFacingBasis({{0, 0, -5}, {0, 0, 0}, {0, 1, 0}, 1.0f, 0.1f, 100.0f});

TEST(PrimitiveShapes, QuadsShareOneListWithOffsetIndexPatternAndTheFloorIsOne) {
    PrimitiveBatch batch;
    appendQuad(batch, {0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}, kFloorColor, std::array<std::array<f32, 2>, 4>{});
    appendQuad(batch, {0, 0, 0}, {1, 0, 0}, {1, 0, 1}, {0, 0, 1}, kFloorColor, std::array<std::array<f32, 2>, 4>{});
    EXPECT_EQ(batch.indices, (std::vector<u32>{0, 2, 1, 0, 3, 2, 4, 6, 5, 4, 7, 6}));
    for (const PrimitiveVertex& v : batch.vertices) {
        expectNear(v.normal, {0.0f, 1.0f, 0.0f});
    }
    // The ground floor is one such quad, just below the centre, with corner uvs.
    batch.clear();
    buildGroundFloor(batch, {1.0f, 0.5f, -2.0f}, 3.0f);
    ASSERT_EQ(batch.vertices.size(), 4u);
    expectNear(batch.vertices[0].position, {-2.0f, 0.48f, -5.0f});
    expectNear(batch.vertices[2].position, {4.0f, 0.48f, 1.0f});
    EXPECT_EQ(std::tuple(batch.vertices[1].uv, batch.vertices[3].uv, batch.vertices[0].color),
              std::tuple(std::array<f32, 2>{1.0f, 0.0f}, std::array<f32, 2>{0.0f, 1.0f}, kFloorColor));
}

TEST(PrimitiveShapes, GroundGridLineCounts) {
    const struct { const char* name; f32 halfExtent; std::size_t quads; } cases[] = {
        {"ten metres", 10.0f, 42}, {"fraction rounds down", 2.9f, 10},
        {"below one metre keeps the centre lines", 0.5f, 2}, {"negative draws no lines", -1.0f, 0}};
    // One batch, cleared and built again for each case as for each frame, keeps the storage
    // the largest grid gave it.
    PrimitiveBatch batch;
    buildGroundGrid(batch, {0, 0, 0}, 10.0f);
    const auto storage = std::tuple(batch.vertices.data(), batch.indices.data());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        batch.clear();
        buildGroundGrid(batch, {0.0f, 0.0f, 0.0f}, c.halfExtent);
        EXPECT_EQ(std::tuple(batch.vertices.size(), batch.indices.size()), std::tuple(c.quads * 4, c.quads * 6));
        EXPECT_EQ(std::tuple(batch.vertices.data(), batch.indices.data()), storage);
    }
    // Lines are thin quads across the whole extent: the first at x = -1 from z = -1 to z = +1,
    // offset by 0.012 across it, the second along x at z = -1.
    batch.clear();
    buildGroundGrid(batch, {0.0f, 0.25f, 0.0f}, 1.0f);
    ASSERT_EQ(batch.vertices.size(), 24u);
    expectNear(batch.vertices[0].position, {-1.012f, 0.25f, -1.0f});
    expectNear(batch.vertices[1].position, {-1.012f, 0.25f, 1.0f});
    expectNear(batch.vertices[2].position, {-0.988f, 0.25f, 1.0f});
    expectNear(batch.vertices[3].position, {-0.988f, 0.25f, -1.0f});
    expectNear(batch.vertices[4].position, {-1.0f, 0.25f, -0.988f});
    expectNear(batch.vertices[5].position, {1.0f, 0.25f, -0.988f});
    EXPECT_EQ(batch.vertices[7].color, kGridLineColor);
}

// Rings of 3 to 512 segments with a positive radius and width are drawn.
TEST(PrimitiveShapes, RingLimitsAndARingOf48SegmentsClosesOnItselfAndAWideOneIsADisc) {
    const struct { const char* name; u32 segments; f32 radius, width; bool drawn; } cases[] = {
        {"two segments", 2, 1.0f, 0.1f, false},   {"three segments", 3, 1.0f, 0.1f, true},
        {"512 segments", 512, 1.0f, 0.1f, true}, {"513 segments", 513, 1.0f, 0.1f, false},
        {"zero radius", 48, 0.0f, 0.1f, false},  {"zero width", 48, 1.0f, 0.0f, false},
        {"NaN radius", 48, std::nanf(""), 0.1f, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PrimitiveBatch batch;
        EXPECT_EQ(buildRing(batch, {0, 0, 0}, c.radius, c.width, kFloorColor, c.segments), c.drawn);
        EXPECT_EQ(batch.vertices.empty(), !c.drawn);
    }
    PrimitiveBatch batch;
    const Color color{0.2f, 0.4f, 0.6f, 0.8f};
    ASSERT_TRUE(buildRing(batch, {1.0f, 0.1f, 2.0f}, 2.0f, 0.5f, color, 48));
    EXPECT_EQ(std::tuple(batch.vertices.size(), batch.indices.size()), std::tuple(98u, 288u));
    expectNear(batch.vertices[0].position, {2.75f, 0.1f, 2.0f});
    expectNear(batch.vertices[1].position, {3.25f, 0.1f, 2.0f});
    expectNear(batch.vertices[96].position, batch.vertices[0].position, 1e-4f);
    EXPECT_EQ(std::tuple(batch.vertices[1].uv, batch.vertices[50].color), std::tuple(std::array<f32, 2>{1, 1}, color));
    const std::vector<u32> firstSegment(batch.indices.begin(), batch.indices.begin() + 6);
    EXPECT_EQ(std::tuple(firstSegment, batch.indices.back()), std::tuple(std::vector<u32>{0, 3, 1, 0, 2, 3}, 97u));
    // A ring wider than its radius becomes a filled disc: the inner edge stays at the centre.
    batch.clear();
    ASSERT_TRUE(buildRing(batch, {0, 0, 0}, 1.0f, 3.0f, kFloorColor, 4));
    for (std::size_t i = 0; i < batch.vertices.size(); i += 2) {
        expectNear(batch.vertices[i].position, {0.0f, 0.0f, 0.0f});
    }
    expectNear(batch.vertices[1].position, {2.5f, 0.0f, 0.0f});
}

TEST(PrimitiveShapes, BillboardAxesFollowTheAngle) {
    // alongWidth: vertex 1 - vertex 0
    // alongHeight: vertex 3 - vertex 0
    const struct { const char* name; f32 angle; Vec3 alongWidth; Vec3 alongHeight; } cases[] = {
        {"upright", 0.0f, {4.0f, 0.0f, 0.0f}, {0.0f, 2.0f, 0.0f}},
        {"quarter turn", kShapePi / 2.0f, {0.0f, 4.0f, 0.0f}, {-2.0f, 0.0f, 0.0f}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PrimitiveBatch batch;
        buildBillboard(batch, kFrontBasis, {1.0f, 1.0f, 1.0f}, 4.0f, 2.0f, kFloorColor, c.angle);
        ASSERT_EQ(batch.vertices.size(), 4u);
        expectNear(subtract(batch.vertices[1].position, batch.vertices[0].position), c.alongWidth);
        expectNear(subtract(batch.vertices[3].position, batch.vertices[0].position), c.alongHeight);
        EXPECT_EQ(std::tuple(batch.vertices[0].uv, batch.vertices[2].uv),
                  std::tuple(std::array<f32, 2>{0.0f, 1.0f}, std::array<f32, 2>{1.0f, 0.0f}));
    }
}

TEST(PrimitiveShapes, StatusBarFillColourAndWidthAndBackground) {
    const struct { const char* name; f32 fraction, width; Color color; } cases[] = {
        {"at the threshold is low", 0.35f, 0.35f * 1.08f, kStatusLowColor},
        {"just above is healthy", 0.36f, 0.36f * 1.08f, kStatusHealthyColor},
        {"empty keeps a sliver", 0.0f, 0.001f, kStatusLowColor}, {"negative is empty", -3.0f, 0.001f, kStatusLowColor},
        {"above one is full", 7.0f, 1.08f, kStatusHealthyColor}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PrimitiveBatch batch;
        buildStatusBarFill(batch, kFrontBasis, {0.0f, 2.0f, 0.0f}, c.fraction);
        ASSERT_EQ(batch.vertices.size(), 4u);
        const f32 left = batch.vertices[0].position[0];
        EXPECT_NEAR(batch.vertices[1].position[0] - left, c.width, 1e-5f);
        if (c.fraction > 0.0f) {
            EXPECT_NEAR(left, -0.54f, 1e-5f);  // the fill starts at the track's left edge
        }
        EXPECT_NEAR(batch.vertices[3].position[1] - batch.vertices[0].position[1], 0.075f, 1e-5f);
        EXPECT_EQ(batch.vertices[0].color, c.color);
    }
    // The background behind it grows when highlighted.
    for (const bool highlighted : {false, true}) {
        SCOPED_TRACE(highlighted);
        PrimitiveBatch batch;
        buildStatusBarBackground(batch, kFrontBasis, {0.0f, 2.0f, 0.0f}, highlighted);
        expectNear(batch.vertices[0].position, {-0.59f, highlighted ? 1.92f : 1.94f, 0.0f});
        expectNear(batch.vertices[2].position, {0.59f, highlighted ? 2.08f : 2.06f, 0.0f});
        EXPECT_EQ(batch.vertices[0].color, kStatusBackgroundColor);
    }
}

TEST(PrimitiveShapes, PlaceholderTriangleAndPulse) {
    PrimitiveBatch batch;
    buildPlaceholderTriangle(batch);
    ASSERT_EQ(std::tuple(batch.vertices.size(), batch.indices), std::tuple(3u, std::vector<u32>{0, 2, 1}));
    expectNear(batch.vertices[2].normal, {0.0f, 0.0f, -1.0f});
    expectNear({placeholderPulse(0.0f), placeholderPulse(0.25f), placeholderPulse(0.75f)}, {0.85f, 1.0f, 0.7f}, 1e-6f);
}

}  // namespace
}  // namespace kestrune::render
