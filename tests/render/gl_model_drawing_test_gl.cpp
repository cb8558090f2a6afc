// Model drawing end to end on the OpenGL backend: models built in the tests through the
// KMDL writer are uploaded, drawn through both vertex paths and read back.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "render/gl_test_support_gl.h"
#include "render/test_models.h"

namespace kestrune::render {
namespace {

using namespace testing;
using content::Model;

constexpr Color kRed{0.9f, 0.1f, 0.1f, 1.0f};
constexpr Color kGlass{0.2f, 0.4f, 1.0f, 0.5f};

// Lit on the quads' normal, which faces the camera.
Color lit(const Color& c) { return testing::lit(c, {0.0f, 0.0f, -1.0f}); }

// Four quads side by side at z = 0: opaque red, blended glass, no material, textured.
Model panelModel() {
    return rigidModel({quadMesh("wall", -2, -0.5f, -1, 0.5f, 0, 0), quadMesh("glass", -1, -0.5f, 0, 0.5f, 0, 1),
                       quadMesh("plain", 0, -0.5f, 1, 0.5f, 0, -1), quadMesh("tile", 1, -0.5f, 2, 0.5f, 0, 2)},
                      {material("red", kRed), material("glass", kGlass, content::kAlphaBlended),
                       material("tiles", kWhite, content::kAlphaOpaque, false, "basn2c08.png")});
}

class GlModelDrawingTest : public GlBackendTest {
protected:
    // Draws `model` in the bind pose in front of the camera and presents.
    Capture drawFrame(const Model& model, std::span<const std::string_view> hidden = {},
                      TextureHandle textureOverride = kNoTexture, bool additive = false) {
        const ModelHandle handle = device_->UploadModel(model, "../shared/testdata/pngsuite");
        const std::vector<Matrix4> pose = bindPose(model);
        frontCamera(4.0f);
        device_->DrawModel(handle, model, pose, identityMatrix(), kWhite, hidden, textureOverride, additive);
        device_->Present(0);
        return capture();
    }
};

TEST_F(GlModelDrawingTest, PassesMaterialsHiddenMeshesAndOverrides) {
    const Model panels = panelModel();
    const Model opaqueOnly = rigidModel({quadMesh("wall", -2, -0.5f, -1, 0.5f, 0, 0)}, {material("red", kRed)});
    const Model blendedOnly =
        rigidModel({quadMesh("glass", -1, -0.5f, 0, 0.5f, 0, 0)}, {material("glass", kGlass, content::kAlphaBlended)});
    const Color glassOverClear = over(kGlass, kClearColor);
    const Color clear = kClearColor;
    const Color additiveRed{std::min(1.0f, kClearColor[0] + kRed[0]), kClearColor[1] + kRed[1],
                            kClearColor[2] + kRed[2], 1.0f};
    const struct {
        const char* name;
        const Model* model;
        std::vector<std::string_view> hidden;
        bool additive;
        Color wall, glass, plain;
    } cases[] = {
        {"every mesh", &panels, {}, false, lit(kRed), glassOverClear, lit(kWhite)},
        {"opaque only", &opaqueOnly, {}, false, lit(kRed), clear, clear},
        {"blended only", &blendedOnly, {}, false, clear, glassOverClear, clear},
        {"hidden glass and tile", &panels, {"gla", "tile"}, false, lit(kRed), clear, lit(kWhite)},
        {"additive is unlit", &opaqueOnly, {}, true, additiveRed, clear, clear},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Capture image = drawFrame(*c.model, c.hidden, kNoTexture, c.additive);
        expectPixel(pixelAt(image, {-1.5f, 0.0f, 0.0f}), c.wall);
        expectPixel(pixelAt(image, {-0.5f, 0.0f, 0.0f}), c.glass);
        expectPixel(pixelAt(image, {0.5f, 0.0f, 0.0f}), c.plain);
    }
    // The tile shows its texture (pink where this samples it); overridden with
    // texture 0 it is plain lit white.
    const Pixel textured = pixelAt(drawFrame(panels), {1.5f, 0.2f, 0.0f});
    const Pixel overridden = pixelAt(drawFrame(panels, {}, kWhiteTexture), {1.5f, 0.2f, 0.0f});
    expectPixel(overridden, lit(kWhite));
    EXPECT_LT(textured.g, overridden.g - 30);
}

// The test character skinned by the model vertex program and on the CPU draws the same. The
// frames are also written as screenshots for a look by eye.
TEST_F(GlModelDrawingTest, GpuAndCpuSkinningDrawTheSameCharacter) {
    const Model character = testCharacter();
    const std::filesystem::path output = std::filesystem::path(KESTRUNE_BINARY_DIR) / "test-output" / "character";
    std::filesystem::create_directories(output);
    std::vector<Capture> images;
    for (const SkinningFrame& frame : kSkinningFrames) {
        SCOPED_TRACE(frame.name);
        makeDevice(frame.gpuSkinning, kSkinningFrameSize);
        const ModelHandle handle = device_->UploadModel(character, ".");
        const std::vector<Matrix4> pose =
            frame.timeSeconds < 0 ? bindPose(character) : clipPose(character, "walk", frame.timeSeconds);
        device_->BeginFrame({{1.3f, 1.5f, -3.0f}, {0.0f, 0.95f, 0.0f}, {0.0f, 1.0f, 0.0f}, 0.75f, 0.05f, 100.0f},
                            0.0f);
        device_->DrawModel(handle, character, pose, identityMatrix(), kWhite, {}, kNoTexture, false);
        device_->RequestScreenshot(output / (std::string(frame.name) + ".bmp"));
        device_->Present(0);
        images.push_back(capture());

        // The known scene's statistics: 2 meshes, 10 boxes of 12 triangles and 24 vertices.
        const RenderStatistics& stats = device_->Statistics();
        EXPECT_EQ(stats.drawCalls, 2u);
        EXPECT_EQ(stats.triangles, 120u);
        EXPECT_EQ(stats.skinnedVertices, 240u);
        EXPECT_EQ(stats.gpuSkinnedVertices, frame.gpuSkinning ? 240u : 0u);
        EXPECT_EQ(stats.cpuSkinnedVertices, frame.gpuSkinning ? 0u : 240u);
        EXPECT_EQ(stats.skinPaletteUploads, frame.gpuSkinning ? 2u : 0u);
        EXPECT_EQ(stats.uploadedModels, 1u);
        EXPECT_EQ(stats.uploadedMeshes, 2u);
    }
    expectSkinningPathsAgree(images, kClearColor);
}

}  // namespace
}  // namespace kestrune::render
