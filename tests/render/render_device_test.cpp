#include "render/render_device.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "base/little_endian.h"
#include "render/recording_backend.h"
#include "render/test_support.h"

namespace kestrune::render {
namespace {

using testing::RecordingBackend;
using testing::transformPoint;
using testing::translation;

struct DeviceFixture {
    RecordingBackend* backend = nullptr;
    RenderDevice device;

    explicit DeviceFixture(u32 sampleCount = 4, u32 failingAttempts = 0)
        : device(makeBackend(sampleCount, failingAttempts)) {}

    std::unique_ptr<RenderBackend> makeBackend(u32 sampleCount, u32 failingAttempts) {
        auto recording = std::make_unique<RecordingBackend>();
        recording->sampleCount = sampleCount;
        recording->failingDeviceAttempts = failingAttempts;
        backend = recording.get();
        return recording;
    }
    void create(bool useWarp = false) { device.Create({}, 1280, 720, useWarp); }
};

const std::array<PrimitiveVertex, 3> kTriangle{{
    {{0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f}, {1.0f, 0.0f, 0.0f, 1.0f}},
    {{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {1.0f, 0.0f}, {0.0f, 1.0f, 0.0f, 1.0f}},
    {{0.0f, 1.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 1.0f}, {0.0f, 0.0f, 1.0f, 1.0f}},
}};
const std::array<u32, 3> kTriangleIndices{0, 1, 2};
constexpr Color kWhite{1.0f, 1.0f, 1.0f, 1.0f};

void drawTriangle(RenderDevice& device, bool alphaBlend, bool depthTest, bool additive,
                  TextureHandle texture = kWhiteTexture) {
    device.DrawPrimitives(kTriangle, kTriangleIndices, texture, alphaBlend, depthTest, identityMatrix(), kWhite,
                          additive);
}

// ---- Creation ----

TEST(RenderDeviceCreate, HardwareFailureFallsBackToWarpOnce) {
    DeviceFixture f(4, 1);
    f.create(false);
    EXPECT_EQ(f.backend->deviceAttemptsWarp, (std::vector<bool>{false, true}));
    EXPECT_EQ(f.backend->destroyCalls, 1u);  // the failed attempt is torn down before the retry
    EXPECT_EQ(f.device.driverText(), u"warp");
    EXPECT_TRUE(f.device.created());
}

TEST(RenderDeviceCreate, RequestedWarpFailureIsNotRetried) {
    DeviceFixture f(4, 1);
    EXPECT_THROW(f.create(true), std::runtime_error);
    EXPECT_EQ(f.backend->deviceAttemptsWarp, (std::vector<bool>{true}));
    EXPECT_FALSE(f.device.created());
}

TEST(RenderDeviceCreate, SecondFailurePropagates) {
    DeviceFixture f(4, 2);
    try {
        f.create(false);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "scripted device failure");
    }
    EXPECT_EQ(f.backend->deviceAttemptsWarp.size(), 2u);
}

TEST(RenderDeviceCreate, FillsReportAndWhiteTexture) {
    DeviceFixture f(2);
    f.create();
    EXPECT_TRUE(f.device.report().info.flipModelEnabled);
    EXPECT_TRUE(f.device.report().info.gpuSkinningEnabled);
    EXPECT_EQ(f.device.report().info.msaaSampleCount, 2u);
    EXPECT_EQ(f.device.shaderProfileText(), u"recording");
    ASSERT_EQ(f.backend->textures.size(), 1u);
    EXPECT_EQ(f.backend->textures[0].widthPixels, 1u);
    EXPECT_EQ(f.backend->textures[0].pixels.size(), 4u);
    EXPECT_STREQ(f.backend->textures[0].textureOperation, "ID3D11Device::CreateTexture2D(white)");
    EXPECT_EQ(f.device.Statistics().uploadedTextures, 0u);  // the white texture is not an upload
}

TEST(RenderDeviceCreate, DestroyReleasesEverythingAndMayRunTwice) {
    DeviceFixture f;
    f.create();
    f.device.BeginFrame(placeholderCamera(), 0.0f);
    drawTriangle(f.device, false, true, false);
    EXPECT_EQ(f.backend->liveBuffers(), 2u);
    f.device.Destroy();
    f.device.Destroy();
    EXPECT_EQ(f.backend->liveBuffers(), 0u);
    EXPECT_EQ(f.backend->liveTextures, 0u);
    EXPECT_EQ(f.device.primitiveVertexCapacity(), 0u);
    EXPECT_FALSE(f.device.created());
}

// ---- Draw state ----

TEST(RenderDeviceDrawState, FlagsSelectStatesAndLighting) {
    const struct {
        const char* name;
        bool alphaBlend;
        bool depthTest;
        bool additive;
        BlendMode blend;
        DepthMode depth;
        f32 ambient;
        f32 directional;
    } cases[] = {
        {"opaque lit", false, true, false, BlendMode::opaque, DepthMode::readWrite, 0.32f, 0.76f},
        {"opaque without depth", false, false, false, BlendMode::opaque, DepthMode::disabled, 0.32f, 0.76f},
        {"blended reads depth only", true, true, false, BlendMode::alpha, DepthMode::readOnly, 1.0f, 0.0f},
        {"blended on top", true, false, false, BlendMode::alpha, DepthMode::disabled, 1.0f, 0.0f},
        {"additive blended", true, true, true, BlendMode::additive, DepthMode::readOnly, 1.0f, 0.0f},
        {"additive over opaque mode stays lit", false, true, true, BlendMode::additive, DepthMode::readWrite, 0.32f,
         0.76f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceFixture f;
        f.create();
        f.device.BeginFrame(placeholderCamera(), 0.0f);
        drawTriangle(f.device, c.alphaBlend, c.depthTest, c.additive);
        ASSERT_EQ(f.backend->draws.size(), 1u);
        const auto& draw = f.backend->draws[0];
        EXPECT_EQ(draw.state.blend, c.blend);
        EXPECT_EQ(draw.state.depth, c.depth);
        EXPECT_EQ(draw.state.raster, RasterMode::doubleSided);  // primitives never cull
        EXPECT_EQ(draw.state.path, VertexPath::primitive);
        EXPECT_FLOAT_EQ(draw.constants.lightAndTexture[0], c.ambient);
        EXPECT_FLOAT_EQ(draw.constants.lightAndTexture[1], c.directional);
        EXPECT_FLOAT_EQ(draw.constants.lightAndTexture[3], 0.0f);
        EXPECT_EQ(draw.call.vertexStrideBytes, 48u);
        EXPECT_EQ(draw.call.indexCount, 3u);
    }
}

TEST(RenderDeviceDrawState, TextureHandlesFallBackToWhite) {
    const struct {
        const char* name;
        TextureHandle handle;
        f32 useTexture;
    } cases[] = {
        {"white texture is untextured", kWhiteTexture, 0.0f},
        {"no texture samples white", kNoTexture, 1.0f},
        {"unknown handle samples white", TextureHandle{7}, 1.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceFixture f;
        f.create();
        f.device.BeginFrame(placeholderCamera(), 0.0f);
        drawTriangle(f.device, false, true, false, c.handle);
        const auto& draw = f.backend->draws.at(0);
        EXPECT_EQ(draw.state.texture, static_cast<GpuTexture>(1));  // the white texture's backend id
        EXPECT_FLOAT_EQ(draw.constants.lightAndTexture[2], c.useTexture);
    }
}

TEST(RenderDeviceDrawState, WorldIsAppliedBeforeViewAndProjection) {
    DeviceFixture f;
    f.create();
    f.device.BeginFrame(placeholderCamera(), 0.0f);
    // The placeholder camera looks at (0, 1, 0): moving the origin there puts it at the screen centre.
    f.device.DrawPrimitives(kTriangle, kTriangleIndices, kWhiteTexture, false, true, translation(0.0f, 1.0f, 0.0f),
                            {0.5f, 0.25f, 1.0f, 1.0f}, false);
    const SceneConstants& constants = f.backend->draws.at(0).constants;
    const auto clip = transformPoint(constants.worldViewProjection, {0.0f, 0.0f, 0.0f});
    EXPECT_NEAR(clip[0] / clip[3], 0.0f, 1e-5f);
    EXPECT_NEAR(clip[1] / clip[3], 0.0f, 1e-5f);
    EXPECT_GT(clip[2] / clip[3], 0.0f);
    EXPECT_LT(clip[2] / clip[3], 1.0f);
    EXPECT_FLOAT_EQ(constants.world[13], 1.0f);
    EXPECT_FLOAT_EQ(constants.tint[1], 0.25f);
}

TEST(RenderDeviceDrawState, ProjectionFollowsTheResizedViewport) {
    DeviceFixture f;
    f.create();
    f.device.BeginFrame(placeholderCamera(), 0.0f);
    const f32 wideXScale = f.device.projectionMatrix()[0];
    f.device.Resize(720, 720);
    f.device.BeginFrame(placeholderCamera(), 0.0f);
    EXPECT_FLOAT_EQ(f.device.projectionMatrix()[0], f.device.projectionMatrix()[5]);
    EXPECT_NEAR(wideXScale * 1280.0f / 720.0f, f.device.projectionMatrix()[0], 1e-5f);
}

// ---- Primitive buffers ----

TEST(RenderDevicePrimitives, GrownCapacityDoublesFromMinimumsUpToTheLimit) {
    const struct {
        const char* name;
        u64 current;
        u64 needed;
        u64 minimum;
        u64 expected;
    } cases[] = {
        {"first small draw gets the minimum", 0, 3, 256, 256},
        {"just above doubles", 256, 300, 256, 512},
        {"far above takes the need", 256, 1000, 256, 1000},
        {"index minimum", 0, 3, 512, 512},
        {"largest vertex count", 0, kPrimitiveVertexLimit - 1, 256, kPrimitiveVertexLimit - 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(grownCapacity(c.current, c.needed, c.minimum, kPrimitiveVertexLimit), c.expected);
    }
    const struct {
        const char* name;
        u64 current;
        u64 needed;
        u64 limit;
    } overflows[] = {
        {"vertex count at the limit", 0, kPrimitiveVertexLimit, kPrimitiveVertexLimit},
        {"doubling reaches the limit", kPrimitiveVertexLimit / 2 + 1, kPrimitiveVertexLimit / 2 + 2,
         kPrimitiveVertexLimit},
        {"index count at the limit", 0, kPrimitiveIndexLimit, kPrimitiveIndexLimit},
    };
    for (const auto& c : overflows) {
        SCOPED_TRACE(c.name);
        try {
            grownCapacity(c.current, c.needed, 256, c.limit);
            FAIL() << "no exception";
        } catch (const std::overflow_error& error) {
            EXPECT_STREQ(error.what(), "D3D11 buffer size is invalid or exceeds UINT_MAX.");
        }
    }
}

TEST(RenderDevicePrimitives, BuffersGrowGeometricallyAndNeverShrink) {
    DeviceFixture f;
    f.create();
    f.device.BeginFrame(placeholderCamera(), 0.0f);
    drawTriangle(f.device, false, true, false);
    EXPECT_EQ(f.device.primitiveVertexCapacity(), 256u);
    EXPECT_EQ(f.device.primitiveIndexCapacity(), 512u);
    ASSERT_EQ(f.backend->buffers.size(), 2u);
    EXPECT_EQ(f.backend->buffers[0].desc.sizeBytes, 256u * 48u);
    EXPECT_EQ(f.backend->buffers[0].desc.usage, BufferUsage::dynamic);
    EXPECT_EQ(f.backend->buffers[1].desc.binding, BufferBinding::index);
    EXPECT_EQ(f.backend->buffers[1].desc.sizeBytes, 512u * 4u);

    std::vector<PrimitiveVertex> many(300, kTriangle[0]);
    f.device.DrawPrimitives(many, kTriangleIndices, kWhiteTexture, false, true, identityMatrix(), kWhite, false);
    EXPECT_EQ(f.device.primitiveVertexCapacity(), 512u);
    EXPECT_EQ(f.device.primitiveIndexCapacity(), 512u);
    EXPECT_EQ(f.backend->buffers.size(), 3u);
    EXPECT_TRUE(f.backend->buffers[0].released);
    EXPECT_STREQ(f.backend->buffers[2].desc.operation, "ID3D11Device::CreateBuffer(primitive vertices)");

    drawTriangle(f.device, false, true, false);
    EXPECT_EQ(f.device.primitiveVertexCapacity(), 512u);
    EXPECT_EQ(f.backend->buffers.size(), 3u);
    EXPECT_EQ(f.backend->liveBuffers(), 2u);
}

TEST(RenderDevicePrimitives, UploadsTheCallersVerticesAndIndices) {
    DeviceFixture f;
    f.create();
    f.device.BeginFrame(placeholderCamera(), 0.0f);
    const std::array<u32, 6> indices{2, 1, 0, 0, 1, 2};
    f.device.DrawPrimitives(kTriangle, indices, kWhiteTexture, false, true, identityMatrix(), kWhite, false);
    const auto& draw = f.backend->draws.at(0);
    EXPECT_EQ(draw.indices, (std::vector<u32>{2, 1, 0, 0, 1, 2}));
    EXPECT_EQ(draw.vertices[1].position, kTriangle[1].position);
    EXPECT_EQ(draw.vertices[2].color, kTriangle[2].color);
    EXPECT_EQ(f.device.Statistics().triangles, 2u);
}

TEST(RenderDevicePrimitives, EmptySpansDrawNothing) {
    DeviceFixture f;
    f.create();
    f.device.BeginFrame(placeholderCamera(), 0.0f);
    f.device.DrawPrimitives({}, kTriangleIndices, kWhiteTexture, false, true, identityMatrix(), kWhite, false);
    f.device.DrawPrimitives(kTriangle, {}, kWhiteTexture, false, true, identityMatrix(), kWhite, false);
    EXPECT_TRUE(f.backend->draws.empty());
    EXPECT_TRUE(f.backend->buffers.empty());
    EXPECT_EQ(f.device.Statistics().drawCalls, 0u);
}

TEST(RenderDevicePrimitives, RejectsIndexPastTheVertices) {
    DeviceFixture f;
    f.create();
    f.device.BeginFrame(placeholderCamera(), 0.0f);
    const std::array<u32, 3> indices{0, 1, 3};
    try {
        f.device.DrawPrimitives(kTriangle, indices, kWhiteTexture, false, true, identityMatrix(), kWhite, false);
        FAIL() << "no exception";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "Primitive index exceeds the vertex count.");
    }
    EXPECT_TRUE(f.backend->draws.empty());
}

TEST(RenderDevicePrimitives, ShapesCountDrawCallsAndTriangles) {
    const struct {
        const char* name;
        void (*draw)(RenderDevice&);
        u64 drawCalls;
        u64 triangles;
    } cases[] = {
        {"grid of ten metres", [](RenderDevice& d) { d.DrawGroundGrid({0, 0, 0}, 10.0f); }, 2, 2 + 84},
        {"ring of 48", [](RenderDevice& d) { d.DrawRing({0, 0, 0}, 1.0f, 0.2f, kWhite, 48, false); }, 1, 96},
        {"ring of 2", [](RenderDevice& d) { d.DrawRing({0, 0, 0}, 1.0f, 0.2f, kWhite, 2, false); }, 0, 0},
        {"ring of 513", [](RenderDevice& d) { d.DrawRing({0, 0, 0}, 1.0f, 0.2f, kWhite, 513, true); }, 0, 0},
        {"flat ring", [](RenderDevice& d) { d.DrawRing({0, 0, 0}, 0.0f, 0.2f, kWhite, 48, false); }, 0, 0},
        {"status bar", [](RenderDevice& d) { d.DrawStatusBar({0, 2, 0}, 0.5f, true); }, 2, 4},
        {"billboard", [](RenderDevice& d) { d.DrawBillboard(kWhiteTexture, {0, 1, 0}, 1, 1, kWhite, 0, true); }, 1,
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceFixture f;
        f.create();
        f.device.BeginFrame(placeholderCamera(), 0.0f);
        c.draw(f.device);
        EXPECT_EQ(f.device.Statistics().drawCalls, c.drawCalls);
        EXPECT_EQ(f.device.Statistics().triangles, c.triangles);
    }
}

TEST(RenderDevicePrimitives, ShapeDrawFlags) {
    DeviceFixture f;
    f.create();
    f.device.BeginFrame(placeholderCamera(), 0.0f);
    f.device.DrawGroundGrid({0, 0, 0}, 2.0f);
    f.device.DrawStatusBar({0, 2, 0}, 0.2f, false);
    f.device.DrawRing({0, 0, 0}, 1.0f, 0.2f, kWhite, 16, true);
    f.device.DrawBillboard(kNoTexture, {0, 1, 0}, 1, 1, kWhite, 0, false);
    const auto& draws = f.backend->draws;
    ASSERT_EQ(draws.size(), 6u);
    EXPECT_EQ(draws[0].state.blend, BlendMode::opaque);     // floor
    EXPECT_EQ(draws[0].state.depth, DepthMode::readWrite);
    EXPECT_EQ(draws[1].state.blend, BlendMode::alpha);      // grid lines
    EXPECT_EQ(draws[1].state.depth, DepthMode::readOnly);
    EXPECT_EQ(draws[2].state.depth, DepthMode::disabled);   // bar background on top
    EXPECT_EQ(draws[3].state.depth, DepthMode::disabled);   // bar fill
    EXPECT_EQ(draws[3].vertices[0].color, kStatusLowColor);
    EXPECT_EQ(draws[4].state.blend, BlendMode::additive);   // ring
    EXPECT_EQ(draws[5].state.blend, BlendMode::alpha);      // billboard
    EXPECT_FLOAT_EQ(draws[5].constants.lightAndTexture[2], 1.0f);
}

// ---- Frame, present, resize ----

TEST(RenderDeviceFrame, LatencyWaitsAreCounted) {
    DeviceFixture f;
    f.create();
    f.backend->waitResults = {LatencyWait::signalled, LatencyWait::timedOut, LatencyWait::noWaitable};
    for (int i = 0; i < 3; ++i) {
        f.device.BeginFrame(placeholderCamera(), 0.0f);
    }
    EXPECT_EQ(f.device.Statistics().frameLatencyWaits, 2u);
    EXPECT_EQ(f.device.Statistics().frameLatencyTimeouts, 1u);
    EXPECT_EQ(f.backend->passes.size(), 3u);
    EXPECT_EQ(f.backend->passes[0], kClearColor);
}

TEST(RenderDeviceFrame, ResolvesOnlyWithMultisampling) {
    for (const u32 samples : {1u, 2u, 4u}) {
        SCOPED_TRACE(samples);
        DeviceFixture f(samples);
        f.create();
        for (int i = 0; i < 3; ++i) {
            f.device.DrawPlaceholderFrame(0.0, 0);
        }
        EXPECT_EQ(f.device.Statistics().antiAliasingResolves, samples > 1 ? 3u : 0u);
        EXPECT_EQ(f.device.Statistics().presentedFrames, 3u);
    }
}

TEST(RenderDeviceFrame, PresentBeforeAnyFrameRecordsNoRenderTime) {
    DeviceFixture f;
    f.create();
    f.device.Present(1);
    EXPECT_EQ(f.device.Statistics().renderCpuMillisecondsTotal, 0.0);
    EXPECT_EQ(f.device.Statistics().presentedFrames, 1u);
    EXPECT_EQ(f.backend->syncIntervals, (std::vector<u8>{1}));
}

TEST(RenderDeviceFrame, FailedPresentIsNotCounted) {
    DeviceFixture f;
    f.create();
    f.backend->presentStatus = 5;
    EXPECT_THROW(f.device.DrawPlaceholderFrame(0.0, 0), std::runtime_error);
    EXPECT_EQ(f.device.Statistics().presentedFrames, 0u);
    EXPECT_EQ(f.backend->presents, 1u);
}

TEST(RenderDeviceFrame, PlaceholderFrameIsOnePulsingTriangle) {
    const struct {
        f64 time;
        f32 pulse;
    } cases[] = {{0.0, 0.85f}, {0.25, 1.0f}, {0.75, 0.7f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.time);
        DeviceFixture f;
        f.create();
        f.device.DrawPlaceholderFrame(c.time, 1);
        ASSERT_EQ(f.backend->draws.size(), 1u);
        const auto& draw = f.backend->draws[0];
        EXPECT_NEAR(draw.constants.tint[0], c.pulse, 1e-6f);
        EXPECT_NEAR(draw.constants.tint[2], c.pulse, 1e-6f);
        EXPECT_FLOAT_EQ(draw.constants.tint[3], 1.0f);
        EXPECT_EQ(draw.state.blend, BlendMode::opaque);
        EXPECT_EQ(draw.indices, (std::vector<u32>{0, 2, 1}));
        EXPECT_EQ(f.backend->presents, 1u);
        EXPECT_EQ(f.device.Statistics().drawCalls, 1u);
        EXPECT_EQ(f.device.Statistics().frameLatencyWaits, 1u);
    }
}

TEST(RenderDeviceFrame, ResizeIgnoresZeroSizesAndUncreatedDevices) {
    DeviceFixture uncreated;
    uncreated.device.Resize(800, 600);
    EXPECT_TRUE(uncreated.backend->resizes.empty());

    DeviceFixture f(4);
    f.create();
    f.device.Resize(0, 600);
    f.device.Resize(800, 0);
    EXPECT_TRUE(f.backend->resizes.empty());
    f.backend->sampleCount = 2;
    f.device.Resize(800, 600);
    EXPECT_EQ(f.backend->resizes, (std::vector<std::pair<u32, u32>>{{800, 600}}));
    EXPECT_EQ(f.device.report().info.msaaSampleCount, 2u);
}

// ---- Screenshots ----

class RenderDeviceScreenshot : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = std::filesystem::path(KESTRUNE_BINARY_DIR) / "test-output" /
                     ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(directory_);
    }
    std::filesystem::path directory_;
};

TEST_F(RenderDeviceScreenshot, WrittenOnceAtTheNextPresentIntoNewDirectories) {
    DeviceFixture f;
    f.create();
    f.backend->readbackWidth = 3;
    f.backend->readbackHeight = 2;
    const std::filesystem::path path = directory_ / "nested" / "shot.bmp";
    f.device.RequestScreenshot(path);
    f.device.DrawPlaceholderFrame(0.0, 0);
    ASSERT_TRUE(std::filesystem::exists(path));
    std::vector<char> raw;
    {
        std::ifstream file(path, std::ios::binary);  // closed before the removal below (Windows locks open files)
        raw.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    ASSERT_EQ(raw.size(), 54u + 2 * 12);
    const auto* bytes = reinterpret_cast<const std::byte*>(raw.data());
    EXPECT_EQ(loadI32le(bytes + 18), 3);
    EXPECT_EQ(loadI32le(bytes + 22), -2);
    // Second row, third pixel: blue 7, green 1 (its row), red 2 (its column).
    const std::byte* pixel = bytes + 54 + 12 + 6;
    EXPECT_EQ(pixel[0], std::byte{7});
    EXPECT_EQ(pixel[1], std::byte{1});
    EXPECT_EQ(pixel[2], std::byte{2});
    EXPECT_EQ(bytes[54 + 9], std::byte{0});  // padding, not the source's pitch bytes

    std::filesystem::remove(path);
    f.device.DrawPlaceholderFrame(0.0, 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(RenderDeviceScreenshot, UnwritablePathThrowsAndKeepsTheRequest) {
    DeviceFixture f;
    f.create();
    const std::filesystem::path path = directory_ / "taken";
    std::filesystem::create_directories(path);  // a directory where the file should go
    f.device.RequestScreenshot(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        try {
            f.device.DrawPlaceholderFrame(0.0, 0);
            FAIL() << "no exception";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Unable to create screenshot file.");
        }
    }
    EXPECT_EQ(f.device.Statistics().presentedFrames, 0u);
}

}  // namespace
}  // namespace kestrune::render
