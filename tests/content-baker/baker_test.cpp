// The baked characters judged against what the scene needs of them: the presentation clip
// table, the draw constants (lift, yaw, hidden spare weapon), sound skins, and bytes that do
// not change from one bake to the next.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <numeric>
#include <sstream>
#include <string>

#include "bake.h"
#include "font_baking.h"
#include "content/animation.h"
#include "content/content_test_support.h"
#include "content/kmdl_reader.h"
#include "model_checks.h"

namespace kestrune::baker {
namespace {

using content::Matrix4;
using content::Model;
using namespace test;  // the suite's model checks

const std::vector<BakedFile>& baked() {
    static const std::vector<BakedFile> files = bakeContent();
    return files;
}

// Each baked character parsed once for the whole suite.
const Model& character(const std::string& directory) {
    static std::map<std::string, Model> parsed;
    const std::string path = directory + "/character.kmdl";
    if (const auto found = parsed.find(path); found != parsed.end()) return found->second;
    return parsed.emplace(path, content::parseModel(bakedFile(baked(), path).bytes, {}, path)).first->second;
}

// What the scene does with each class: turn, lift and hidden meshes.
// hiddenMesh: a name fragment, or null.
struct DrawConstants {
    const char* directory; f64 yawRadians; f64 liftMetres; const char* hiddenMesh; const char* idleClip;
};
constexpr DrawConstants kClasses[] = {
    {"warrior", 3.14159265358979, 0.37, "CH01021101", "CH010301"}, {"templar", 0.0, 0.155, nullptr, "idle"}};

Point drawn(const DrawConstants& draw, const Point& p) { return test::drawn(draw.yawRadians, draw.liftMetres, p); }

TEST(BakeContent, GivesIdenticalBytesOnEveryRunAndWritesThemWithTheirManifest) {
    // The manifest lists every file's path, size and SHA-256.
    EXPECT_EQ(manifestText(bakeContent()), manifestText(baked()));

    // A file the bake no longer makes goes; one outside its folders stays.
    const content::test::ScratchDirectory scratch;
    std::filesystem::create_directories(scratch.file("content/effects/textures"));
    scratch.write("content/effects/textures/old.png", content::test::bytesOf("stale"));
    std::filesystem::create_directories(scratch.file("content/sounds"));
    scratch.write("content/sounds/old.wav", content::test::bytesOf("stale"));
    scratch.write("content/notes.txt", content::test::bytesOf("mine"));
    std::ostringstream progress;
    writeContentDirectory(scratch.file("content"), baked(), progress);
    EXPECT_EQ(std::tuple(std::filesystem::exists(scratch.file("content/effects/textures/old.png")),
                         std::filesystem::exists(scratch.file("content/sounds/old.wav")),
                         std::filesystem::exists(scratch.file("content/notes.txt"))), std::tuple(false, false, true));
    std::ostringstream expectedProgress("removed effects/textures/old.png\nremoved sounds/old.wav\n", std::ios::ate);
    // The bytes written, MANIFEST included, are the baked-content suite's, on the directory the build bakes.
    for (const BakedFile& file : baked()) expectedProgress << file.path << " (" << file.bytes.size() << " bytes)\n";
    expectedProgress << "MANIFEST (" << manifestText(baked()).size() << " bytes)\n";
    EXPECT_EQ(progress.str(), expectedProgress.str());
}

TEST(FontBaking, NamesAMissingFontAndThePackageThatInstallsIt) {
    content::test::expectError<std::runtime_error>([] { bakeFont({"/nonexistent/Missing.ttf", "fonts-missing"}); },
        "The font /nonexistent/Missing.ttf is missing; it comes with the package fonts-missing (scripts/bootstrap "
        "installs it).");
}

TEST(BakedCharacters, CarryEveryClipOfThePresentationTable) {
    // fall: the clip ends lying on the ground instead of back in the idle
    const struct { const char* directory; const char* clip; bool loop = false; bool fall = false; } table[] = {
        {"warrior", "CH010301", true}, {"warrior", "CH010304", true}, {"warrior", "CH010305", true},
        {"warrior", "CH010306"}, {"warrior", "CH010307"}, {"warrior", "CH010308"}, {"warrior", "CH010309"},
        {"warrior", "CH010311"}, {"warrior", "CH010356"}, {"warrior", "CH010321"}, {"warrior", "CH010326"},
        {"templar", "idle", true}, {"templar", "walk", true}, {"templar", "run", true}, {"templar", "jump"},
        {"templar", "attack_1"}, {"templar", "attack_2"}, {"templar", "attack_3"}, {"templar", "attack_4"},
        {"warrior", "knockdown", false, true}, {"templar", "knockdown", false, true}};
    for (const auto& row : table) {
        SCOPED_TRACE(std::string(row.directory) + " " + row.clip);
        const Model& model = character(row.directory);
        const content::AnimationClip* clip = content::findClip(model, row.clip);
        ASSERT_NE(clip, nullptr);
        EXPECT_EQ(clip->sampleRate, 30.0f);
        const std::size_t nodes = model.nodes.size();
        const DrawConstants& draw = std::string(row.directory) == "warrior" ? kClasses[0] : kClasses[1];
        const std::vector<Matrix4> first = posedGlobals(model, row.clip, 0.0, row.loop);
        const std::vector<Matrix4> last = posedGlobals(model, row.clip, clip->duration, row.loop);
        if (row.loop) {
            // Seamless: the last frame is the first, and the cycle does move.
            const auto lastFrame = clip->samples.end() - static_cast<long>(nodes);
            EXPECT_TRUE(std::equal(lastFrame, clip->samples.end(), clip->samples.begin()));
            f64 largestMove = 0.0;
            for (u32 f = 1; f + 1 < clip->frameCount; ++f) {
                const std::vector<Matrix4> later = posedGlobals(model, row.clip, f / 30.0, true);
                for (std::size_t n = 0; n < nodes; ++n) {
                    largestMove = std::max(largestMove, distance(jointPosition(first, n), jointPosition(later, n)));
                }
            }
            EXPECT_GT(largestMove, 0.01);
        } else {
            // An action starts and ends in the idle's first pose, so entering and leaving it
            // does not jump; a fall starts there too.
            const std::vector<Matrix4> idle = posedGlobals(model, draw.idleClip, 0.0, true);
            for (std::size_t n = 0; n < nodes; ++n) {
                const Point i = jointPosition(idle, n);
                EXPECT_LT(distance(i, jointPosition(first, n)), 0.03) << model.nodes[n].name;
                if (!row.fall) EXPECT_LT(distance(i, jointPosition(last, n)), 0.03) << model.nodes[n].name;
            }
        }
        if (row.fall) {
            // No joint passes through the ground on the way down, and the fall ends with the
            // hips and the head on it.
            for (u32 f = 0; f < clip->frameCount; ++f) {
                const std::vector<Matrix4> pose = posedGlobals(model, row.clip, f / 30.0, false);
                for (std::size_t n = 0; n < nodes; ++n) {
                    EXPECT_GT(drawn(draw, jointPosition(pose, n))[1], -0.03) << model.nodes[n].name << " frame " << f;
                }
            }
            for (const char* joint : {"hips", "head"}) {
                EXPECT_LT(drawn(draw, jointPosition(last, nodeNamed(model, joint)))[1], 0.4) << joint;
            }
        }
    }
}

// Each class as the scene draws it: standing on the ground facing its yaw, every vertex
// skinned by at most four weights summing to one, and every triangle wound for culling.
TEST(BakedCharacters, StandFacingTheirYawSkinnedSmoothlyAndWoundForCulling) {
    for (const DrawConstants& draw : kClasses) {
        SCOPED_TRACE(draw.directory);
        const Model& model = character(draw.directory);
        const std::vector<Matrix4> globals = posedGlobals(model, draw.idleClip, 0.0, true);
        f64 lowest = 1e9;
        for (const Point& p : skinnedPositions(model, globals, draw.hiddenMesh)) {
            lowest = std::min(lowest, drawn(draw, p)[1]);
        }
        EXPECT_NEAR(lowest, 0.0, 0.02);
        // Yaw 0 faces +z: the toes lie ahead of the ankles.
        for (const std::string side : {"_l", "_r"}) {
            const Point ankle = drawn(draw, jointPosition(globals, nodeNamed(model, "foot" + side)));
            const Point toe = drawn(draw, jointPosition(globals, nodeNamed(model, "toe" + side)));
            EXPECT_GT(toe[2] - ankle[2], 0.08) << side;
        }
        ASSERT_EQ(model.skins.size(), 1u);
        EXPECT_GE(model.skins[0].joints.size(), 20u);
        std::size_t vertices = 0, blended = 0, spareWeapons = 0, blendedMaterials = 0;
        for (const content::Mesh& mesh : model.meshes) {
            SCOPED_TRACE(mesh.name);
            EXPECT_EQ(std::tuple(mesh.skin, invertedTriangles(mesh)), std::tuple(0, 0u));
            spareWeapons += mesh.name.find("CH01021101") != std::string::npos ? 1 : 0;
            vertices += mesh.vertices.size();
            for (const content::Vertex& v : mesh.vertices) {
                EXPECT_NEAR(std::accumulate(v.weights.begin(), v.weights.end(), 0.0), 1.0, 1e-5);
                blended += std::ranges::count_if(v.weights, [](f32 w) { return w > 0.0f; }) > 1 ? 1 : 0;
            }
        }
        for (const content::Material& material : model.materials) {
            EXPECT_FALSE(material.texture.empty()) << material.name;
            blendedMaterials += material.alphaMode == content::kAlphaBlended ? 1 : 0;
        }
        // Smooth skins: cloth and limbs bend over several joints, not only rigid plates.
        EXPECT_GT(blended * 10, vertices);
        EXPECT_GE(blendedMaterials, 1u);
        EXPECT_EQ(spareWeapons, draw.hiddenMesh != nullptr ? 1u : 0u);
    }
}

}  // namespace
}  // namespace kestrune::baker
