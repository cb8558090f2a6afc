// Files the importer must refuse, each a small change to a valid skinned triangle, with the
// message that names the glTF element; and what it warns about and goes on.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "characters.h"
#include "content/content_test_support.h"
#include "gltf_import.h"
#include "gltf_test_support.h"

namespace kestrune::baker {
namespace {

using test::GltfDocument;

void importText(const std::string& text, const ClassDrawConstants* characterClass = nullptr) {
    importGltf(content::test::bytesOf(text), "/nonexistent", "t.gltf",
               {.characterClass = characterClass, .readExternalFiles = false});
}

nlohmann::json& primitive(GltfDocument& d) { return d.json["meshes"][0]["primitives"][0]; }

// Overwrites the bytes of accessor `index`'s element `element`, component `component`.
template <class T> void poke(GltfDocument& d, int index, std::size_t element, std::size_t component, T value) {
    const auto& accessor = d.json["accessors"][static_cast<std::size_t>(index)];
    const auto& view = d.json["bufferViews"][accessor["bufferView"].get<std::size_t>()];
    const std::size_t components = accessor["type"] == "SCALAR" ? 1 : accessor["type"] == "VEC3" ? 3 : 4;
    std::memcpy(d.buffer.data() + view["byteOffset"].get<std::size_t>() + (element * components + component) * sizeof(T),
                &value, sizeof(T));
}

TEST(GltfImportRefusals, NameTheElementAndWhatIsWrongWithIt) {
    // Accessors of the valid document: 0 positions, 1 indices, 2 joints, 3 weights, 4 inverse
    // bind matrices, 5 key times, 6 rotations. Every message starts "t.gltf: ".
    const struct {
        std::function<void(GltfDocument&)> change; std::string message;
        const ClassDrawConstants* characterClass = nullptr;
    } cases[] = {
        {[](auto& d) { primitive(d)["attributes"]["POSITION"] = 99; },
         "mesh 0 primitive 0 POSITION names accessor 99, but the file has 7"},
        {[](auto& d) { for (const int a : {0, 2, 3}) d.json["accessors"][a]["count"] = 4; },
         "mesh 0 primitive 0 POSITION: accessor 0 needs 4 elements of 12 bytes from offset 0, more than the 36 bytes "
         "of its buffer view"},
        {[](auto& d) { d.json["bufferViews"][6]["byteLength"] = 4096; },
         "buffer view 6 (4096 bytes at offset 240) lies outside buffer 0 of 272 bytes"},
        {[](auto& d) { poke<u16>(d, 1, 2, 0, 3); },
         "mesh 0 primitive 0: index 2 is 3, but the primitive has 3 vertices"},
        {[](auto& d) { d.json["accessors"][1]["count"] = 4'000'000'000u; },
         "mesh 0 primitive 0 indices: accessor 1 has 4000000000 elements, more than the 50331648 it may have"},
        {[](auto& d) { d.json["nodes"][1]["children"] = {0}; }, "node 0 is its own ancestor"},
        {[](auto& d) { d.json["nodes"][2]["children"] = {1}; }, "node 1 is a child of both node 0 and node 2"},
        {[](auto& d) { d.json["scenes"][0]["nodes"] = {0, 1, 2}; }, "scene 0 names node 1, which is a child of node 0"},
        {[](auto& d) { poke<f32>(d, 0, 1, 2, std::numeric_limits<f32>::quiet_NaN()); },
         "mesh 0 primitive 0 POSITION: accessor 0 element 1 is not finite"},
        {[](auto& d) { poke<u8>(d, 2, 1, 1, 70); },
         "mesh 0 primitive 0: JOINTS_0 names joint 70 of a skin with 2 joints"},
        {[](auto& d) { poke<f32>(d, 3, 2, 0, -1.0f); }, "mesh 0 primitive 0: WEIGHTS_0 of vertex 2 is negative"},
        {[](auto& d) { poke<f32>(d, 3, 0, 0, 0.0f); }, "mesh 0 primitive 0: vertex 0 has no joint weight"},
        {[](auto& d) { d.json["accessors"][2]["componentType"] = 5126; },
         "mesh 0 primitive 0 JOINTS_0: accessor 2 holds floats, not unsigned bytes or unsigned shorts"},
        {[](auto& d) { d.json["nodes"][0]["matrix"] = {1, 0, 0, 0, 0.5, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; },
         "node 0: matrix shears, so it is not a translation, rotation and scale"},
        {[](auto& d) { d.json["nodes"][0]["matrix"] = {1, 0, 0, 0.5, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; },
         "node 0: matrix is a projection, not a translation, rotation and scale"},
        {[](auto& d) { d.json["nodes"][1]["translation"] = {0, 1e39, 0}; },
         "node 1: transform does not fit single precision"},
        {[](auto& d) { d.json["nodes"][1]["rotation"] = {0, 0, 0, 0}; },
         "node 1: rotation is not a unit quaternion (length 0)"},
        {[](auto& d) { primitive(d)["mode"] = 1; },
         "mesh 0 primitive 0 draws lines (mode 1); the importer takes triangles (mode 4) only"},
        {[](auto& d) { d.json["accessors"][1]["count"] = 2; }, "mesh 0 primitive 0 has 2 indices, not whole triangles"},
        {[](auto& d) { primitive(d)["attributes"] = {{"POSITION", 0}}; },
         "mesh 0 primitive 0 is drawn with a skin but has no JOINTS_0 and WEIGHTS_0"},
        {[](auto& d) { d.json["skins"][0]["joints"] = {0, 0}; }, "skin 0 names node 0 twice, as joints 0 and 1"},
        {[](auto& d) { d.json["extensionsUsed"] = d.json["extensionsRequired"] = {"KHR_draco_mesh_compression"}; },
         "the file requires extension KHR_draco_mesh_compression, which the importer does not support"},
        {[](auto& d) { poke<f32>(d, 5, 1, 0, -1.0f); }, "animation 0 sampler 0 input goes back in time at key 1"},
        {[](auto& d) { poke<f32>(d, 5, 1, 0, 1e9f); },
         "animation 0 lasts 1e+09 s, more than the 1000000 frames a clip may hold at 30 Hz"},
        {[](auto& d) { d.json["animations"][0]["samplers"][0]["interpolation"] = "CUBICSPLINE"; },
         "animation 0 sampler 0 output has 2 values for 2 keys; a cubic spline needs three per key"},
        {[](auto& d) { d.json["animations"][0]["channels"][0]["target"]["node"] = 9; },
         "animation 0 channel 0 targets node 9, but the file has 3 nodes"},
        {[](auto&) {}, "the warrior needs its idle clip CH010301: map it with --clip=CH010301=SOURCE (the file's "
                       "animations: \"Idle\")", &kWarriorDraw},
    };
    for (const auto& c : cases) {
        GltfDocument document = test::skinnedTriangle();
        c.change(document);
        const std::string message = "t.gltf: " + c.message;
        content::test::expectError<ImportError>([&] { importText(document.text(), c.characterClass); }, message);
    }
    content::test::expectError<ImportError>([] { importText("{\"asset\": "); },
                                            "t.gltf: [json.exception.parse_error.101] parse error at line 1, column "
                                            "11: syntax error while parsing value - unexpected end of input; "
                                            "expected '[', '{', or a literal");
}

TEST(GltfImportWarnings, ListWhatTheRuntimeCannotShowAndKeepTheFourLargestInfluences) {
    GltfDocument d = test::skinnedTriangle();
    auto& attributes = primitive(d)["attributes"];
    attributes["TEXCOORD_1"] = d.accessor(std::vector<f32>(6, 0.5f), 5126, "VEC2", 3);
    // Vertex 0: four influences in the first set and a fifth, as large as the smallest, in the second.
    attributes["JOINTS_0"] = d.accessor(std::vector<u8>{0, 1, 0, 1, 0, 1, 0, 0, 1, 0, 0, 0}, 5121, "VEC4", 3);
    attributes["WEIGHTS_0"] =
        d.accessor(std::vector<f32>{0.4f, 0.3f, 0.2f, 0.05f, 0.5f, 0.5f, 0, 0, 1, 0, 0, 0}, 5126, "VEC4", 3);
    attributes["JOINTS_1"] = d.accessor(std::vector<u8>(12, 1), 5121, "VEC4", 3);
    attributes["WEIGHTS_1"] = d.accessor(std::vector<f32>{0.05f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 5126, "VEC4", 3);
    primitive(d)["targets"] = {{{"POSITION", 0}}};
    d.json["cameras"] = {{{"type", "perspective"}, {"perspective", {{"yfov", 1.0}, {"znear", 0.1}}}}};
    d.json["nodes"][0]["camera"] = 0;
    d.json["nodes"].push_back({{"name", "outside"}});
    d.json["extensionsUsed"] = {"EXT_unknown"};
    d.json["animations"][0]["channels"].push_back({{"sampler", 0}, {"target", {{"node", 2}, {"path", "weights"}}}});

    const ImportedCharacter imported = importGltf(content::test::bytesOf(d.text()), "/nonexistent", "t.gltf", {});
    EXPECT_EQ(imported.warnings, (std::vector<std::string>{
        "extension EXT_unknown is ignored", "the file has cameras (1), which the runtime does not use",
        "nodes outside the scene (1 of 4) are left out", "node 0 carries a camera, which the runtime does not use",
        "mesh 0 primitive 0 has a second UV set (TEXCOORD_1), which the runtime does not use",
        "mesh 0 primitive 0 has morph targets (1), which the runtime does not show",
        "mesh 0 primitive 0: vertices with more than four joint influences (1) keep the four largest",
        "animation 0 animates morph target weights, which the runtime does not show"}));
    EXPECT_EQ(imported.model.nodes.size(), 3u);
    const content::Vertex& v = imported.model.meshes[0].vertices[0];
    EXPECT_EQ(v.joints, (std::array<u16, 4>{0, 1, 0, 1}));
    content::test::expectNear(v.weights, {0.4f / 0.95f, 0.3f / 0.95f, 0.2f / 0.95f, 0.05f / 0.95f}, 1e-6f);
}

}  // namespace
}  // namespace kestrune::baker
