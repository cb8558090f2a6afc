// End-to-end checks of the OpenGL backend on SDL's offscreen driver (EGL + Mesa): frames
// are drawn through the real front end, read back from the resolved sRGB back buffer and
// checked pixel by pixel against colours computed from the shading rules.

#include "render/gl/backend_gl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "render/gl_test_support_gl.h"

namespace kestrune::render {
namespace {

using namespace testing;

TEST_F(GlBackendTest, DescribesTheContext) {
    EXPECT_FALSE(device_->adapterText().empty());
    EXPECT_EQ(device_->featureLevelText().substr(0, 2), u"gl");
    const std::string adapter(device_->adapterText().begin(), device_->adapterText().end());
    EXPECT_EQ(device_->driverText(), gl::isSoftwareRenderer(adapter) ? u"warp" : u"hardware");
    EXPECT_TRUE(device_->report().info.flipModelEnabled);
    EXPECT_TRUE(device_->report().info.gpuSkinningEnabled);
    EXPECT_NE(device_->shaderProfileText().find(u"glsl 330"), std::u16string::npos);
}

TEST(GlRendererNames, SoftwareRasterizersCountAsWarp) {
    EXPECT_TRUE(gl::isSoftwareRenderer("llvmpipe (LLVM 15.0.6, 256 bits)"));
    EXPECT_TRUE(gl::isSoftwareRenderer("softpipe"));
    EXPECT_FALSE(gl::isSoftwareRenderer("AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49)"));
    EXPECT_FALSE(gl::isSoftwareRenderer("Mesa Intel(R) UHD Graphics 620 (KBL GT2)"));
}

TEST_F(GlBackendTest, PlaceholderFramesShowTheLitTriangleResolvedAndPaced) {
    for (int frame = 0; frame < 4; ++frame) {
        device_->DrawPlaceholderFrame(0.25, 0);  // pulse 1.0
    }
    const Capture image = capture();
    ASSERT_EQ(image.width, kSize);
    expectPixel(image.at(0, 0), kClearColor);
    expectPixel(image.at(kSize - 1, kSize - 1), kClearColor);
    // Inside the triangle the vertex colours interpolate (weights 0.625 top, 0.1875 each base
    // corner at this height), lit on a normal that faces the camera.
    const Color inside = lit({0.625f * 0.95f + 0.1875f * (0.12f + 0.28f), 0.625f * 0.72f + 0.1875f * (0.68f + 0.90f),
                              0.625f * 0.18f + 0.1875f * (0.92f + 0.52f), 1.0f},
                             {0.0f, 0.0f, -1.0f});
    expectPixel(pixelAt(image, {0.0f, 1.3f, 0.0f}), inside, 4);
    // Outside the triangle, beside its top: the clear colour.
    expectPixel(pixelAt(image, {0.5f, 1.70f, 0.0f}), kClearColor);
    const RenderStatistics& stats = device_->Statistics();
    const u32 samples = device_->report().info.msaaSampleCount;
    EXPECT_TRUE(samples == 1 || samples == 2 || samples == 4) << samples;
    EXPECT_EQ(stats.antiAliasingResolves, samples > 1 ? 4u : 0u);
    EXPECT_EQ(stats.frameLatencyWaits, 4u);
    EXPECT_EQ(stats.frameLatencyTimeouts, 0u);
    EXPECT_EQ(stats.presentedFrames, 4u);
    EXPECT_EQ(stats.drawCalls, 4u);
}

// Each shape drawn alone and sampled where its geometry and blending put known colours.
TEST_F(GlBackendTest, ShapesCoverTheirGeometryWithTheirBlending) {
    const auto camera = [](const Vec3& eye, const Vec3& up) {
        return Camera{eye, {0.0f, 0.0f, 0.0f}, up, 0.9f, 0.05f, 250.0f};
    };
    const Vec3 north{0.0f, 0.0f, 1.0f};
    const Vec3 up{0.0f, 1.0f, 0.0f};
    const Color floor = lit(kFloorColor, up);
    const Color band{0.8f, 0.1f, 0.3f, 1.0f};
    const Color sign{0.1f, 0.7f, 0.2f, 1.0f};
    const Color bar = over(kStatusBackgroundColor, kClearColor);
    struct Sample {
        Vec3 at;
        Color color;
    };
    const struct {
        const char* name;
        Camera camera;
        std::function<void(RenderDevice&)> draw;
        std::vector<Sample> samples;
    } cases[] = {
        {"grid: one line blended over the lit floor", camera({0, 1, 0}, north),
         [](RenderDevice& d) { d.DrawGroundGrid({0.0f, 0.0f, 0.0f}, 3.0f); },
         {{{0.3f, -0.02f, 0.25f}, floor}, {{0, 0, 0.3f}, over(kGridLineColor, floor)},
          {{0, 0, -0.3f}, over(kGridLineColor, floor)}}},
        {"ring covers its band only", camera({0, 4, 0}, north),
         [&](RenderDevice& d) { d.DrawRing({0.0f, 0.0f, 0.0f}, 1.0f, 0.2f, band, 48, false); },
         {{{1, 0, 0}, band}, {{0, 0, -1}, band}, {{0, 0, 0}, kClearColor}, {{1.3f, 0, 0}, kClearColor}}},
        {"upright billboard is wide", camera({0, 0, -5}, up),
         [&](RenderDevice& d) { d.DrawBillboard(kWhiteTexture, {0, 0, 0}, 2.0f, 0.5f, sign, 0.0f, false); },
         {{{0, 0, 0}, sign}, {{0.8f, 0, 0}, sign}, {{0, 0.8f, 0}, kClearColor}}},
        {"quarter-turned billboard is tall", camera({0, 0, -5}, up),
         [&](RenderDevice& d) { d.DrawBillboard(kWhiteTexture, {0, 0, 0}, 2.0f, 0.5f, sign, kShapePi / 2, false); },
         {{{0, 0, 0}, sign}, {{0.8f, 0, 0}, kClearColor}, {{0, 0.8f, 0}, sign}}},
        // Inside the fill near the track's left end, on the background at its right end.
        {"status bar at the threshold is low", camera({0, 0, -2}, up),
         [](RenderDevice& d) { d.DrawStatusBar({0.0f, 0.0f, 0.0f}, 0.35f, false); },
         {{{-0.45f, 0, 0}, over(kStatusLowColor, bar)}, {{0.5f, 0, 0}, bar}, {{0, 0.2f, 0}, kClearColor}}},
        {"status bar above it is healthy", camera({0, 0, -2}, up),
         [](RenderDevice& d) { d.DrawStatusBar({0.0f, 0.0f, 0.0f}, 0.36f, false); },
         {{{-0.45f, 0, 0}, over(kStatusHealthyColor, bar)}, {{0.5f, 0, 0}, bar}, {{0, 0.2f, 0}, kClearColor}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        device_->BeginFrame(c.camera, 0.0f);
        c.draw(*device_);
        device_->Present(0);
        const Capture image = capture();
        for (const Sample& sample : c.samples) {
            SCOPED_TRACE(::testing::Message() << sample.at[0] << ", " << sample.at[1] << ", " << sample.at[2]);
            expectPixel(pixelAt(image, sample.at), sample.color);
        }
    }
}

TEST_F(GlBackendTest, AdditiveAddsWhereAlphaMixes) {
    const Color base{0.2f, 0.2f, 0.2f, 1.0f};
    const Color overlay{0.5f, 0.0f, 0.0f, 0.5f};
    frontCamera();
    drawQuad(*device_, -2.0f, -2.0f, 2.0f, 2.0f, 1.0f, base, true);
    drawQuad(*device_, -1.0f, -1.0f, 0.0f, 1.0f, 0.5f, overlay, true, false);
    drawQuad(*device_, 0.0f, -1.0f, 1.0f, 1.0f, 0.5f, overlay, true, true);
    device_->Present(0);
    const Capture image = capture();
    expectPixel(pixelAt(image, {-0.5f, 0.0f, 0.5f}), {0.35f, 0.1f, 0.1f, 1.0f});
    expectPixel(pixelAt(image, {0.5f, 0.0f, 0.5f}), {0.45f, 0.2f, 0.2f, 1.0f});
    expectPixel(pixelAt(image, {1.5f, 1.5f, 1.0f}), base);
}

TEST_F(GlBackendTest, DepthRunsFromNearPlaneToFarPlane) {
    frontCamera();
    const Color nearColor{0.9f, 0.1f, 0.1f, 1.0f};
    const Color farColor{0.1f, 0.1f, 0.9f, 1.0f};
    // The near quad is drawn first and must hide the far one although the far one comes later.
    drawQuad(*device_, -1, -1, 1, 1, -1, nearColor, false);
    drawQuad(*device_, -100, -100, 100, 100, 200, farColor, false);
    // Closer to the eye than the near plane: clipped with depth 0..1, visible with OpenGL's -1..1.
    drawQuad(*device_, -3, 0.5f, 3, 3, -4.98f, {0.1f, 0.9f, 0.1f, 1.0f}, false);
    device_->Present(0);
    const Capture image = capture();
    const Vec3 up{0.0f, 1.0f, 0.0f};
    expectPixel(pixelAt(image, {0.0f, 0.0f, -1.0f}), lit(nearColor, up));
    expectPixel(pixelAt(image, {0.0f, -80.0f, 200.0f}), lit(farColor, up));
    // Above the near quad the far one shows, not the quad in front of the near plane.
    expectPixel(image.at(kSize / 2, 2), lit(farColor, up));
}

class GlBackendStateTest : public GlBackendTest {
protected:
    // Draws straight through the backend, unlit, with states the primitive path never picks.
    template <class Vertices>
    void drawRaw(const Vertices& vertices, std::span<const u32> indices, const DrawState& state, f32 useTexture,
                 const Color& tint = kWhite) {
        const std::span<const std::byte> bytes = std::as_bytes(std::span(vertices));
        const GpuBuffer vb = backend_->createBuffer({BufferBinding::vertex, BufferUsage::immutable,
                                                     static_cast<u32>(bytes.size()), bytes, "test vertices"});
        const GpuBuffer ib = backend_->createBuffer({BufferBinding::index, BufferUsage::immutable,
                                                     static_cast<u32>(indices.size_bytes()), std::as_bytes(indices),
                                                     "test indices"});
        SceneConstants constants;
        constants.worldViewProjection = multiply(device_->viewMatrix(), device_->projectionMatrix());
        constants.world = identityMatrix();
        constants.tint = tint;
        constants.lightAndTexture = {1.0f, 0.0f, useTexture, 0.0f};
        backend_->writeSceneConstants(constants);
        backend_->applyDrawState(state);
        backend_->drawIndexed({vb, static_cast<u32>(sizeof(vertices[0])), ib, static_cast<u32>(indices.size())});
        backend_->releaseBuffer(vb);
        backend_->releaseBuffer(ib);
    }
};

TEST_F(GlBackendStateTest, CullingKeepsCounterClockwiseTriangles) {
    const Color color{0.9f, 0.9f, 0.1f, 1.0f};
    // Left triangle counter-clockwise on screen (up, left, right), right one clockwise.
    const std::array<PrimitiveVertex, 6> vertices{{
        {{-1.5f, 1.0f, 0.0f}, {0, 0, -1}, {0, 0}, color},
        {{-2.5f, -1.0f, 0.0f}, {0, 0, -1}, {0, 0}, color},
        {{-0.5f, -1.0f, 0.0f}, {0, 0, -1}, {0, 0}, color},
        {{1.5f, 1.0f, 0.0f}, {0, 0, -1}, {0, 0}, color},
        {{2.5f, -1.0f, 0.0f}, {0, 0, -1}, {0, 0}, color},
        {{0.5f, -1.0f, 0.0f}, {0, 0, -1}, {0, 0}, color},
    }};
    const std::array<u32, 6> indices{0, 1, 2, 3, 4, 5};
    for (const RasterMode raster : {RasterMode::cullBack, RasterMode::doubleSided}) {
        SCOPED_TRACE(raster == RasterMode::cullBack ? "culled" : "double-sided");
        frontCamera();
        DrawState state;
        state.raster = raster;
        state.texture = static_cast<GpuTexture>(1);
        drawRaw(vertices, indices, state, 0.0f);
        device_->Present(0);
        const Capture image = capture();
        expectPixel(pixelAt(image, {-1.5f, -0.5f, 0.0f}), color);
        expectPixel(pixelAt(image, {1.5f, -0.5f, 0.0f}), raster == RasterMode::cullBack ? kClearColor : color);
    }
}

TEST_F(GlBackendStateTest, TexturesAreSrgbAndRowsRunTopDown) {
    // 2 x 2: red, green on the top row; blue, grey below.
    const std::array<u8, 16> texels{200, 0, 0, 255, 0, 200, 0, 255, 0, 0, 200, 255, 90, 90, 90, 255};
    TextureDesc desc;
    desc.widthPixels = 2;
    desc.heightPixels = 2;
    desc.rowPitchBytes = 8;
    desc.pixels = std::as_bytes(std::span(texels));
    const GpuTexture texture = backend_->createTexture(desc);
    frontCamera();
    PrimitiveBatch batch;
    const std::array<std::array<f32, 2>, 4> uvs{{{0, 1}, {1, 1}, {1, 0}, {0, 0}}};
    appendQuad(batch, {-2, -2, 0}, {2, -2, 0}, {2, 2, 0}, {-2, 2, 0}, kWhite, uvs);
    DrawState state;
    state.raster = RasterMode::doubleSided;
    state.texture = texture;
    drawRaw(batch.vertices, batch.indices, state, 1.0f);
    device_->Present(0);
    const Capture image = capture();
    // Texel centres sit at a quarter of the quad: colours come back byte for byte.
    const struct {
        Vec3 at;
        int r, g, b;
    } texelCentres[] = {
        {{-1, 1, 0}, 200, 0, 0}, {{1, 1, 0}, 0, 200, 0}, {{-1, -1, 0}, 0, 0, 200}, {{1, -1, 0}, 90, 90, 90}};
    for (const auto& t : texelCentres) {
        SCOPED_TRACE(::testing::Message() << t.at[0] << ", " << t.at[1]);
        const Pixel p = pixelAt(image, t.at);
        EXPECT_NEAR(p.r, t.r, 2);
        EXPECT_NEAR(p.g, t.g, 2);
        EXPECT_NEAR(p.b, t.b, 2);
    }
    backend_->releaseTexture(texture);
}

TEST_F(GlBackendStateTest, ModelProgramSkinsWithThePalette) {
    // One triangle of skinned vertices bound to joint 0; the palette moves it 2 units right.
    std::array<SkinnedVertex, 3> vertices{};
    const std::array<Vec3, 3> positions{{{0.0f, 1.0f, 0.0f}, {-1.0f, -1.0f, 0.0f}, {1.0f, -1.0f, 0.0f}}};
    for (std::size_t i = 0; i < 3; ++i) {
        vertices[i].position = positions[i];
        vertices[i].normal = {0.0f, 0.0f, -1.0f};
        vertices[i].weights = {1.0f, 0.0f, 0.0f, 0.0f};
    }
    std::array<std::byte, kSkinConstantsBytes> skin{};
    const Matrix4 move = translation(2.0f, 0.0f, 0.0f);
    std::memcpy(skin.data(), move.m.data(), sizeof(Matrix4));
    const std::array<u32, 4> metadata{1, 1, 0, 0};
    std::memcpy(skin.data() + 8192, metadata.data(), sizeof(metadata));
    frontCamera();
    ASSERT_TRUE(backend_->hasSkinConstants());
    backend_->writeSkinConstants(skin);
    DrawState state;
    state.path = VertexPath::gpuSkinned;
    state.raster = RasterMode::doubleSided;
    state.texture = static_cast<GpuTexture>(1);
    const Color tint{0.3f, 0.6f, 0.9f, 1.0f};
    drawRaw(vertices, std::array<u32, 3>{0, 1, 2}, state, 0.0f, tint);
    device_->Present(0);
    const Capture image = capture();
    expectPixel(pixelAt(image, {2.0f, -0.5f, 0.0f}), tint);
    expectPixel(pixelAt(image, {0.0f, -0.5f, 0.0f}), kClearColor);
}

TEST_F(GlBackendTest, ScreenshotFileHoldsThePresentedPixelsTopDownInBgrOrder) {
    const std::filesystem::path path = scratchDirectory() / "arena.bmp";
    device_->BeginFrame({{0.0f, 4.0f, -6.0f}, {0.0f, 0.5f, 0.0f}, {0.0f, 1.0f, 0.0f}, 0.9f, 0.05f, 250.0f}, 0.0f);
    device_->DrawGroundGrid({0.0f, 0.0f, 0.0f}, 4.0f);
    device_->DrawRing({-1.5f, 0.01f, 0.0f}, 1.0f, 0.15f, {0.95f, 0.55f, 0.1f, 0.9f}, 48, true);
    device_->DrawBillboard(kWhiteTexture, {1.5f, 1.0f, 0.0f}, 1.2f, 0.6f, {0.3f, 0.5f, 0.95f, 0.8f}, 0.4f, false);
    device_->DrawStatusBar({-1.5f, 1.6f, 0.0f}, 0.8f, true);
    device_->DrawStatusBar({1.5f, 1.9f, 0.0f}, 0.2f, false);
    device_->RequestScreenshot(path);
    device_->Present(0);
    const Capture image = capture();

    std::ifstream file(path, std::ios::binary);
    const std::vector<char> raw((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(raw.size(), 54u + std::size_t{kSize} * 3 * kSize);  // 384-byte rows need no padding
    for (const auto& [x, y] : {std::pair{0, 0}, {64, 64}, {10, 100}, {127, 127}, {100, 20}}) {
        SCOPED_TRACE(::testing::Message() << x << "," << y);
        const std::size_t at = 54 + std::size_t{kSize} * 3 * y + 3 * x;
        const Pixel expected = image.at(x, y);
        EXPECT_EQ(static_cast<u8>(raw[at + 0]), expected.b);
        EXPECT_EQ(static_cast<u8>(raw[at + 1]), expected.g);
        EXPECT_EQ(static_cast<u8>(raw[at + 2]), expected.r);
    }
}

// The multisampled target is resolved the way Direct3D resolves it: the stored sRGB-encoded
// samples averaged as they are, so edge pixels lie k quarters of the way from the clear
// colour to red in stored values. (Averaged in linear light, a half-covered pixel would be
// some 45 levels brighter in red.)
TEST_F(GlBackendTest, ResolvesMultisampledEdgesInEncodedValues) {
    const u32 samples = device_->report().info.msaaSampleCount;
    ASSERT_GT(samples, 1u);
    const Color red{1.0f, 0.0f, 0.0f, 1.0f};
    const Vec3 normal{0.0f, 0.0f, -1.0f};
    const std::vector<PrimitiveVertex> vertices = {{{-4.0f, -4.0f, 0.0f}, normal, {}, red},
                                                   {{4.0f, -4.0f, 0.0f}, normal, {}, red},
                                                   {{-4.0f, 3.0f, 0.0f}, normal, {}, red}};
    const std::vector<u32> indices = {0, 1, 2};
    frontCamera();
    device_->DrawPrimitives(vertices, indices, kWhiteTexture, true, true, identityMatrix(), kWhite, false);
    device_->Present(0);
    const ResolvedEdge edge = resolvedEdge(capture(), encoded(kClearColor), encoded(red), samples);
    EXPECT_EQ(edge.misfits, 0u);
    EXPECT_GT(edge.edgePixels, kSize / 2);
}

// The placeholder frame at a fixed time (pulse 1), written where the cross-backend parity
// check reads it: KESTRUNE_PARITY_SCREENSHOT, else this build's test output.
TEST_F(GlBackendTest, WritesThePlaceholderParityFrame) {
    constexpr u32 kParitySize = 256;
    makeDevice(true, kParitySize);
    const char* requested = std::getenv("KESTRUNE_PARITY_SCREENSHOT");
    const std::filesystem::path path =
        requested != nullptr ? std::filesystem::path(requested) : scratchDirectory() / "placeholder-gl.bmp";
    device_->RequestScreenshot(path);
    device_->DrawPlaceholderFrame(0.25, 0);
    const Capture image = readScreenshot(path);
    ASSERT_EQ(image.width, kParitySize);
    ASSERT_EQ(image.height, kParitySize);
    EXPECT_EQ(compare(image, capture(), 0).pixels, 0u);
}

TEST_F(GlBackendTest, ResizeRebuildsTargetsAtTheNewSize) {
    device_->Resize(0, 0);
    device_->Resize(96, 48);
    SDL_SetWindowSize(window_, 96, 48);
    device_->DrawPlaceholderFrame(0.25, 0);
    const Capture image = capture();
    ASSERT_EQ(image.width, 96u);
    ASSERT_EQ(image.height, 48u);
    expectPixel(image.at(0, 0), kClearColor);
    const Pixel triangle = pixelAt(image, {0.0f, 1.2f, 0.0f});
    EXPECT_GT(triangle.r, 60);
    EXPECT_EQ(device_->Statistics().presentedFrames, 1u);
}

}  // namespace
}  // namespace kestrune::render
