#include "render/render_device.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "render/device_fixture.h"

namespace kestrune::render {
namespace {

using namespace testing;

// The placeholder triangle's vertices (each of its own position and colour), drawn in order.
const std::vector<PrimitiveVertex> kTriangle = [] {
    PrimitiveBatch batch;
    buildPlaceholderTriangle(batch);
    return batch.vertices;
}();
const std::array<u32, 3> kTriangleIndices{0, 1, 2};

void drawPrimitives(RenderDevice& device, std::span<const PrimitiveVertex> vertices = kTriangle,
                    std::span<const u32> indices = kTriangleIndices, bool alphaBlend = false, bool depthTest = true,
                    bool additive = false, TextureHandle texture = kWhiteTexture) {
    device.DrawPrimitives(vertices, indices, texture, alphaBlend, depthTest, identityMatrix(), kWhite, additive);
}

// ---- Creation ----

TEST(RenderDeviceCreate, HardwareFailureFallsBackToWarpOnce) {
    // destroyCalls: a failed hardware attempt is torn down before the retry; error: null: created
    const struct {
        const char* name; u32 failingAttempts; bool useWarp; std::vector<bool> attemptsWarp; u32 destroyCalls;
        const char* error;
    } cases[] = {
        {"hardware", 0, false, {false}, 0, nullptr},
        {"hardware failure retries on WARP", 1, false, {false, true}, 1, nullptr},
        {"requested WARP is not retried", 1, true, {true}, 0, "scripted device failure"},
        {"second failure propagates", 2, false, {false, true}, 1, "scripted device failure"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceFixture f;
        std::tie(f.backend->failingDeviceAttempts, f.backend->sampleCount) = std::tuple(c.failingAttempts, 2u);
        if (c.error != nullptr) {
            expectThrow<std::runtime_error>([&] { f.create(c.useWarp); }, c.error);
        } else {
            f.create(c.useWarp);
            EXPECT_EQ(f.device.driverText(), c.attemptsWarp.back() ? u"warp" : u"hardware");
            EXPECT_EQ(std::tuple(f.device.report().info.gpuSkinningEnabled, f.device.report().info.msaaSampleCount),
                      std::tuple(true, 2u));
            // The 1 x 1 white texture is made by Create and is not an upload.
            const TextureDesc& white = f.backend->textures.at(0);
            EXPECT_EQ(std::tuple(white.widthPixels, white.pixels.size(), std::string_view(white.textureOperation),
                                 f.device.Statistics().uploadedTextures, f.backend->textures.size()),
                      std::tuple(1u, 4u, "ID3D11Device::CreateTexture2D(white)", 0u, 1u));
        }
        EXPECT_EQ(std::tuple(f.backend->deviceAttemptsWarp, f.backend->destroyCalls, f.device.created()),
                  std::tuple(c.attemptsWarp, c.destroyCalls, c.error == nullptr));
    }
}

// ---- Draw state ----

TEST(RenderDeviceDrawState, FlagsAndTextureSelectStatesAndLighting) {
    using enum BlendMode;
    using enum DepthMode;
    const TextureHandle white = kWhiteTexture;
    const struct {
        const char* name; bool alphaBlend, depthTest, additive; TextureHandle texture; BlendMode blend; DepthMode depth;
        f32 ambient, directional, useTexture;
    } cases[] = {
        {"opaque lit", false, true, false, white, opaque, readWrite, 0.32f, 0.76f, 0},
        {"opaque without depth", false, false, false, white, opaque, disabled, 0.32f, 0.76f, 0},
        {"blended reads depth only", true, true, false, white, alpha, readOnly, 1, 0, 0},
        {"blended on top", true, false, false, white, alpha, disabled, 1, 0, 0},
        {"additive blended", true, true, true, white, additive, readOnly, 1, 0, 0},
        {"additive over opaque mode stays lit", false, true, true, white, additive, readWrite, 0.32f, 0.76f, 0},
        {"no texture samples white", false, true, false, kNoTexture, opaque, readWrite, 0.32f, 0.76f, 1},
        {"unknown handle samples white", true, true, false, TextureHandle{7}, alpha, readOnly, 1, 0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StartedDevice f;
        drawPrimitives(f.device, kTriangle, kTriangleIndices, c.alphaBlend, c.depthTest, c.additive, c.texture);
        ASSERT_EQ(f.backend->draws.size(), 1u);
        const auto& draw = f.backend->draws[0];
        // Primitives never cull; texture 1 is the white texture's backend id.
        const DrawState& state = draw.state;
        EXPECT_EQ(std::tuple(state.blend, state.depth, state.raster, state.path, state.texture),
                  std::tuple(c.blend, c.depth, RasterMode::doubleSided, VertexPath::primitive, GpuTexture{1}));
        EXPECT_EQ(draw.constants.lightAndTexture, (std::array<f32, 4>{c.ambient, c.directional, c.useTexture, 0}));
        EXPECT_EQ(std::tuple(draw.call.vertexStrideBytes, draw.call.indexCount), std::tuple(48u, 3u));
    }
}

// The world matrix applies before view and projection, which follow the resized viewport.
TEST(RenderDeviceDrawState, WorldViewProjectionFollowsTheViewport) {
    StartedDevice f;
    // The placeholder camera looks at (0, 1, 0): moving the origin there puts it at the screen centre.
    f.device.DrawPrimitives(kTriangle, kTriangleIndices, kWhiteTexture, false, true, translation(0.0f, 1.0f, 0.0f),
                            {0.5f, 0.25f, 1.0f, 1.0f}, false);
    const SceneConstants& constants = f.backend->draws.at(0).constants;
    const auto clip = transformPoint(constants.worldViewProjection, {0.0f, 0.0f, 0.0f});
    EXPECT_NEAR(clip[0] / clip[3], 0.0f, 1e-5f);
    EXPECT_NEAR(clip[1] / clip[3], 0.0f, 1e-5f);
    EXPECT_TRUE(clip[2] / clip[3] > 0.0f && clip[2] / clip[3] < 1.0f) << "depth " << clip[2] / clip[3];
    EXPECT_EQ(std::tuple(constants.world[13], constants.tint[1]), std::tuple(1.0f, 0.25f));

    const f32 wideXScale = f.device.projectionMatrix()[0];
    f.device.Resize(720, 720);
    f.device.BeginFrame(placeholderCamera(), 0.0f);
    EXPECT_FLOAT_EQ(f.device.projectionMatrix()[0], f.device.projectionMatrix()[5]);
    EXPECT_NEAR(wideXScale * 1280.0f / 720.0f, f.device.projectionMatrix()[0], 1e-5f);
}

// ---- Primitive buffers ----

TEST(RenderDevicePrimitives, GrownCapacityDoublesFromMinimumsUpToTheLimit) {
    constexpr u64 kVertexLimit = kPrimitiveVertexLimit;
    constexpr u64 kOverflow = 0;
    const struct { const char* name; u64 current, needed, minimum, limit, expected; } cases[] = {
        {"first small draw gets the minimum", 0, 3, 256, kVertexLimit, 256},
        {"just above doubles", 256, 300, 256, kVertexLimit, 512},
        {"far above takes the need", 256, 1000, 256, kVertexLimit, 1000},
        {"index minimum", 0, 3, 512, kPrimitiveIndexLimit, 512},
        {"largest vertex count", 0, kVertexLimit - 1, 256, kVertexLimit, kVertexLimit - 1},
        {"vertex count at the limit", 0, kVertexLimit, 256, kVertexLimit, kOverflow},
        {"doubling reaches the limit", kVertexLimit / 2 + 1, kVertexLimit / 2 + 2, 256, kVertexLimit, kOverflow},
        {"index count at the limit", 0, kPrimitiveIndexLimit, 512, kPrimitiveIndexLimit, kOverflow}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto grow = [&] { return grownCapacity(c.current, c.needed, c.minimum, c.limit); };
        if (c.expected == kOverflow) {
            expectThrow<std::overflow_error>(grow, "D3D11 buffer size is invalid or exceeds UINT_MAX.");
        } else {
            EXPECT_EQ(grow(), c.expected);
        }
    }
}

TEST(RenderDevicePrimitives, BuffersGrowGeometricallyNeverShrinkAndCarryTheCallersData) {
    StartedDevice f;
    const std::array<u32, 6> indices{2, 1, 0, 0, 1, 2};
    drawPrimitives(f.device, kTriangle, indices);
    const auto& draw = f.backend->draws.at(0);
    EXPECT_EQ(std::tuple(draw.indices, draw.vertices[1].position, draw.vertices[2].color),
              std::tuple(std::vector<u32>{2, 1, 0, 0, 1, 2}, kTriangle[1].position, kTriangle[2].color));
    EXPECT_EQ(std::tuple(f.device.Statistics().triangles, f.device.primitiveVertexCapacity(),
                         f.device.primitiveIndexCapacity()), std::tuple(2u, 256u, 512u));
    ASSERT_EQ(f.backend->buffers.size(), 2u);
    EXPECT_EQ(std::tuple(f.backend->buffers[0].desc.sizeBytes, f.backend->buffers[0].desc.usage,
                         f.backend->buffers[1].desc.binding, f.backend->buffers[1].desc.sizeBytes),
              std::tuple(256u * 48u, BufferUsage::dynamic, BufferBinding::index, 512u * 4u));

    drawPrimitives(f.device, std::vector<PrimitiveVertex>(300, kTriangle[0]));
    EXPECT_EQ(std::tuple(f.device.primitiveVertexCapacity(), f.device.primitiveIndexCapacity(),
                         f.backend->buffers.size(), f.backend->buffers[0].released), std::tuple(512u, 512u, 3u, true));
    EXPECT_STREQ(f.backend->buffers[2].desc.operation, "ID3D11Device::CreateBuffer(primitive vertices)");

    drawPrimitives(f.device);
    EXPECT_EQ(std::tuple(f.device.primitiveVertexCapacity(), f.backend->buffers.size(), f.backend->liveBuffers()),
              std::tuple(512u, 3u, 2u));
}

TEST(RenderDevicePrimitives, EmptyOrOutOfRangeDrawsReachNoBuffer) {
    const std::array<u32, 3> pastTheEnd{0, 1, 3};
    // error: null: silently nothing
    const struct {
        const char* name; std::span<const PrimitiveVertex> vertices; std::span<const u32> indices; const char* error;
    } cases[] = {
        {"no vertices", {}, kTriangleIndices, nullptr}, {"no indices", kTriangle, {}, nullptr},
        {"index past the vertices", kTriangle, pastTheEnd, "Primitive index exceeds the vertex count."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StartedDevice f;
        const auto draw = [&] { drawPrimitives(f.device, c.vertices, c.indices); };
        if (c.error == nullptr) {
            draw();
        } else {
            expectThrow<std::invalid_argument>(draw, c.error);
        }
        EXPECT_EQ(std::tuple(f.backend->draws.size(), f.backend->buffers.size(), f.device.Statistics().drawCalls),
                  std::tuple(0u, 0u, 0u));
    }
}

TEST(RenderDevicePrimitives, ShapesDrawWithTheirStates) {
    StartedDevice f;
    f.device.DrawGroundGrid({0, 0, 0}, 10.0f);
    f.device.DrawRing({0, 0, 0}, 1.0f, 0.2f, kWhite, 2, false);  // rejected: draws nothing
    f.device.DrawStatusBar({0, 2, 0}, 0.2f, false);
    f.device.DrawRing({0, 0, 0}, 1.0f, 0.2f, kWhite, 48, true);
    f.device.DrawBillboard(kNoTexture, {0, 1, 0}, 1, 1, kWhite, 0, false);
    using enum BlendMode;
    using enum DepthMode;
    const struct { const char* name; BlendMode blend; DepthMode depth; u32 triangles; } expected[] = {
        {"floor", opaque, readWrite, 2}, {"grid lines of ten metres", alpha, readOnly, 84},
        {"bar background on top", alpha, disabled, 2}, {"bar fill on top", alpha, disabled, 2},
        {"ring of 48", additive, readOnly, 96}, {"billboard", alpha, readOnly, 2}};
    const auto& draws = f.backend->draws;
    ASSERT_EQ(draws.size(), std::size(expected));
    for (std::size_t i = 0; i < draws.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(std::tuple(draws[i].state.blend, draws[i].state.depth, draws[i].call.indexCount),
                  std::tuple(expected[i].blend, expected[i].depth, 3 * expected[i].triangles));
    }
    EXPECT_EQ(draws[3].vertices[0].color, kStatusLowColor);
    // The billboard faces the frame's camera: its width runs along the screen's right, +x here.
    expectNear(subtract(draws[5].vertices[1].position, draws[5].vertices[0].position), {1.0f, 0.0f, 0.0f});
    EXPECT_FLOAT_EQ(draws[5].constants.lightAndTexture[2], 1.0f);
    // Triangles: 2 + 84 + 2 + 2 + 96 + 2.
    EXPECT_EQ(std::tuple(f.device.Statistics().drawCalls, f.device.Statistics().triangles), std::tuple(6u, 188u));
}

// ---- Frame, present, resize ----

// A failed wait is a completed wait: it is counted before its error ends the frame, which
// begins nothing; the next frame draws again.
TEST(RenderDeviceFrame, PlaceholderFramesPulseCountWaitsAndResolveOnlyWithMultisampling) {
    const std::string failure = "Frame-latency wait failed with Win32 error 6.";
    for (const u32 samples : {1u, 2u, 4u}) {
        SCOPED_TRACE(samples);
        DeviceFixture f;
        f.backend->sampleCount = samples;
        f.create();
        f.backend->waitResults = {LatencyWait::signalled, LatencyWait::timedOut, LatencyWait::noWaitable,
                                  LatencyWaitResult(failure)};
        for (int i = 0; i < 3; ++i) {
            f.device.DrawPlaceholderFrame(0.75, 1);  // the pulse's low point
        }
        expectThrow<std::runtime_error>([&] { f.device.DrawPlaceholderFrame(0.75, 1); }, failure);
        const RenderStatistics& stats = f.device.Statistics();
        EXPECT_EQ(std::tuple(stats.frameLatencyWaits, stats.frameLatencyTimeouts, stats.antiAliasingResolves,
                             stats.presentedFrames, stats.drawCalls, f.backend->presents, f.backend->draws.size()),
                  std::tuple(3u, 1u, samples > 1 ? 3u : 0u, 3u, 3u, 3u, 3u));
        EXPECT_EQ(f.backend->passes, std::vector<Color>(3, kClearColor));
        const auto& draw = f.backend->draws.at(2);
        expectNear({draw.constants.tint[0], draw.constants.tint[1], draw.constants.tint[2]}, {0.7f, 0.7f, 0.7f}, 1e-6f);
        EXPECT_EQ(std::tuple(draw.constants.tint[3], draw.state.blend, draw.indices),
                  std::tuple(1.0f, BlendMode::opaque, std::vector<u32>{0, 2, 1}));
        f.device.DrawPlaceholderFrame(0.75, 1);
        EXPECT_EQ(std::tuple(stats.frameLatencyWaits, stats.presentedFrames), std::tuple(4u, 4u));
    }
}

TEST(RenderDeviceFrame, PresentBeforeAnyFrameHasNoRenderTimeAFailedOneIsNotCountedAndResizeSkipsZero) {
    DeviceFixture f;
    f.create();
    f.device.Present(1);
    EXPECT_EQ(std::tuple(f.device.Statistics().renderCpuMillisecondsTotal, f.device.Statistics().presentedFrames,
                         f.backend->syncIntervals), std::tuple(0.0, 1u, std::vector<u8>{1}));
    f.backend->presentStatus = 5;
    EXPECT_THROW(f.device.DrawPlaceholderFrame(0.0, 0), std::runtime_error);
    EXPECT_EQ(std::tuple(f.device.Statistics().presentedFrames, f.backend->presents), std::tuple(1u, 2u));

    // Resizing ignores zero sizes and uncreated devices.
    DeviceFixture uncreated;
    uncreated.device.Resize(800, 600);
    f.device.Resize(0, 600);
    f.device.Resize(800, 0);
    f.backend->sampleCount = 2;
    f.device.Resize(800, 600);
    EXPECT_EQ(std::tuple(f.backend->resizes, f.device.report().info.msaaSampleCount, uncreated.backend->resizes),
              std::tuple(std::vector<std::pair<u32, u32>>{{800, 600}}, 2u, std::vector<std::pair<u32, u32>>{}));
}

// ---- Screenshots ----

// The bytes are the encoder's (its own suite checks them); here the file's place and timing.
TEST(RenderDeviceScreenshot, WrittenOnceAtTheNextPresentIntoNewDirectoriesAndKeptWhenUnwritable) {
    DeviceFixture f;
    f.create();
    std::tie(f.backend->readbackWidth, f.backend->readbackHeight) = std::tuple(3u, 2u);
    const std::filesystem::path scratch = testing::scratchDirectory();
    const std::filesystem::path path = scratch / "nested" / "deeper" / "shot.bmp";
    f.device.RequestScreenshot(path);
    EXPECT_FALSE(std::filesystem::exists(path));
    f.device.DrawPlaceholderFrame(0.0, 0);
    EXPECT_EQ(std::filesystem::file_size(path), 54u + 2 * 12);  // 3 x 2 pixels, rows padded to 12; throws if missing
    std::filesystem::remove(path);
    f.device.DrawPlaceholderFrame(0.0, 0);
    EXPECT_FALSE(std::filesystem::exists(path));

    // An unwritable path throws and keeps the request.
    std::filesystem::create_directories(scratch / "taken");  // a directory where the file should go
    f.device.RequestScreenshot(scratch / "taken");
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        expectThrow<std::runtime_error>([&] { f.device.DrawPlaceholderFrame(0.0, 0); },
                                        "Unable to create screenshot file.");
    }
    EXPECT_EQ(f.device.Statistics().presentedFrames, 2u);  // only the two written frames
}

}  // namespace
}  // namespace kestrune::render
