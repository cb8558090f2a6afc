// The baked characters judged against what the scene needs of them: the presentation clip
// table, the draw constants (lift, yaw, hidden spare weapon), sound skins, and bytes that do
// not change from one bake to the next.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>

#include "bake.h"
#include "content/animation.h"
#include "content/content_test_support.h"
#include "content/kmdl_reader.h"
#include "content/skinning.h"
#include "winding_checks.h"

namespace kestrune::baker {
namespace {

using content::Matrix4;
using content::Model;

const std::vector<BakedFile>& baked() {
    static const std::vector<BakedFile> files = bakeContent();
    return files;
}

const Model& character(const std::string& directory) {
    static std::map<std::string, Model> models;
    if (!models.contains(directory)) {
        const std::string path = directory + "/character.kmdl";
        for (const BakedFile& file : baked()) {
            if (file.path == path) models.emplace(directory, content::parseModel(file.bytes, {}, path));
        }
    }
    return models.at(directory);
}

// What the scene does with each class: turn, lift and hidden meshes.
struct DrawConstants {
    const char* directory;
    f64 yawRadians;
    f64 liftMetres;
    const char* hiddenMesh;  // name fragment, or null
    const char* idleClip;
};
constexpr DrawConstants kClasses[] = {
    {"warrior", 3.14159265358979, 0.37, "CH01021101", "CH010301"},
    {"templar", 0.0, 0.155, nullptr, "idle"},
};

struct Point {
    f64 x = 0.0, y = 0.0, z = 0.0;
};

Point transformPoint(const Matrix4& m, Point p) {
    return {p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12], p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
            p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]};
}

// Where the scene puts a model-space point: turned about the vertical, then lifted.
Point drawn(const DrawConstants& draw, Point p) {
    const f64 c = std::cos(draw.yawRadians), s = std::sin(draw.yawRadians);
    return {c * p.x + s * p.z, p.y + draw.liftMetres, -s * p.x + c * p.z};
}

std::vector<Matrix4> posedGlobals(const Model& model, const std::string& clipName, f64 seconds, bool loop) {
    const content::AnimationClip* clip = content::findClip(model, clipName);
    if (clip == nullptr) {
        throw std::runtime_error("no clip " + clipName);
    }
    std::vector<content::Transform> locals(model.nodes.size());
    std::vector<Matrix4> globals(model.nodes.size());
    content::sampleClip(model, *clip, seconds, loop, locals);
    content::computeGlobalMatrices(model, locals, globals);
    return globals;
}

// Model-space positions of the visible meshes' vertices, skinned by the palette rule.
std::vector<Point> skinnedVertices(const Model& model, const std::vector<Matrix4>& globals, const char* hidden) {
    std::vector<Point> out;
    for (const content::Mesh& mesh : model.meshes) {
        if (hidden != nullptr && mesh.name.find(hidden) != std::string::npos) continue;
        std::vector<Matrix4> palette(model.skins[static_cast<std::size_t>(mesh.skin)].joints.size());
        content::computeSkinningPalette(model, mesh, globals, palette);
        for (const content::Vertex& v : mesh.vertices) {
            Point sum;
            for (std::size_t k = 0; k < 4; ++k) {
                if (v.weights[k] <= 0.0f) continue;
                const Point p = transformPoint(palette[v.joints[k]], {v.position[0], v.position[1], v.position[2]});
                sum = {sum.x + p.x * v.weights[k], sum.y + p.y * v.weights[k], sum.z + p.z * v.weights[k]};
            }
            out.push_back(transformPoint(globals[static_cast<std::size_t>(mesh.node)], sum));
        }
    }
    return out;
}

std::size_t nodeNamed(const Model& model, const std::string& name) {
    for (std::size_t i = 0; i < model.nodes.size(); ++i) {
        if (model.nodes[i].name == name) return i;
    }
    ADD_FAILURE() << "no node " << name;
    return 0;
}

Point jointPosition(const std::vector<Matrix4>& globals, std::size_t node) {
    return {globals[node][12], globals[node][13], globals[node][14]};
}

TEST(BakeContent, GivesIdenticalBytesOnEveryRunAndWritesThemWithTheirManifest) {
    const std::vector<BakedFile> again = bakeContent();
    ASSERT_EQ(again.size(), baked().size());
    for (std::size_t i = 0; i < again.size(); ++i) {
        SCOPED_TRACE(again[i].path);
        EXPECT_EQ(again[i].path, baked()[i].path);
        EXPECT_TRUE(again[i].bytes == baked()[i].bytes);
    }

    // A file the bake no longer makes goes; one outside its folders stays.
    const content::test::ScratchDirectory scratch;
    std::filesystem::create_directories(scratch.file("content/effects/textures"));
    scratch.write("content/effects/textures/old.png", content::test::bytesOf("stale"));
    scratch.write("content/notes.txt", content::test::bytesOf("mine"));
    std::ostringstream progress;
    writeContentDirectory(scratch.file("content"), baked(), progress);
    EXPECT_FALSE(std::filesystem::exists(scratch.file("content/effects/textures/old.png")));
    EXPECT_TRUE(std::filesystem::exists(scratch.file("content/notes.txt")));
    std::ostringstream expectedProgress;
    expectedProgress << "removed effects/textures/old.png\n";
    for (const BakedFile& file : baked()) {
        EXPECT_TRUE(content::test::readFile(scratch.file("content") / file.path) == file.bytes) << file.path;
        expectedProgress << file.path << " (" << file.bytes.size() << " bytes)\n";
    }
    const std::string manifest = manifestText(baked());
    expectedProgress << "MANIFEST (" << manifest.size() << " bytes)\n";
    EXPECT_EQ(progress.str(), expectedProgress.str());
    EXPECT_TRUE(content::test::readFile(scratch.file("content") / "MANIFEST") == content::test::bytesOf(manifest));
}

TEST(BakedCharacters, CarryEveryClipOfThePresentationTable) {
    const struct {
        const char* directory;
        const char* clip;
        bool loop;
        bool fall = false;  // ends lying on the ground instead of back in the idle
    } table[] = {
        {"warrior", "CH010301", true},  {"warrior", "CH010304", true},  {"warrior", "CH010305", true},
        {"warrior", "CH010306", false}, {"warrior", "CH010307", false}, {"warrior", "CH010308", false},
        {"warrior", "CH010309", false}, {"warrior", "CH010311", false}, {"warrior", "CH010356", false},
        {"warrior", "CH010321", false}, {"warrior", "CH010326", false}, {"templar", "idle", true},
        {"templar", "walk", true},      {"templar", "run", true},       {"templar", "attack_1", false},
        {"templar", "attack_2", false}, {"templar", "attack_3", false}, {"templar", "attack_4", false},
        {"templar", "jump", false},     {"warrior", "knockdown", false, true}, {"templar", "knockdown", false, true},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(std::string(row.directory) + " " + row.clip);
        const Model& model = character(row.directory);
        const content::AnimationClip* clip = content::findClip(model, row.clip);
        ASSERT_NE(clip, nullptr);
        EXPECT_EQ(clip->sampleRate, 30.0f);
        const std::size_t nodes = model.nodes.size();
        const auto frame = [&](u32 f) {
            return std::vector<content::Transform>(clip->samples.begin() + f * nodes,
                                                   clip->samples.begin() + (f + 1) * nodes);
        };
        const DrawConstants& draw = std::string(row.directory) == "warrior" ? kClasses[0] : kClasses[1];
        const std::vector<Matrix4> first = posedGlobals(model, row.clip, 0.0, row.loop);
        if (row.loop) {
            // Seamless: the last frame is the first, and the cycle does move.
            EXPECT_TRUE(frame(clip->frameCount - 1) == frame(0));
            f64 largestMove = 0.0;
            for (u32 f = 1; f + 1 < clip->frameCount; ++f) {
                const std::vector<Matrix4> later = posedGlobals(model, row.clip, f / 30.0, true);
                for (std::size_t n = 0; n < nodes; ++n) {
                    const Point a = jointPosition(first, n), b = jointPosition(later, n);
                    largestMove = std::max(largestMove, std::hypot(a.x - b.x, a.y - b.y, a.z - b.z));
                }
            }
            EXPECT_GT(largestMove, 0.01);
        } else {
            // An action starts and ends in the idle's first pose, so entering and leaving it
            // does not jump; a fall starts there too.
            const std::vector<Matrix4> idle = posedGlobals(model, draw.idleClip, 0.0, true);
            const std::vector<Matrix4> last = posedGlobals(model, row.clip, clip->duration, false);
            for (std::size_t n = 0; n < nodes; ++n) {
                const Point i = jointPosition(idle, n), s = jointPosition(first, n), e = jointPosition(last, n);
                EXPECT_LT(std::hypot(i.x - s.x, i.y - s.y, i.z - s.z), 0.03) << model.nodes[n].name;
                if (!row.fall) EXPECT_LT(std::hypot(i.x - e.x, i.y - e.y, i.z - e.z), 0.03) << model.nodes[n].name;
            }
        }
        if (row.fall) {
            // No joint passes through the ground on the way down, and the fall ends with the
            // hips and the head on it.
            for (u32 f = 0; f < clip->frameCount; ++f) {
                const std::vector<Matrix4> pose = posedGlobals(model, row.clip, f / 30.0, false);
                for (std::size_t n = 0; n < nodes; ++n) {
                    EXPECT_GT(drawn(draw, jointPosition(pose, n)).y, -0.03) << model.nodes[n].name << " frame " << f;
                }
            }
            const std::vector<Matrix4> last = posedGlobals(model, row.clip, clip->duration, false);
            for (const char* joint : {"hips", "head"}) {
                EXPECT_LT(drawn(draw, jointPosition(last, nodeNamed(model, joint))).y, 0.4) << joint;
            }
        }
    }
}

TEST(BakedCharacters, StandOnTheGroundFacingTheirYawOnceTheSceneLiftsAndTurnsThem) {
    for (const DrawConstants& draw : kClasses) {
        SCOPED_TRACE(draw.directory);
        const Model& model = character(draw.directory);
        const std::vector<Matrix4> globals = posedGlobals(model, draw.idleClip, 0.0, true);
        f64 lowest = 1e9;
        for (const Point& p : skinnedVertices(model, globals, draw.hiddenMesh)) {
            lowest = std::min(lowest, drawn(draw, p).y);
        }
        EXPECT_NEAR(lowest, 0.0, 0.02);
        // Yaw 0 faces +z: the toes lie ahead of the ankles.
        for (const char* side : {"_l", "_r"}) {
            const Point ankle = drawn(draw, jointPosition(globals, nodeNamed(model, std::string("foot") + side)));
            const Point toe = drawn(draw, jointPosition(globals, nodeNamed(model, std::string("toe") + side)));
            EXPECT_GT(toe.z - ankle.z, 0.08) << side;
        }
    }
}

TEST(BakedCharacters, SkinEveryVertexWithFourOrFewerWeightsSummingToOne) {
    for (const DrawConstants& draw : kClasses) {
        SCOPED_TRACE(draw.directory);
        const Model& model = character(draw.directory);
        ASSERT_EQ(model.skins.size(), 1u);
        EXPECT_GE(model.skins[0].joints.size(), 20u);
        std::size_t vertices = 0, blended = 0, spareWeapons = 0, blendedMaterials = 0;
        for (const content::Mesh& mesh : model.meshes) {
            SCOPED_TRACE(mesh.name);
            EXPECT_EQ(mesh.skin, 0);
            spareWeapons += mesh.name.find("CH01021101") != std::string::npos ? 1 : 0;
            for (const content::Vertex& v : mesh.vertices) {
                f64 sum = 0.0;
                std::size_t influences = 0;
                for (const f32 w : v.weights) {
                    EXPECT_GE(w, 0.0f);
                    sum += w;
                    influences += w > 0.0f ? 1 : 0;
                }
                EXPECT_NEAR(sum, 1.0, 1e-5);
                ++vertices;
                blended += influences > 1 ? 1 : 0;
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

TEST(BakedCharacters, WindEveryTriangleSoBackFaceCullingKeepsTheOutside) {
    for (const DrawConstants& draw : kClasses) {
        const Model& model = character(draw.directory);
        for (const content::Mesh& mesh : model.meshes) {
            SCOPED_TRACE(std::string(draw.directory) + " " + mesh.name);
            EXPECT_EQ(test::invertedTriangles(mesh), 0u);
        }
    }
}

}  // namespace
}  // namespace kestrune::baker
