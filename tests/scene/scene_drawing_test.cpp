// What one frame draws, in which order and where, seen through the recording renderer.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "render/primitive_shapes.h"
#include "content/animation.h"
#include "scene_fixture.h"

namespace kestrune::scene {
namespace {

using render::testing::RecordedDraw;
using testing::contentCopy;
using testing::key;
using testing::kStep;
using testing::press;
using testing::SceneFixture;

// A draw by what it is: model meshes by their vertex stride, primitives by their colour.
std::string kindOf(const RecordedDraw& draw) {
    if (draw.call.vertexStrideBytes == sizeof(render::SkinnedVertex)) return "model";
    const struct { render::Color color; const char* kind; } shapes[] = {
        {render::kFloorColor, "floor"}, {render::kGridLineColor, "grid"}, {render::kStatusBackgroundColor, "bar"},
        {render::kStatusHealthyColor, "fill"}, {render::kStatusLowColor, "fill"},
        {{0.95f, 0.72f, 0.16f, 0.88f}, "target"}, {{0.3f, 0.72f, 1.0f, 0.85f}, "locked"},
        {{0.45f, 0.82f, 1.0f, 0.88f}, "beam"}};
    for (const auto& shape : shapes) {
        if (draw.vertices.at(0).color == shape.color) return shape.kind;
    }
    return "effect";
}

// Kinds in draw order, runs of model meshes counted ("model x7").
std::vector<std::string> frameKinds(const std::vector<RecordedDraw>& draws) {
    std::vector<std::string> kinds;
    u32 models = 0;
    for (std::size_t i = 0; i <= draws.size(); ++i) {
        const std::string kind = i < draws.size() ? kindOf(draws[i]) : "";
        if (kind == "model") {
            ++models;
            continue;
        }
        if (models > 0) kinds.push_back("model x" + std::to_string(models));
        models = 0;
        if (!kind.empty()) kinds.push_back(kind);
    }
    return kinds;
}

u32 visibleMeshes(const content::Model& model, std::string_view hidden) {
    return static_cast<u32>(std::count_if(model.meshes.begin(), model.meshes.end(), [&](const content::Mesh& mesh) {
        return hidden.empty() || mesh.name.find(hidden) == std::string::npos;
    }));
}

f32 fillWidth(const std::vector<RecordedDraw>& draws, std::size_t fill) {
    const auto& v = draws[fill].vertices;
    return std::hypot(v[1].position[0] - v[0].position[0], v[1].position[1] - v[0].position[1],
                      v[1].position[2] - v[0].position[2]);
}

TEST(SceneDrawing, DrawsGroundFightersEffectsAndBeamInOrder) {
    SceneFixture f;
    const u32 warriorMeshes = visibleMeshes(*f.slot(0).model, "CH01021101");
    const u32 templarMeshes = visibleMeshes(*f.slot(1).model, "");
    ASSERT_LT(warriorMeshes, f.slot(0).model->meshes.size());  // the spare weapon is there, and hidden

    f.drawFrame();
    const std::vector<std::string> quiet{"floor", "grid", "model x" + std::to_string(warriorMeshes), "bar", "fill",
                                         "model x" + std::to_string(templarMeshes), "bar", "fill", "target"};
    EXPECT_EQ(frameKinds(f.backend->draws), quiet);  // nothing after the fighters without effects and beam

    std::tie(f.slot(1).locked, f.slot(1).lockedSecondsLeft) = std::tuple(true, 5.0);
    f.scene.handleInput(press(key('3')));
    f.steps(6);
    f.scene.update(0.1);
    f.drawFrame();
    std::vector<std::string> kinds = frameKinds(f.backend->draws);
    std::vector<std::string> expected = quiet;
    expected.push_back("locked");
    ASSERT_GT(kinds.size(), expected.size() + 1);
    EXPECT_EQ(std::vector<std::string>(kinds.begin(), kinds.begin() + static_cast<std::ptrdiff_t>(expected.size())),
              expected);
    EXPECT_EQ(kinds.back(), "beam");

    // A fighter without maximum health shows an empty bar; a full one a full bar.
    f.slot(0).maxHealth = 0;
    f.drawFrame();
    const std::size_t firstFill = 3 + warriorMeshes;  // after floor, grid, meshes and bar
    EXPECT_NEAR(fillWidth(f.backend->draws, firstFill), render::kStatusMinFillWidth, 1e-6);
    EXPECT_NEAR(fillWidth(f.backend->draws, firstFill + templarMeshes + 2), render::kStatusTrackWidth, 1e-5);
}

TEST(SceneDrawing, MissingEffectTexturesSkipQuadsAndLeaveModelsUntextured) {
    for (const bool withTextures : {true, false}) {
        SCOPED_TRACE(withTextures ? "textures" : "no textures");
        const std::filesystem::path content = contentCopy();
        if (!withTextures) std::filesystem::remove_all(content / "effects/textures");
        SceneFixture f({}, content);
        const net::CombatEvent hit{1, 2, 1, 2, 1002, 155, 0};  // skill 2's hit: rings, models and quads
        f.scene.applyCombatEvents({&hit, 1});
        f.scene.update(0.1);
        f.drawFrame();
        u32 quads = 0, rings = 0, effectModels = 0, textured = 0;
        using enum effects::RenderType;
        for (const effects::EffectDrawItem& item : f.scene.effectSystem().drawItems()) {
            if (!item.visible) continue;
            quads += item.renderType == Quad || item.renderType == AdditiveQuad;
            rings += item.renderType == GroundMark;
            effectModels += item.renderType == Model;
        }
        ASSERT_GT(std::min({quads, effectModels, rings}), 0u);
        const std::vector<std::string> kinds = frameKinds(f.backend->draws);
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "effect"), (withTextures ? quads : 0) + rings);
        // Effect models come after both fighters' meshes; each is drawn with the catalogue's
        // texture when there is one, else with its own material (white).
        const std::size_t fighterMeshes = visibleMeshes(*f.slot(0).model, "CH01021101") + f.slot(1).model->meshes.size();
        u32 modelDraws = 0;
        for (const RecordedDraw& draw : f.backend->draws) {
            if (draw.call.vertexStrideBytes != sizeof(render::SkinnedVertex) || ++modelDraws <= fighterMeshes) continue;
            textured += draw.state.texture != f.renderer->Texture(render::kWhiteTexture).texture;
        }
        EXPECT_EQ(modelDraws - fighterMeshes, effectModels);
        EXPECT_EQ(textured, withTextures ? effectModels : 0);
    }
}

// Fighters are drawn alpha of the way from the previous step; the yaw turns the short way
// and the local fighter carries its correction offset.
TEST(SceneDrawing, AlphaPlacesFightersBetweenSteps) {
    SceneFixture f;
    f.steps(3);
    CharacterSlot& local = f.slot(0);
    CharacterSlot& remote = f.slot(1);
    local.previousPosition = {0.0f, 0.0f, 0.0f};
    local.position = {1.0f, 0.0f, 2.0f};
    local.previousCorrectionOffset = {0.4f, 0.0f, 0.0f};
    local.correctionOffset = {0.2f, 0.0f, 0.0f};
    remote.previousPosition = {5.0f, 0.0f, 5.0f};
    remote.position = {6.0f, 0.0f, 5.0f};
    remote.previousYawRadians = 3.1f;
    remote.yawRadians = -3.1f;
    remote.correctionOffset = {9.0f, 9.0f, 9.0f};  // only the local fighter's offset is drawn
    const struct { f64 alpha; Vec3 local; Vec3 remote; f32 remoteYaw; } cases[] = {
        {0.0, {0.4f, 0.0f, 0.0f}, {5.0f, 0.0f, 5.0f}, 3.1f}, {0.5, {0.8f, 0.0f, 1.0f}, {5.5f, 0.0f, 5.0f}, 3.14159265f},
        {1.0, {1.2f, 0.0f, 2.0f}, {6.0f, 0.0f, 5.0f}, 3.18318531f},
        {-2.0, {0.4f, 0.0f, 0.0f}, {5.0f, 0.0f, 5.0f}, 3.1f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.alpha);
        f.drawFrame(c.alpha);
        for (const auto& [drawn, expected] : {std::pair(local.lastDrawnPosition, c.local),
                                              std::pair(remote.lastDrawnPosition, c.remote)}) {
            EXPECT_NEAR(drawn.x, expected.x, 1e-6);
            EXPECT_NEAR(drawn.z, expected.z, 1e-6);
        }
        EXPECT_NEAR(remote.lastDrawnYawRadians, c.remoteYaw, 1e-5);
    }
    // At alpha 0 the pose is the previous step's.
    f.drawFrame(0.0);
    std::vector<content::Transform> expected(local.locals.size());
    content::sampleClip(*local.model, *local.animation.clip, 2 * kStep, true, expected);
    EXPECT_EQ(local.locals, expected);
}

}  // namespace
}  // namespace kestrune::scene
