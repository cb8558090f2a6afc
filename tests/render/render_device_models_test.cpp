// Textures, model uploads and model drawing through the front end, on the recording
// backend: handle spaces, the texture cache, records, the two passes, draw states,
// palettes, CPU skinning, statistics and the errors, all without a GPU.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <stdexcept>

#include "content/png.h"
#include "content/skinning.h"
#include "effects/allocation_counter.h"
#include "render/device_fixture.h"
#include "render/test_models.h"

namespace kestrune::render {
namespace {

using content::Model;
using namespace testing;

const std::filesystem::path kPng = "../shared/testdata/pngsuite/basn2c08.png";  // 32 x 32

// A started device; `draw` draws a model in its bind pose, `drawPose` plainly in a given pose.
struct Fixture : StartedDevice {
    using StartedDevice::StartedDevice;
    void drawPose(ModelHandle handle, const Model& model, std::span<const Matrix4> pose) {
        device.DrawModel(handle, model, pose, identityMatrix(), kWhite, {}, kNoTexture, false);
    }
    void draw(ModelHandle handle, const Model& model, std::span<const std::string_view> hidden = {},
              TextureHandle textureOverride = kNoTexture, bool additive = false, const Color& tint = kWhite) {
        device.DrawModel(handle, model, bindPose(model), identityMatrix(), tint, hidden, textureOverride, additive);
    }
};

// A writable copy of the test PNG (the shared test data is read-only, and Windows refuses to
// delete read-only files later).
void copyPng(const std::filesystem::path& to) {
    std::filesystem::create_directories(to.parent_path());
    std::ifstream in(kPng, std::ios::binary);
    std::ofstream(to, std::ios::binary | std::ios::trunc) << in.rdbuf();
}

// Three rigid quads: a blended one first, then an opaque one, then one without a material.
Model threeQuads() {
    return rigidModel({quadMesh("glass", 0, 0, 1, 1, 0, 1), quadMesh("wall", -1, 0, 0, 1, 0, 0),
                       quadMesh("plain", -2, 0, -1, 1, 0, -1)},
                      {material("red", kRed), material("glass", kGlass, content::kAlphaBlended, true)});
}

// ---- Textures ----

TEST(RenderDeviceTextures, FailedDecodeIsTriedAgainAndTheCacheIsKeyedByTheCanonicalPath) {
    Fixture f;
    const std::filesystem::path scratch = scratchDirectory();
    std::filesystem::create_directories(scratch / "sub");
    std::ofstream(scratch / "stone.png") << "not yet a picture";
    expectThrow<content::ContentError>([&] { f.device.LoadTexture(scratch / "stone.png"); },
                                       "file is not a PNG: " + (scratch / "stone.png").string());
    copyPng(scratch / "stone.png");
    EXPECT_EQ((std::tuple{f.device.LoadTexture({}), f.device.LoadTexture(scratch / "stone.png"),
                          f.device.LoadTexture(scratch / "sub" / ".." / "." / "stone.png")}),
              std::tuple(kWhiteTexture, TextureHandle{1}, TextureHandle{1}));
    // Textures: white, then the one decode.
    ASSERT_EQ(std::tuple(f.device.Statistics().uploadedTextures, f.backend->textures.size()), std::tuple(1u, 2u));
    const TextureDesc& png = f.backend->textures[1];
    EXPECT_EQ(std::tuple(std::string_view(png.textureOperation), png.rowPitchBytes),
              std::tuple("ID3D11Device::CreateTexture2D(PNG)", 128u));
    for (const TextureHandle white : {kWhiteTexture, kNoTexture, TextureHandle{2}}) {
        EXPECT_EQ(f.device.Texture(white).texture, f.device.Texture(kWhiteTexture).texture);
    }
}

// The device's texture limit is checked before the texture is created, on each side alone,
// and the file is not remembered: the same request fails again.
TEST(RenderDeviceTextures, TexturesLargerThanTheDeviceTakesNameFileSizeAndLimit) {
    // size: null: uploaded
    const struct { const char* name; u32 limit; std::filesystem::path path; const char* size; } cases[] = {
        {"square at the limit", 32, kPng, nullptr}, {"square one over", 31, kPng, "32 x 32"},
        {"tall one over", 31, kPng.parent_path() / "cdfn2c08.png", "8 x 32"},
        {"wide one over", 31, kPng.parent_path() / "cdhn2c08.png", "32 x 8"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceFixture f;
        f.backend->maxTextureDimension = c.limit;
        f.create();
        if (c.size == nullptr) {
            EXPECT_EQ(f.device.LoadTexture(c.path), TextureHandle{1});
            continue;
        }
        const std::string message = "PNG texture of " + std::string(c.size) +
                                    " pixels exceeds this device's limit of 31 pixels a side: " + c.path.string();
        for (int attempt = 0; attempt < 2; ++attempt) {
            expectThrow<std::runtime_error>([&] { f.device.LoadTexture(c.path); }, message);
        }
        // The white texture only.
        EXPECT_EQ(std::tuple(f.backend->textures.size(), f.device.Statistics().uploadedTextures,
                             f.device.textureCount()), std::tuple(1u, 0u, 1u));
    }
}

// ---- Uploads ----

TEST(RenderDeviceUpload, CountsModelsAndMeshesAndKeepsRecords) {
    Fixture f;
    const std::filesystem::path scratch = scratchDirectory();
    copyPng(scratch / "textures" / "glass.png");
    Model model = threeQuads();
    model.materials[1].texture = "textures/glass.png";
    // The second upload finds the texture cached.
    EXPECT_EQ((std::tuple{f.device.UploadModel(model, scratch), f.device.UploadModel(model, scratch)}),
              std::tuple(ModelHandle{0}, ModelHandle{1}));
    const RenderStatistics& stats = f.device.Statistics();
    EXPECT_EQ(std::tuple(stats.uploadedModels, stats.uploadedMeshes, stats.uploadedTextures), std::tuple(2u, 6u, 1u));

    // What the materials and meshes become shows in the draws (see DrawModel below); here
    // the buffers' contents.
    const ModelRecord& record = *f.device.modelRecord(ModelHandle{0});
    ASSERT_EQ(record.meshes.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const auto& vertices = f.backend->buffers.at(static_cast<u32>(record.meshes[i].vertexBuffer) - 1);
        ASSERT_EQ(vertices.contents.size(), 4u * 56u);
        EXPECT_EQ(std::memcmp(vertices.contents.data(), model.meshes[i].vertices.data(), 4 * 56), 0);
        const auto& indices = f.backend->buffers.at(static_cast<u32>(record.meshes[i].indexBuffer) - 1);
        EXPECT_EQ(indices.desc.binding, BufferBinding::index);
        EXPECT_EQ(std::memcmp(indices.contents.data(), model.meshes[i].indices.data(), 24), 0);
        EXPECT_STREQ(indices.desc.operation, "ID3D11Device::CreateBuffer(model indices)");
    }
    EXPECT_NE(record.meshes[0].vertexBuffer, f.device.modelRecord(ModelHandle{1})->meshes[0].vertexBuffer);
    EXPECT_EQ(f.device.modelRecord(ModelHandle{2}), nullptr);
}

TEST(RenderDeviceUpload, PathFollowsTheDeviceAndTheJointCount) {
    // joints: 0: rigid
    const struct { const char* name; bool gpuDevice; u32 joints; bool gpuSkinned; } cases[] = {
        {"rigid on a GPU-skinning device", true, 0, true}, {"128 joints fit the palette", true, 128, true},
        {"129 joints do not", true, 129, false}, {"rigid without GPU skinning", false, 0, false},
        {"one joint without GPU skinning", false, 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(c.gpuDevice);
        const Model model = c.joints == 0 ? rigidModel({quadMesh("quad", 0, 0, 1, 1, 0, 0)}, {material("m", kRed)})
                                          : skinnedQuadModel(c.joints);
        const MeshRecord& mesh = f.device.modelRecord(f.device.UploadModel(model, "."))->meshes.at(0);
        EXPECT_EQ(mesh.gpuSkinned, c.gpuSkinned);
        const auto& vertices = f.backend->buffers.at(static_cast<u32>(mesh.vertexBuffer) - 1);
        EXPECT_EQ(std::tuple(vertices.desc.usage, vertices.desc.sizeBytes, vertices.desc.initialData.empty()),
                  std::tuple(c.gpuSkinned ? BufferUsage::immutable : BufferUsage::dynamic,
                             4u * (c.gpuSkinned ? 56u : 48u), !c.gpuSkinned));
        EXPECT_STREQ(vertices.desc.operation, "ID3D11Device::CreateBuffer(model vertices)");
    }
}

TEST(RenderDeviceUpload, MeshWithoutGeometryKeepsNothingButTextures) {
    for (const bool dropVertices : {true, false}) {
        SCOPED_TRACE(dropVertices ? "no vertices" : "no indices");
        Fixture f;
        const std::filesystem::path scratch = scratchDirectory();
        copyPng(scratch / "red.png");
        Model model = threeQuads();
        model.materials[0].texture = "red.png";
        (dropVertices ? model.meshes[2].vertices.clear() : model.meshes[2].indices.clear());
        expectThrow<std::runtime_error>([&] { f.device.UploadModel(model, scratch); },
                                        "KMDL mesh cannot be uploaded with no geometry.");
        // Buffers: the first two meshes' ones were made and released again.
        EXPECT_EQ(std::tuple(f.backend->buffers.size(), f.backend->liveBuffers(), f.device.modelCount()),
                  std::tuple(4u, 0u, 0u));
        const RenderStatistics& stats = f.device.Statistics();
        EXPECT_EQ(std::tuple(stats.uploadedModels, stats.uploadedMeshes, stats.uploadedTextures,
                             f.device.textureCount()), std::tuple(0u, 0u, 1u, 2u));
    }
}

TEST(RenderDeviceUpload, DestroyReleasesEverythingMayRunTwiceAndForgetsTextures) {
    Fixture f;
    f.device.UploadModel(threeQuads(), ".");
    f.device.LoadTexture(kPng);
    f.device.DrawGroundGrid({0, 0, 0}, 1.0f);
    EXPECT_EQ(f.backend->liveBuffers(), 3u * 2u + 2u);  // the meshes' and the primitive pair
    f.device.Destroy();
    f.device.Destroy();
    EXPECT_EQ(std::tuple(f.backend->liveBuffers(), f.backend->liveTextures, f.device.modelCount(),
                         f.device.primitiveVertexCapacity(), f.device.created()), std::tuple(0u, 0u, 0u, 0u, false));
    f.device.Create({}, 64, 64, false);
    // Decoded again for the new device.
    EXPECT_EQ((std::tuple{f.device.LoadTexture(kPng), f.device.Statistics().uploadedTextures}),
              std::tuple(TextureHandle{1}, 2u));
}

// ---- Drawing: passes, materials and states ----

TEST(RenderDeviceDrawModel, OpaquePassThenBlendedPassWithMaterialStates) {
    Fixture f;
    Model model = threeQuads();
    model.meshes.push_back(quadMesh("cutout", 1, 0, 2, 1, 0, 2));
    model.materials.push_back(material("cutout", kWhite, content::kAlphaTested));
    model = decoded(model);
    const Color tint{0.5f, 1.0f, 1.0f, 0.5f};
    f.draw(f.device.UploadModel(model, "."), model, {}, kNoTexture, false, tint);
    const auto& draws = f.backend->draws;
    ASSERT_EQ(draws.size(), 4u);
    using enum BlendMode;
    using enum RasterMode;
    using enum DepthMode;
    // x: left edge of the quad, in the world matrix's translation of mesh vertex 0
    const struct {
        const char* name; f32 x; BlendMode blend; RasterMode raster; DepthMode depth; Color color;
        std::array<f32, 4> light;
    } expected[] = {
        {"wall", -1, opaque, cullBack, readWrite, {0.5f, 0, 0, 0.5f}, {0.32f, 0.76f, 0, 0}},
        {"plain (default material)", -2, opaque, cullBack, readWrite, tint, {0.32f, 0.76f, 0, 0}},
        {"cutout", 1, opaque, cullBack, readWrite, tint, {0.32f, 0.76f, 0, 0.5f}},
        {"glass", 0, alpha, doubleSided, readOnly, {0.1f, 0.4f, 1.0f, 0.25f}, {1, 0, 0, 0}}};
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(draws[i].skinnedVertices.at(0).position[0], expected[i].x);
        const DrawState& state = draws[i].state;
        EXPECT_EQ(std::tuple(state.blend, state.raster, state.depth, state.path, state.texture),
                  std::tuple(expected[i].blend, expected[i].raster, expected[i].depth, VertexPath::gpuSkinned,
                             f.device.Texture(kWhiteTexture).texture));
        EXPECT_EQ(std::tuple(draws[i].constants.tint, draws[i].constants.lightAndTexture),
                  std::tuple(expected[i].color, expected[i].light));
        EXPECT_EQ(std::tuple(draws[i].call.vertexStrideBytes, draws[i].call.indexCount), std::tuple(56u, 6u));
    }
    EXPECT_EQ(std::tuple(f.device.Statistics().drawCalls, f.device.Statistics().triangles), std::tuple(4u, 8u));
}

TEST(RenderDeviceDrawModel, HiddenNamesHideMeshesContainingThem) {
    const Model model = rigidModel({quadMesh("left arm", 0, 0, 1, 1, 0, 0), quadMesh("right arm", 1, 0, 2, 1, 0, 0),
                                    quadMesh("head", 2, 0, 3, 1, 0, 0)}, {material("m", kRed)});
    const struct { const char* name; std::vector<std::string_view> hidden; u64 drawn; } cases[] = {
        {"nothing hidden", {}, 3}, {"part of two names", {"arm"}, 1}, {"whole name", {"head"}, 2},
        {"empty entry hides all", {"zzz", ""}, 0}, {"no match", {"Arm", "heads"}, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.draw(f.device.UploadModel(model, "."), model, c.hidden);
        EXPECT_EQ(f.device.Statistics().drawCalls, c.drawn);
    }
}

TEST(RenderDeviceDrawModel, TextureOverrideAndAdditiveDraws) {
    Model model = threeQuads();
    model.materials[0].texture = "basn2c08.png";
    model = decoded(model);
    const struct {
        const char* name; TextureHandle textureOverride; bool additive; TextureHandle wallTexture; f32 useTexture;
    } cases[] = {
        {"material texture", kNoTexture, false, TextureHandle{1}, 1.0f},
        {"override 0 is white and untextured", kWhiteTexture, false, kWhiteTexture, 0.0f},
        {"override with a texture", TextureHandle{1}, false, TextureHandle{1}, 1.0f},
        {"additive keeps the material texture", kNoTexture, true, TextureHandle{1}, 1.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.draw(f.device.UploadModel(model, kPng.parent_path()), model, {}, c.textureOverride, c.additive);
        ASSERT_EQ(f.backend->draws.size(), 3u);
        const RecordedDraw& wall = f.backend->draws[0];
        EXPECT_EQ(wall.state.texture, f.device.Texture(c.wallTexture).texture);
        // Additive draws keep their pass (the opaque wall still comes first) but are unlit,
        // double-sided, additively blended and leave depth alone.
        EXPECT_EQ(std::tuple(wall.state.blend, wall.state.raster, wall.state.depth),
                  c.additive ? std::tuple(BlendMode::additive, RasterMode::doubleSided, DepthMode::readOnly)
                             : std::tuple(BlendMode::opaque, RasterMode::cullBack, DepthMode::readWrite));
        EXPECT_EQ(wall.constants.lightAndTexture,
                  (std::array{c.additive ? 1 : kLitAmbient, c.additive ? 0 : kLitDirectional, c.useTexture, 0.0f}));
        EXPECT_EQ(f.backend->draws[2].state.blend, c.additive ? BlendMode::additive : BlendMode::alpha);
    }
}

TEST(RenderDeviceDrawModel, MeshWorldAppliesTheNodeBeforeTheWorld) {
    Fixture f;
    const Model model = skinnedQuadModel(2);
    std::vector<Matrix4> pose = bindPose(model);
    pose[0] = translation(1.0f, 2.0f, 0.0f);  // the mesh's node
    pose[1] = pose[0];                        // joint 0 moves with it: its palette matrix is the identity
    // The world stretches x after the node has moved the mesh.
    const Matrix4 world = content::transformToMatrix({.scale = {3.0f, 1.0f, 1.0f}});
    f.device.DrawModel(f.device.UploadModel(model, "."), model, pose, world, kWhite, {}, kNoTexture, false);
    const SceneConstants& constants = f.backend->draws.at(0).constants;
    EXPECT_EQ(std::tuple(constants.world[0], constants.world[12], constants.world[13]), std::tuple(3.0f, 3.0f, 2.0f));
    EXPECT_EQ(f.backend->draws.at(0).skin.skinMatrices[0], identityMatrix());
}

// ---- Drawing: palettes and CPU skinning ----

// The character drawn twice and the rigid quads once, on either path: the GPU path uploads
// a skin image for every mesh (the character's palette, then a disabled one that clears
// it), the CPU path rewrites the vertices in every draw; both count what they skinned, and
// neither allocates once drawing is steady.
TEST(RenderDeviceDrawModel, EachPathSkinsEveryDrawCountsItAndSteadyDrawsAllocateNothing) {
    const Model character = testCharacter();
    const Model quads = threeQuads();
    const std::vector<Matrix4> pose = clipPose(character, "walk", 0.3);
    const u32 joints = static_cast<u32>(character.skins[0].joints.size());
    std::vector<Matrix4> palette(joints);
    content::computeSkinningPalette(character, character.meshes[0], pose, palette);
    // The character's vertices, drawn twice.
    const u64 skinned = 2 * (character.meshes[0].vertices.size() + character.meshes[1].vertices.size());
    for (const bool gpu : {true, false}) {
        SCOPED_TRACE(gpu ? "GPU path" : "CPU path");
        Fixture f(gpu);
        const ModelHandle handle = f.device.UploadModel(character, ".");
        f.drawPose(handle, character, pose);
        f.drawPose(handle, character, pose);
        f.draw(f.device.UploadModel(quads, "."), quads);
        const auto& draws = f.backend->draws;
        ASSERT_EQ(draws.size(), 7u);
        const RenderStatistics& stats = f.device.Statistics();
        EXPECT_EQ(std::tuple(stats.drawCalls, stats.skinnedVertices, stats.gpuSkinnedVertices, stats.cpuSkinnedVertices,
                             stats.skinPaletteUploads, f.backend->skinWrites),
                  std::tuple(7u, skinned, gpu ? skinned : 0u, gpu ? 0u : skinned, gpu ? 4u : 0u, gpu ? 4u + 3u : 0u));
        EXPECT_EQ(std::tuple(draws[0].state.path, draws[0].call.vertexStrideBytes),
                  std::tuple(gpu ? VertexPath::gpuSkinned : VertexPath::primitive, gpu ? 56u : 48u));
        if (gpu) {
            EXPECT_EQ(draws[0].skin.skinMetadata, (std::array<u32, 4>{1, joints, 0, 0}));
            EXPECT_TRUE(std::equal(palette.begin(), palette.end(), draws[0].skin.skinMatrices.begin()));
            EXPECT_EQ(draws[0].skin.skinMatrices[joints], Matrix4{});
            // An unskinned mesh still uploads, disabled and without the last palette's matrices.
            EXPECT_EQ(draws[4].skin.skinMetadata, (std::array<u32, 4>{0, 0, 0, 0}));
            EXPECT_EQ(std::tuple(draws[4].skin.skinMatrices[0], draws[4].skin.skinMatrices[joints - 1]),
                      std::tuple(Matrix4{}, Matrix4{}));
        } else {
            const MeshRecord& cloth = f.device.modelRecord(handle)->meshes[0];
            EXPECT_EQ(f.backend->buffers.at(static_cast<u32>(cloth.vertexBuffer) - 1).maps, 2u);
            std::vector<PrimitiveVertex> expected(character.meshes[0].vertices.size());
            skinVerticesWith(SkinningKernel::scalar, character.meshes[0].vertices, palette, expected);
            ASSERT_EQ(draws[2].vertices.size(), expected.size());
            for (std::size_t i = 0; i < expected.size(); ++i) {
                expectNear(draws[2].vertices[i].position, expected[i].position);
            }
            // The rigid quads are copied as they are, white.
            EXPECT_EQ(std::tuple(draws[4].vertices.at(0).position, draws[4].vertices.at(0).color),
                      std::tuple(quads.meshes[1].vertices[0].position, kWhite));
        }
        // Steady draws allocate nothing (recording a draw does, so it stops here), with a
        // hidden list and an additive draw among them.
        f.backend->recordDraws = false;
        const std::array<std::string_view, 1> hidden{"nothing"};
        const std::size_t before = kestrune::test::allocationCount();
        for (int frame = 0; frame < 3; ++frame) {
            f.device.DrawModel(handle, character, pose, identityMatrix(), kWhite, hidden, kNoTexture, frame == 1);
        }
        EXPECT_EQ(kestrune::test::allocationCount() - before, 0u);
        EXPECT_EQ(f.device.Statistics().drawCalls, 7u + 6u);
    }
}

// ---- Drawing: errors ----

TEST(RenderDeviceDrawModel, HandleAndPoseErrorsComeBeforeAnyDraw) {
    const Model model = threeQuads();
    Model fewerMeshes = model;
    fewerMeshes.meshes.pop_back();
    Model moreVertices = model;
    moreVertices.meshes[1].vertices.push_back(moreVertices.meshes[1].vertices[0]);
    const std::vector<Matrix4> pose = bindPose(model);
    std::vector<Matrix4> longPose = pose;
    longPose.push_back(identityMatrix());
    constexpr const char* kBadHandle = "Invalid renderer model handle.";
    constexpr const char* kBadPose = "Pose global matrix count does not match model nodes.";
    const struct {
        const char* name; ModelHandle handle; const Model* model; std::span<const Matrix4> pose; const char* message;
    } cases[] = {
        {"no handle", ModelHandle{kNoHandle}, &model, pose, kBadHandle},
        {"handle past the models", ModelHandle{1}, &model, pose, kBadHandle},
        {"fewer meshes than uploaded", ModelHandle{0}, &fewerMeshes, pose, kBadHandle},
        {"a mesh with more vertices than uploaded", ModelHandle{0}, &moreVertices, pose, kBadHandle},
        {"one matrix too many", ModelHandle{0}, &model, longPose, kBadPose},
        {"one matrix too few", ModelHandle{0}, &model, std::span(longPose).first(0), kBadPose}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.device.UploadModel(model, ".");
        expectThrow<std::invalid_argument>([&] { f.drawPose(c.handle, *c.model, c.pose); }, c.message);
        EXPECT_EQ(std::tuple(f.backend->draws.size(), f.backend->skinWrites, f.device.Statistics().drawCalls),
                  std::tuple(0u, 0u, 0u));
    }
}

TEST(RenderDeviceDrawModel, SkinningErrorsNameTheirCause) {
    // Each case uploads a one-joint model and draws a variant the records do not expect.
    const Model uploaded = skinnedQuadModel(1);
    // skinBuffer: whether the backend has a skin constant buffer
    const struct { const char* name; bool skinBuffer; u32 drawnJoints; i32 drawnSkin; const char* message; } cases[] = {
        {"skin past the model's skins", true, 1, 3, "Mesh skin index escaped validated model bounds."},
        {"GPU record, skin beyond the palette", true, 129, 0,
         "GPU skin palette exceeds the renderer's validated matrix limit."},
        {"no skin constant buffer", false, 1, 0, "GPU model pipeline is missing its skin constant buffer."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.backend->skinConstantBuffer = c.skinBuffer;
        const ModelHandle handle = f.device.UploadModel(uploaded, ".");
        Model drawn = c.drawnJoints == 1 ? uploaded : skinnedQuadModel(c.drawnJoints);
        drawn.meshes[0].skin = c.drawnSkin;
        expectThrow<std::runtime_error>([&] { f.drawPose(handle, drawn, bindPose(drawn)); }, c.message);
        EXPECT_TRUE(f.backend->draws.empty());
    }
    for (const bool gpuDevice : {true, false}) {
        SCOPED_TRACE(gpuDevice ? "singular node, GPU path" : "singular node, CPU path");
        Fixture f(gpuDevice);
        const ModelHandle handle = f.device.UploadModel(uploaded, ".");
        std::vector<Matrix4> pose = bindPose(uploaded);
        pose[0][5] = 0.0f;  // the mesh's node flattened: no inverse
        expectThrow<content::ContentError>([&] { f.drawPose(handle, uploaded, pose); }, "affine matrix is singular");
        EXPECT_TRUE(f.backend->draws.empty());
    }
}

}  // namespace
}  // namespace kestrune::render
