// End-to-end checks of the OpenGL backend on SDL's offscreen driver (EGL + Mesa): frames
// are drawn through the real front end, read back from the resolved sRGB back buffer and
// checked pixel by pixel against colours computed from the shading rules.

#include "render/gl/backend_gl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "render/gl_test_support_gl.h"

namespace kestrune::render {
namespace {

using namespace testing;

// Adds unlit primitive quads to the shared fixture.
class GlBackendQuadTest : public GlBackendTest {
protected:
    // An unlit quad in the z = depth plane facing the camera, as a blended primitive draw.
    void drawFlatQuad(f32 x0, f32 y0, f32 x1, f32 y1, f32 depth, const Color& color, bool additive = false) {
        PrimitiveBatch batch;
        const std::array<std::array<f32, 2>, 4> uvs{};
        appendQuad(batch, {x0, y0, depth}, {x1, y0, depth}, {x1, y1, depth}, {x0, y1, depth}, color, uvs);
        device_->DrawPrimitives(batch.vertices, batch.indices, kWhiteTexture, true, true, identityMatrix(), kWhite,
                                additive);
    }
};

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

TEST_F(GlBackendTest, PlaceholderFrameShowsTheLitTriangleOnTheClearColour) {
    device_->DrawPlaceholderFrame(0.25, 0);  // pulse 1.0
    const Capture image = capture();
    ASSERT_EQ(image.width, kSize);
    expectPixel(image.at(0, 0), kClearColor);
    expectPixel(image.at(kSize - 1, kSize - 1), kClearColor);
    // Inside the triangle the vertex colours interpolate (weights 0.625 top, 0.1875 each base
    // corner at this height), lit by ambient + sun on a normal that faces the camera.
    const f32 diffuse = 0.42f / std::sqrt(0.38f * 0.38f + 0.82f * 0.82f + 0.42f * 0.42f);
    const f32 lighting = kLitAmbient + kLitDirectional * diffuse;
    const Color inside{(0.625f * 0.95f + 0.1875f * (0.12f + 0.28f)) * lighting,
                       (0.625f * 0.72f + 0.1875f * (0.68f + 0.90f)) * lighting,
                       (0.625f * 0.18f + 0.1875f * (0.92f + 0.52f)) * lighting, 1.0f};
    expectPixel(pixelAt(image, {0.0f, 1.3f, 0.0f}), inside, 4);
    // Outside the triangle, beside its top: the clear colour.
    expectPixel(pixelAt(image, {0.5f, 1.70f, 0.0f}), kClearColor);
    EXPECT_EQ(device_->Statistics().presentedFrames, 1u);
    EXPECT_EQ(device_->Statistics().drawCalls, 1u);
}

TEST_F(GlBackendTest, MultisamplingIsResolvedEveryFrameAndWaitsAreCounted) {
    for (int frame = 0; frame < 4; ++frame) {
        device_->DrawPlaceholderFrame(0.0, 0);
    }
    const RenderStatistics& stats = device_->Statistics();
    const u32 samples = device_->report().info.msaaSampleCount;
    EXPECT_TRUE(samples == 1 || samples == 2 || samples == 4) << samples;
    EXPECT_EQ(stats.antiAliasingResolves, samples > 1 ? 4u : 0u);
    EXPECT_EQ(stats.frameLatencyWaits, 4u);
    EXPECT_EQ(stats.frameLatencyTimeouts, 0u);
    EXPECT_EQ(stats.presentedFrames, 4u);
}

TEST_F(GlBackendTest, GroundGridShowsLitFloorAndBlendedLines) {
    device_->BeginFrame({{0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, 0.9f, 0.05f, 250.0f}, 0.0f);
    device_->DrawGroundGrid({0.0f, 0.0f, 0.0f}, 3.0f);
    device_->Present(0);
    const Capture image = capture();
    const f32 diffuse = 0.82f / std::sqrt(0.38f * 0.38f + 0.82f * 0.82f + 0.42f * 0.42f);
    const f32 lighting = kLitAmbient + kLitDirectional * diffuse;
    const Color floor{kFloorColor[0] * lighting, kFloorColor[1] * lighting, kFloorColor[2] * lighting, 1.0f};
    expectPixel(pixelAt(image, {0.3f, -0.02f, 0.25f}), floor);
    // On the x = 0 line, away from the crossing: one line blended over the floor.
    expectPixel(pixelAt(image, {0.0f, 0.0f, 0.3f}), over(kGridLineColor, floor));
    expectPixel(pixelAt(image, {0.0f, 0.0f, -0.3f}), over(kGridLineColor, floor));
}

TEST_F(GlBackendTest, RingCoversItsBandOnly) {
    device_->BeginFrame({{0.0f, 4.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, 0.9f, 0.05f, 250.0f}, 0.0f);
    const Color color{0.8f, 0.1f, 0.3f, 1.0f};
    device_->DrawRing({0.0f, 0.0f, 0.0f}, 1.0f, 0.2f, color, 48, false);
    device_->Present(0);
    const Capture image = capture();
    expectPixel(pixelAt(image, {1.0f, 0.0f, 0.0f}), color);
    expectPixel(pixelAt(image, {0.0f, 0.0f, -1.0f}), color);
    expectPixel(pixelAt(image, {0.0f, 0.0f, 0.0f}), kClearColor);
    expectPixel(pixelAt(image, {1.3f, 0.0f, 0.0f}), kClearColor);
}

TEST_F(GlBackendTest, BillboardAngleSwapsWidthAndHeight) {
    const Color color{0.1f, 0.7f, 0.2f, 1.0f};
    const struct {
        const char* name;
        f32 angle;
        bool coversSide;
        bool coversTop;
    } cases[] = {{"upright", 0.0f, true, false}, {"quarter turn", kShapePi / 2.0f, false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        frontCamera();
        device_->DrawBillboard(kWhiteTexture, {0.0f, 0.0f, 0.0f}, 2.0f, 0.5f, color, c.angle, false);
        device_->Present(0);
        const Capture image = capture();
        expectPixel(pixelAt(image, {0.0f, 0.0f, 0.0f}), color);
        expectPixel(pixelAt(image, {0.8f, 0.0f, 0.0f}), c.coversSide ? color : kClearColor);
        expectPixel(pixelAt(image, {0.0f, 0.8f, 0.0f}), c.coversTop ? color : kClearColor);
    }
}

TEST_F(GlBackendTest, StatusBarTurnsRedAtThreshold) {
    const struct {
        f32 fraction;
        Color fill;
    } cases[] = {{0.35f, kStatusLowColor}, {0.36f, kStatusHealthyColor}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fraction);
        frontCamera(2.0f);
        device_->DrawStatusBar({0.0f, 0.0f, 0.0f}, c.fraction, false);
        device_->Present(0);
        const Capture image = capture();
        const Color background = over(kStatusBackgroundColor, kClearColor);
        // Inside the fill near the track's left end, on the background at the right end.
        expectPixel(pixelAt(image, {-0.45f, 0.0f, 0.0f}), over(c.fill, background));
        expectPixel(pixelAt(image, {0.5f, 0.0f, 0.0f}), background);
        expectPixel(pixelAt(image, {0.0f, 0.2f, 0.0f}), kClearColor);
    }
}

TEST_F(GlBackendQuadTest, AdditiveAddsWhereAlphaMixes) {
    const Color base{0.2f, 0.2f, 0.2f, 1.0f};
    const Color overlay{0.5f, 0.0f, 0.0f, 0.5f};
    frontCamera();
    drawFlatQuad(-2.0f, -2.0f, 2.0f, 2.0f, 1.0f, base);
    drawFlatQuad(-1.0f, -1.0f, 0.0f, 1.0f, 0.5f, overlay, false);
    drawFlatQuad(0.0f, -1.0f, 1.0f, 1.0f, 0.5f, overlay, true);
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
    const Color clippedColor{0.1f, 0.9f, 0.1f, 1.0f};
    // The near quad is drawn first and must hide the far one although the far one comes later.
    PrimitiveBatch batch;
    const std::array<std::array<f32, 2>, 4> uvs{};
    appendQuad(batch, {-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1}, nearColor, uvs);
    device_->DrawPrimitives(batch.vertices, batch.indices, kWhiteTexture, false, true, identityMatrix(), kWhite, false);
    batch.clear();
    appendQuad(batch, {-100, -100, 200}, {100, -100, 200}, {100, 100, 200}, {-100, 100, 200}, farColor, uvs);
    device_->DrawPrimitives(batch.vertices, batch.indices, kWhiteTexture, false, true, identityMatrix(), kWhite, false);
    // Closer to the eye than the near plane: clipped with depth 0..1, visible with OpenGL's -1..1.
    batch.clear();
    appendQuad(batch, {-3, 0.5f, -4.98f}, {3, 0.5f, -4.98f}, {3, 3, -4.98f}, {-3, 3, -4.98f}, clippedColor, uvs);
    device_->DrawPrimitives(batch.vertices, batch.indices, kWhiteTexture, false, true, identityMatrix(), kWhite, false);
    device_->Present(0);
    const Capture image = capture();
    // Opaque quads are lit; their normals point up.
    const f32 sunLength = std::sqrt(0.38f * 0.38f + 0.82f * 0.82f + 0.42f * 0.42f);
    const f32 lighting = kLitAmbient + kLitDirectional * 0.82f / sunLength;
    const auto lit = [&](const Color& c) { return Color{c[0] * lighting, c[1] * lighting, c[2] * lighting, 1.0f}; };
    expectPixel(pixelAt(image, {0.0f, 0.0f, -1.0f}), lit(nearColor));
    expectPixel(pixelAt(image, {0.0f, -80.0f, 200.0f}), lit(farColor));
    // Above the near quad the far one shows, not the quad in front of the near plane.
    expectPixel(image.at(kSize / 2, 2), lit(farColor));
}

class GlBackendStateTest : public GlBackendTest {
protected:
    // Draws straight through the backend, with states the primitive path never picks.
    void drawRaw(std::span<const PrimitiveVertex> vertices, std::span<const u32> indices, const DrawState& state,
                 f32 useTexture) {
        const GpuBuffer vb = backend_->createBuffer(
            {BufferBinding::vertex, BufferUsage::immutable, static_cast<u32>(vertices.size_bytes()),
             std::as_bytes(vertices), "test vertices"});
        const GpuBuffer ib = backend_->createBuffer({BufferBinding::index, BufferUsage::immutable,
                                                     static_cast<u32>(indices.size_bytes()), std::as_bytes(indices),
                                                     "test indices"});
        SceneConstants constants;
        constants.worldViewProjection = multiply(device_->viewMatrix(), device_->projectionMatrix());
        constants.world = identityMatrix();
        constants.tint = kWhite;
        constants.lightAndTexture = {1.0f, 0.0f, useTexture, 0.0f};
        backend_->writeSceneConstants(constants);
        backend_->applyDrawState(state);
        backend_->drawIndexed({vb, sizeof(PrimitiveVertex), ib, static_cast<u32>(indices.size())});
        backend_->releaseBuffer(vb);
        backend_->releaseBuffer(ib);
    }
};

TEST_F(GlBackendStateTest, CullingKeepsCounterClockwiseTriangles) {
    frontCamera();
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
    DrawState culled;
    culled.raster = RasterMode::cullBack;
    culled.texture = static_cast<GpuTexture>(1);
    drawRaw(vertices, indices, culled, 0.0f);
    device_->Present(0);
    Capture image = capture();
    expectPixel(pixelAt(image, {-1.5f, -0.5f, 0.0f}), color);
    expectPixel(pixelAt(image, {1.5f, -0.5f, 0.0f}), kClearColor);

    frontCamera();
    DrawState doubleSided = culled;
    doubleSided.raster = RasterMode::doubleSided;
    drawRaw(vertices, indices, doubleSided, 0.0f);
    device_->Present(0);
    image = capture();
    expectPixel(pixelAt(image, {1.5f, -0.5f, 0.0f}), color);
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
    const auto expectBytes = [&](const Vec3& at, int r, int g, int b) {
        const Pixel p = pixelAt(image, at);
        EXPECT_NEAR(p.r, r, 2);
        EXPECT_NEAR(p.g, g, 2);
        EXPECT_NEAR(p.b, b, 2);
    };
    expectBytes({-1.0f, 1.0f, 0.0f}, 200, 0, 0);
    expectBytes({1.0f, 1.0f, 0.0f}, 0, 200, 0);
    expectBytes({-1.0f, -1.0f, 0.0f}, 0, 0, 200);
    expectBytes({1.0f, -1.0f, 0.0f}, 90, 90, 90);
    backend_->releaseTexture(texture);
    EXPECT_NEAR(srgbToLinear(srgbByte(0.5f)), 0.5f, 0.01f);
}

TEST_F(GlBackendStateTest, ModelProgramSkinsWithThePalette) {
    // One triangle of skinned vertices bound to joint 0; the palette moves it 2 units right.
    std::array<SkinnedVertex, 3> vertices{};
    const std::array<Vec3, 3> positions{{{0.0f, 1.0f, 0.0f}, {-1.0f, -1.0f, 0.0f}, {1.0f, -1.0f, 0.0f}}};
    for (std::size_t i = 0; i < 3; ++i) {
        vertices[i].position = positions[i];
        vertices[i].normal = {0.0f, 0.0f, -1.0f};
        vertices[i].joints = {0, 0, 0, 0};
        vertices[i].weights = {1.0f, 0.0f, 0.0f, 0.0f};
    }
    const std::array<u32, 3> indices{0, 1, 2};
    const GpuBuffer vb = backend_->createBuffer({BufferBinding::vertex, BufferUsage::immutable,
                                                 static_cast<u32>(sizeof(vertices)), std::as_bytes(std::span(vertices)),
                                                 "test skinned vertices"});
    const GpuBuffer ib = backend_->createBuffer({BufferBinding::index, BufferUsage::immutable, 12,
                                                 std::as_bytes(std::span(indices)), "test indices"});
    std::array<std::byte, kSkinConstantsBytes> skin{};
    Matrix4 move = testing::translation(2.0f, 0.0f, 0.0f);
    std::memcpy(skin.data(), move.m.data(), sizeof(Matrix4));
    const std::array<u32, 4> metadata{1, 1, 0, 0};
    std::memcpy(skin.data() + 8192, metadata.data(), sizeof(metadata));

    frontCamera();
    SceneConstants constants;
    constants.worldViewProjection = multiply(device_->viewMatrix(), device_->projectionMatrix());
    constants.world = identityMatrix();
    constants.tint = {0.3f, 0.6f, 0.9f, 1.0f};
    constants.lightAndTexture = {1.0f, 0.0f, 0.0f, 0.0f};
    ASSERT_TRUE(backend_->hasSkinConstants());
    backend_->writeSceneConstants(constants);
    backend_->writeSkinConstants(skin);
    DrawState state;
    state.path = VertexPath::gpuSkinned;
    state.raster = RasterMode::doubleSided;
    state.texture = static_cast<GpuTexture>(1);
    backend_->applyDrawState(state);
    backend_->drawIndexed({vb, sizeof(SkinnedVertex), ib, 3});
    device_->Present(0);
    const Capture image = capture();
    expectPixel(pixelAt(image, {2.0f, -0.5f, 0.0f}), constants.tint);
    expectPixel(pixelAt(image, {0.0f, -0.5f, 0.0f}), kClearColor);
    backend_->releaseBuffer(vb);
    backend_->releaseBuffer(ib);
}

TEST_F(GlBackendTest, ScreenshotFileHoldsThePresentedPixelsTopDownInBgrOrder) {
    const std::filesystem::path path =
        std::filesystem::path(KESTRUNE_BINARY_DIR) / "test-output" / "gl-screenshot" / "arena.bmp";
    std::filesystem::remove(path);
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

TEST_F(GlBackendTest, ResizeRebuildsTargetsAtTheNewSize) {
    device_->Resize(0, 0);
    device_->Resize(96, 48);
    SDL_SetWindowSize(window_, 96, 48);
    captureWidth_ = 96;
    captureHeight_ = 48;
    device_->DrawPlaceholderFrame(0.25, 0);
    const Capture image = capture();
    EXPECT_EQ(image.width, 96u);
    EXPECT_EQ(image.height, 48u);
    expectPixel(image.at(0, 0), kClearColor);
    const Pixel triangle = pixelAt(image, {0.0f, 1.2f, 0.0f});
    EXPECT_GT(triangle.r, 60);
    EXPECT_EQ(device_->Statistics().presentedFrames, 1u);
}

}  // namespace
}  // namespace kestrune::render
