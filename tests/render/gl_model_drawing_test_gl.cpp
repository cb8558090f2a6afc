// Model drawing end to end on the OpenGL backend: models built in the tests through the
// KMDL writer are uploaded, drawn through both vertex paths and read back.

#include <gtest/gtest.h>

#include <filesystem>
#include <string_view>

#include "render/gl_test_support_gl.h"
#include "render/test_models.h"

namespace kestrune::render {
namespace {

using namespace testing;
using content::Model;

// Lit on the quads' normal, which faces the camera.
Color lit(const Color& c) { return testing::lit(c, {0.0f, 0.0f, -1.0f}); }

// Draws `model` in the bind pose in front of the camera and presents.
class GlModelDrawingTest : public GlBackendTest {
protected:
    Capture drawFrame(const Model& model, std::span<const std::string_view> hidden = {},
                      TextureHandle textureOverride = kNoTexture, bool additive = false) {
        const ModelHandle handle = device_->UploadModel(model, "../shared/testdata/pngsuite");
        const std::vector<Matrix4> pose = bindPose(model);
        device_->BeginFrame(frontCamera(4.0f), 0.0f);
        device_->DrawModel(handle, model, pose, identityMatrix(), kWhite, hidden, textureOverride, additive);
        return presentAndCapture();
    }
};

TEST_F(GlModelDrawingTest, PassesMaterialsHiddenMeshesAndOverrides) {
    // Four quads side by side at z = 0: opaque red, blended glass, no material, textured.
    const Model panels =
        rigidModel({quadMesh("wall", -2, -0.5f, -1, 0.5f, 0, 0), quadMesh("glass", -1, -0.5f, 0, 0.5f, 0, 1),
                    quadMesh("plain", 0, -0.5f, 1, 0.5f, 0, -1), quadMesh("tile", 1, -0.5f, 2, 0.5f, 0, 2)},
                   {material("red", kRed), material("glass", kGlass, content::kAlphaBlended),
                    material("tiles", kWhite, content::kAlphaOpaque, false, "basn2c08.png")});
    const Model opaqueOnly = rigidModel({quadMesh("wall", -2, -0.5f, -1, 0.5f, 0, 0)}, {material("red", kRed)});
    const Model blendedOnly =
        rigidModel({quadMesh("glass", -1, -0.5f, 0, 0.5f, 0, 0)}, {material("glass", kGlass, content::kAlphaBlended)});
    const Color glassOverClear = over(kGlass, kClearColor);
    const Color clear = kClearColor;
    const Color additiveRed{1.0f, kClearColor[1], kClearColor[2], 1.0f};
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

// The frames are also written as screenshots for a look by eye.
TEST_F(GlModelDrawingTest, GpuAndCpuSkinningDrawTheSameCharacter) {
    const std::filesystem::path output = std::filesystem::path(KESTRUNE_BINARY_DIR) / "test-output" / "character";
    std::filesystem::create_directories(output);
    expectSkinningPathsAgree(
        [&](bool gpuSkinning) -> RenderDevice& {
            makeDevice(gpuSkinning, kSkinningFrameSize);
            return *device_;
        },
        [&](const std::string& name) {
            device_->RequestScreenshot(output / (name + ".bmp"));
            return presentAndCapture();
        });
}

}  // namespace
}  // namespace kestrune::render
