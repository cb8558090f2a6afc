// End-to-end checks of the OpenGL backend on SDL's offscreen driver (EGL + Mesa): frames
// are drawn through the real front end, read back from the resolved sRGB back buffer and
// checked pixel by pixel against colours computed from the shading rules.

#include "render/gl/backend_gl.h"

#include <gtest/gtest.h>

#include "render/gl_test_support_gl.h"

namespace kestrune::render {
namespace {

using namespace testing;

TEST_F(GlBackendTest, DescribesTheContextAndShowsPlaceholderFramesLitResolvedAndPacedAlsoAfterAResize) {
    const std::string adapter(device_->adapterText().begin(), device_->adapterText().end());
    EXPECT_EQ(std::tuple(adapter.empty(), device_->featureLevelText().substr(0, 2), device_->driverText(),
                         device_->report().info.gpuSkinningEnabled),
              std::tuple(false, u"gl", gl::isSoftwareRenderer(adapter) ? u"warp" : u"hardware", true));
    EXPECT_NE(device_->shaderProfileText().find(u"glsl 330"), std::u16string::npos);

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
                              0.625f * 0.18f + 0.1875f * (0.92f + 0.52f), 1.0f}, {0.0f, 0.0f, -1.0f});
    expectPixel(pixelAt(image, {0.0f, 1.3f, 0.0f}), inside, 4);
    // Outside the triangle, beside its top: the clear colour.
    expectPixel(pixelAt(image, {0.5f, 1.70f, 0.0f}), kClearColor);
    const RenderStatistics& stats = device_->Statistics();
    const u32 samples = device_->report().info.msaaSampleCount;
    EXPECT_TRUE(samples == 1 || samples == 2 || samples == 4) << samples;
    EXPECT_EQ(std::tuple(stats.antiAliasingResolves, stats.frameLatencyWaits, stats.frameLatencyTimeouts,
                         stats.presentedFrames), std::tuple(samples > 1 ? 4u : 0u, 4u, 0u, 4u));

    // A resize rebuilds the targets at the new size (a zero one is ignored).
    device_->Resize(0, 0);
    device_->Resize(96, 48);
    SDL_SetWindowSize(window_, 96, 48);
    device_->DrawPlaceholderFrame(0.25, 0);
    const Capture resized = capture();
    ASSERT_EQ(std::tuple(resized.width, resized.height), std::tuple(96u, 48u));
    expectPixel(resized.at(0, 0), kClearColor);
    EXPECT_GT(pixelAt(resized, {0.0f, 1.2f, 0.0f}).r, 60);
    EXPECT_EQ(stats.presentedFrames, 5u);
}

TEST(GlRendererNames, SoftwareRasterizersCountAsWarp) {
    EXPECT_TRUE(gl::isSoftwareRenderer("llvmpipe (LLVM 15.0.6, 256 bits)"));
    EXPECT_TRUE(gl::isSoftwareRenderer("softpipe"));
    EXPECT_FALSE(gl::isSoftwareRenderer("AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49)"));
    EXPECT_FALSE(gl::isSoftwareRenderer("Mesa Intel(R) UHD Graphics 620 (KBL GT2)"));
}

TEST_F(GlBackendTest, DepthRunsFromNearPlaneToFarPlane) {
    device_->BeginFrame(frontCamera(), 0.0f);
    const Color nearColor{0.9f, 0.1f, 0.1f, 1.0f}, farColor{0.1f, 0.1f, 0.9f, 1.0f};
    // The near quad is drawn first and must hide the far one although the far one comes later.
    drawQuad(*device_, -1, -1, 1, 1, -1, nearColor, false);
    drawQuad(*device_, -100, -100, 100, 100, 200, farColor, false);
    // Closer to the eye than the near plane: clipped with depth 0..1, visible with OpenGL's -1..1.
    drawQuad(*device_, -3, 0.5f, 3, 3, -4.98f, {0.1f, 0.9f, 0.1f, 1.0f}, false);
    const Capture image = presentAndCapture();
    const Vec3 up{0.0f, 1.0f, 0.0f};
    expectPixel(pixelAt(image, {0.0f, 0.0f, -1.0f}), lit(nearColor, up));
    expectPixel(pixelAt(image, {0.0f, -80.0f, 200.0f}), lit(farColor, up));
    // Above the near quad the far one shows, not the quad in front of the near plane.
    expectPixel(image.at(kSize / 2, 2), lit(farColor, up));
}

// Draws straight through the backend, unlit, with states the primitive path never picks.
class GlBackendStateTest : public GlBackendTest {
protected:
    Capture drawRaw(const PrimitiveBatch& batch, const DrawState& state, f32 useTexture) {
        device_->BeginFrame(frontCamera(), 0.0f);
        const auto buffer = [&](BufferBinding binding, std::span<const std::byte> bytes) {
            return backend_->createBuffer(
                {binding, BufferUsage::immutable, static_cast<u32>(bytes.size()), bytes, "test"});
        };
        const GpuBuffer vb = buffer(BufferBinding::vertex, std::as_bytes(std::span(batch.vertices)));
        const GpuBuffer ib = buffer(BufferBinding::index, std::as_bytes(std::span(batch.indices)));
        const Matrix4 viewProjection = multiply(device_->viewMatrix(), device_->projectionMatrix());
        backend_->writeSceneConstants({viewProjection, identityMatrix(), kWhite, {1.0f, 0.0f, useTexture, 0.0f}});
        backend_->applyDrawState(state);
        backend_->drawIndexed({vb, sizeof(PrimitiveVertex), ib, static_cast<u32>(batch.indices.size())});
        backend_->releaseBuffer(vb);
        backend_->releaseBuffer(ib);
        return presentAndCapture();
    }
};

TEST_F(GlBackendStateTest, CullingKeepsCounterClockwiseTriangles) {
    const Color color{0.9f, 0.9f, 0.1f, 1.0f};
    // Left triangle counter-clockwise on screen (up, left, right), right one clockwise.
    PrimitiveBatch batch;
    for (const Vec3& p : std::initializer_list<Vec3>{{-1.5f, 1, 0}, {-2.5f, -1, 0}, {-0.5f, -1, 0}, {1.5f, 1, 0},
                                                     {2.5f, -1, 0}, {0.5f, -1, 0}}) {
        batch.indices.push_back(static_cast<u32>(batch.vertices.size()));
        batch.vertices.push_back({p, {0, 0, -1}, {0, 0}, color});
    }
    for (const RasterMode raster : {RasterMode::cullBack, RasterMode::doubleSided}) {
        SCOPED_TRACE(raster == RasterMode::cullBack ? "culled" : "double-sided");
        const Capture image = drawRaw(batch, {.raster = raster, .texture = static_cast<GpuTexture>(1)}, 0.0f);
        expectPixel(pixelAt(image, {-1.5f, -0.5f, 0.0f}), color);
        expectPixel(pixelAt(image, {1.5f, -0.5f, 0.0f}), raster == RasterMode::cullBack ? kClearColor : color);
    }
}

TEST_F(GlBackendStateTest, TexturesAreSrgbAndRowsRunTopDown) {
    // 2 x 2: red, green on the top row; blue, grey below; each row followed by 4 bytes of pitch padding.
    const std::array<u8, 24> texels{200, 0, 0, 255, 0, 200, 0, 255, 9, 9, 9, 9,
                                    0, 0, 200, 255, 90, 90, 90, 255, 9, 9, 9, 9};
    const GpuTexture texture = backend_->createTexture({2, 2, 12, std::as_bytes(std::span(texels)), "", ""});
    PrimitiveBatch batch;
    const std::array<std::array<f32, 2>, 4> uvs{{{0, 1}, {1, 1}, {1, 0}, {0, 0}}};
    appendQuad(batch, {-2, -2, 0}, {2, -2, 0}, {2, 2, 0}, {-2, 2, 0}, kWhite, uvs);
    const Capture image = drawRaw(batch, {.raster = RasterMode::doubleSided, .texture = texture}, 1.0f);
    // Texel centres sit at a quarter of the quad: colours come back byte for byte.
    const struct { Vec3 at; Pixel bytes; } texelCentres[] = {
        {{-1, 1, 0}, {200, 0, 0}}, {{1, 1, 0}, {0, 200, 0}}, {{-1, -1, 0}, {0, 0, 200}}, {{1, -1, 0}, {90, 90, 90}}};
    for (const auto& t : texelCentres) {
        SCOPED_TRACE(::testing::Message() << t.at[0] << ", " << t.at[1]);
        expectBytes(pixelAt(image, t.at), t.bytes, 2);
    }
    backend_->releaseTexture(texture);
}

// Blending writes no depth; and the multisampled target is resolved the way Direct3D
// resolves it: the stored sRGB-encoded samples averaged as they are. (Averaged in linear
// light, a half-covered pixel would be some 45 levels brighter in red.)
TEST_F(GlBackendTest, BlendingWritesNoDepthAndEdgesResolveInEncodedValues) {
    expectBlendingWithoutDepthWrites(*device_, [&] { return presentAndCapture(); });
    const u32 samples = device_->report().info.msaaSampleCount;
    ASSERT_GT(samples, 1u);
    expectResolvedRedEdge(*device_, [&] { return presentAndCapture(); }, samples);
}

// The screenshot file holds exactly the presented frame.
TEST_F(GlBackendTest, WritesThePlaceholderParityFrame) {
    makeDevice(true, kParitySize);
    const Capture image = writeParityFrame(*device_, scratchDirectory() / "placeholder-gl.bmp");
    ASSERT_EQ(std::tuple(image.width, image.height), std::tuple(kParitySize, kParitySize));
    EXPECT_EQ(compare(image, capture(), 0).pixels, 0u);
}

}  // namespace
}  // namespace kestrune::render
