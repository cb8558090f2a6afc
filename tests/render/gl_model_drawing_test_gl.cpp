// Model drawing end to end on the OpenGL backend: models built in the tests through the
// KMDL writer are uploaded, drawn through both vertex paths and read back.

#include <gtest/gtest.h>

#include "render/gl_test_support_gl.h"

namespace kestrune::render {
namespace {

using namespace testing;
using content::Model;

// Lit on the quads' normal, which faces the camera.
Color lit(const Color& c) { return testing::lit(c, {0.0f, 0.0f, -1.0f}); }

// Draws `model` in the bind pose in front of the camera and presents.
class GlModelDrawingTest : public GlBackendTest {
protected:
    Capture drawFrame(const Model& model, TextureHandle textureOverride = kNoTexture, bool additive = false) {
        const ModelHandle handle = device_->UploadModel(model, "../shared/testdata/pngsuite");
        device_->BeginFrame(frontCamera(4.0f), 0.0f);
        device_->DrawModel(handle, model, bindPose(model), identityMatrix(), kWhite, {}, textureOverride, additive);
        return presentAndCapture();
    }
};

// Which meshes draw, in which pass and with which states, is the front end's (its suite
// checks the draws); here the model path's vertices, materials, blending and texture come
// out on screen.
TEST_F(GlModelDrawingTest, PassesMaterialsAndTextureOverrides) {
    // Four quads side by side at z = 0: opaque red, blended glass, no material, textured.
    const Model panels =
        rigidModel({quadMesh("wall", -2, -0.5f, -1, 0.5f, 0, 0), quadMesh("glass", -1, -0.5f, 0, 0.5f, 0, 1),
                    quadMesh("plain", 0, -0.5f, 1, 0.5f, 0, -1), quadMesh("tile", 1, -0.5f, 2, 0.5f, 0, 2)},
                   {material("red", kRed), material("glass", kGlass, content::kAlphaBlended),
                    material("tiles", kWhite, content::kAlphaOpaque, false, "basn2c08.png")});
    const Capture image = drawFrame(panels);
    expectPixel(pixelAt(image, {-1.5f, 0.0f, 0.0f}), lit(kRed));
    expectPixel(pixelAt(image, {-0.5f, 0.0f, 0.0f}), over(kGlass, kClearColor));
    expectPixel(pixelAt(image, {0.5f, 0.0f, 0.0f}), lit(kWhite));
    // Additive draws add the unlit colour.
    expectPixel(pixelAt(drawFrame(panels, kNoTexture, true), {-1.5f, 0.0f, 0.0f}),
                {1.0f, kClearColor[1], kClearColor[2], 1.0f});
    // The tile shows its texture (pink where this samples it); overridden with
    // texture 0 it is plain lit white.
    const Pixel overridden = pixelAt(drawFrame(panels, kWhiteTexture), {1.5f, 0.2f, 0.0f});
    expectPixel(overridden, lit(kWhite));
    EXPECT_LT(pixelAt(image, {1.5f, 0.2f, 0.0f}).g, overridden.g - 30);
}

// The frames are also written as screenshots for a look by eye.
TEST_F(GlModelDrawingTest, GpuAndCpuSkinningDrawTheSameCharacter) {
    const std::filesystem::path output = scratchDirectory();
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
