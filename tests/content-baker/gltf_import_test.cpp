// The glTF importer against the three skinned samples and small documents built here: the
// runtime decodes what it writes with the glTF's counts, skins it to where the glTF's own
// data puts every vertex, stands it on the ground facing as its class must, and resamples
// every interpolation as glTF defines it.

#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <numeric>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "characters.h"
#include "content/animation.h"
#include "content/content_test_support.h"
#include "content/kmdl_reader.h"
#include "content/png.h"
#include "gltf_import.h"
#include "gltf_test_support.h"
#include "image.h"
#include "png_encoder.h"
#include "model_checks.h"

namespace kestrune::baker {
namespace {

using content::test::bytesOf;
using content::test::ScratchDirectory;
using test::GltfDocument;

tinygltf::Model readGltf(const std::filesystem::path& path) {
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader([](tinygltf::Image*, int, std::string*, std::string*, int, int, const unsigned char*, int,
                             void*) { return true; }, nullptr);
    tinygltf::Model document;
    std::string err, warn;
    EXPECT_TRUE(path.extension() == ".glb" ? loader.LoadBinaryFromFile(&document, &err, &warn, path.string())
                                           : loader.LoadASCIIFromFile(&document, &err, &warn, path.string())) << err;
    return document;
}

// ---- The glTF's own answer, in double precision ----

// Column-vector 4 x 4 matrices, column-major as glTF stores them.
using Mat = std::array<f64, 16>;

Mat multiply(const Mat& a, const Mat& b) {
    Mat r{};
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row)
            for (int k = 0; k < 4; ++k) r[c * 4 + row] += a[k * 4 + row] * b[c * 4 + k];
    return r;
}

// The 16 values from `first` on as a matrix.
Mat matrixAt(const std::vector<f64>& values, std::size_t first) {
    Mat m;
    std::copy_n(values.begin() + static_cast<long>(first), 16, m.begin());
    return m;
}

template <class T> f64 load(const u8* p) {
    T value;
    std::memcpy(&value, p, sizeof(T));
    return static_cast<f64>(value);
}

// Accessor `index` as doubles, whatever its component type; normalised integers stay raw (the
// oracle divides weights by their sum).
std::vector<f64> readAny(const tinygltf::Model& d, int index) {
    const tinygltf::Accessor& a = d.accessors[static_cast<std::size_t>(index)];
    const tinygltf::BufferView& v = d.bufferViews[static_cast<std::size_t>(a.bufferView)];
    const auto size = static_cast<std::size_t>(tinygltf::GetComponentSizeInBytes(static_cast<u32>(a.componentType)));
    const auto components = static_cast<std::size_t>(tinygltf::GetNumComponentsInType(static_cast<u32>(a.type)));
    const std::size_t stride = v.byteStride != 0 ? v.byteStride : size * components;
    const u8* first = d.buffers[static_cast<std::size_t>(v.buffer)].data.data() + v.byteOffset + a.byteOffset;
    const auto decode = size == 1 ? load<u8> : size == 2 ? load<u16>
                      : a.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT ? load<f32> : load<u32>;
    std::vector<f64> out;
    for (std::size_t i = 0; i < a.count * components; ++i) {
        out.push_back(decode(first + i / components * stride + i % components * size));
    }
    return out;
}

// The local matrix of node n at `seconds`: its TRS (or matrix) with the animation's LINEAR
// channels laid over it.
Mat localMatrix(const tinygltf::Model& d, int n, f64 seconds) {
    const tinygltf::Node& node = d.nodes[static_cast<std::size_t>(n)];
    if (node.matrix.size() == 16) return matrixAt(node.matrix, 0);
    std::vector<f64> t = node.translation.empty() ? std::vector<f64>{0, 0, 0} : node.translation;
    std::vector<f64> r = node.rotation.empty() ? std::vector<f64>{0, 0, 0, 1} : node.rotation;
    std::vector<f64> s = node.scale.empty() ? std::vector<f64>{1, 1, 1} : node.scale;
    for (const tinygltf::AnimationChannel& channel : d.animations[0].channels) {
        if (channel.target_node != n) continue;
        const tinygltf::AnimationSampler& sampler = d.animations[0].samplers[static_cast<std::size_t>(channel.sampler)];
        EXPECT_EQ(sampler.interpolation, "LINEAR");
        const std::vector<f64> times = readAny(d, sampler.input), values = readAny(d, sampler.output);
        const std::size_t n3 = channel.target_path == "rotation" ? 4 : 3;
        std::size_t k = 0;
        while (k + 1 < times.size() && times[k + 1] <= seconds) ++k;
        const f64 u = k + 1 < times.size() && seconds > times[k]
                          ? std::min(1.0, (seconds - times[k]) / (times[k + 1] - times[k])) : 0.0;
        const std::size_t k1 = std::min(k + 1, times.size() - 1);
        const std::span<const f64> a(values.data() + k * n3, n3), b(values.data() + k1 * n3, n3);
        // Translations and scales straight from key to key (angle 0), rotations by slerp the shorter way round.
        const f64 dot = n3 == 4 ? std::inner_product(a.begin(), a.end(), b.begin(), 0.0) : 1.0;
        const f64 angle = std::acos(std::min(1.0, std::fabs(dot)));
        const f64 wa = angle < 1e-9 ? 1 - u : std::sin((1 - u) * angle) / std::sin(angle);
        const f64 wb = (angle < 1e-9 ? u : std::sin(u * angle) / std::sin(angle)) * (dot < 0 ? -1 : 1);
        std::vector<f64> v(n3);
        for (std::size_t i = 0; i < n3; ++i) v[i] = wa * a[i] + wb * b[i];
        (channel.target_path == "translation" ? t : channel.target_path == "rotation" ? r : s) = v;
    }
    const f64 l = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2] + r[3] * r[3]);
    const f64 x = r[0] / l, y = r[1] / l, z = r[2] / l, w = r[3] / l;
    return {(1 - 2 * (y * y + z * z)) * s[0], (2 * (x * y + z * w)) * s[0], (2 * (x * z - y * w)) * s[0], 0,
            (2 * (x * y - z * w)) * s[1], (1 - 2 * (x * x + z * z)) * s[1], (2 * (y * z + x * w)) * s[1], 0,
            (2 * (x * z + y * w)) * s[2], (2 * (y * z - x * w)) * s[2], (1 - 2 * (x * x + y * y)) * s[2], 0,
            t[0], t[1], t[2], 1};
}

// Every node's global matrix at `seconds`, walked down from the scene's roots.
std::vector<Mat> globalMatrices(const tinygltf::Model& d, f64 seconds) {
    std::vector<Mat> globals(d.nodes.size());
    const std::function<void(int, const Mat&)> place = [&](int n, const Mat& parent) {
        const Mat& global = globals[static_cast<std::size_t>(n)] = multiply(parent, localMatrix(d, n, seconds));
        for (const int c : d.nodes[static_cast<std::size_t>(n)].children) place(c, global);
    };
    for (const int root : d.scenes[0].nodes) place(root, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    return globals;
}

// Every vertex of every skinned primitive, in the order the importer writes meshes.
std::vector<std::array<f64, 3>> gltfSkinnedPositions(const tinygltf::Model& d, f64 seconds) {
    const std::vector<Mat> globals = globalMatrices(d, seconds);
    std::vector<std::array<f64, 3>> out;
    for (const tinygltf::Node& node : d.nodes) {
        if (node.mesh < 0) continue;
        const tinygltf::Skin& skin = d.skins[static_cast<std::size_t>(node.skin)];
        const std::vector<f64> ibm = readAny(d, skin.inverseBindMatrices);
        std::vector<Mat> jointMatrices;
        for (std::size_t j = 0; j < skin.joints.size(); ++j) {
            jointMatrices.push_back(multiply(globals[static_cast<std::size_t>(skin.joints[j])], matrixAt(ibm, j * 16)));
        }
        for (const tinygltf::Primitive& p : d.meshes[static_cast<std::size_t>(node.mesh)].primitives) {
            const std::vector<f64> positions = readAny(d, p.attributes.at("POSITION"));
            const std::vector<f64> joints = readAny(d, p.attributes.at("JOINTS_0"));
            const std::vector<f64> weights = readAny(d, p.attributes.at("WEIGHTS_0"));
            for (std::size_t v = 0; v * 3 < positions.size(); ++v) {
                // The joint matrices blended by the weights over their sum.
                const auto vertexWeights = std::span(weights).subspan(v * 4, 4);
                const f64 total = std::accumulate(vertexWeights.begin(), vertexWeights.end(), 0.0);
                Mat blended{};
                for (std::size_t k = 0; k < 4; ++k) {
                    const Mat& joint = jointMatrices[static_cast<std::size_t>(joints[v * 4 + k])];
                    for (std::size_t i = 0; i < 16; ++i) blended[i] += vertexWeights[k] / total * joint[i];
                }
                out.push_back(test::transformPoint(blended, test::Point{positions[3 * v], positions[3 * v + 1],
                                                                        positions[3 * v + 2]}));
            }
        }
    }
    return out;
}

// The samples, and the skinned triangle built here in five forms: as a .glb with weights as
// normalised unsigned bytes, with normalised unsigned shorts, under a joint whose matrix
// mirrors with unequal scales under a quarter turn (the mirror must be split off before the
// axes are normalised), and with positions interleaved with normals in one strided buffer
// view. Each loads through the runtime decoder with the glTF's counts, skins like the glTF's
// own answer, has unit normals and winds its triangles as the renderer culls them.
TEST(GltfImportSamples, LoadSkinAndWindLikeTheGltf) {
    const ScratchDirectory scratch;
    const std::filesystem::path samples = content::test::kTestData / "gltf";
    std::vector<std::filesystem::path> files{samples / "CesiumMan.gltf", samples / "RiggedFigure.gltf",
                                             samples / "RiggedSimple.gltf"};
    const auto add = [&](const std::string& name, const std::string& bytes) {
        files.push_back(scratch.write(name, bytesOf(bytes)));
    };
    const auto weighted = [](const auto& weights, int componentType) {
        GltfDocument d = test::skinnedTriangle();
        const int a = d.accessor(weights, componentType, "VEC4", 3);
        d.json["accessors"][static_cast<std::size_t>(a)]["normalized"] = true;
        d.json["meshes"][0]["primitives"][0]["attributes"]["WEIGHTS_0"] = a;
        return d;
    };
    add("bytes.glb", test::glb(weighted(std::vector<u8>{255, 0, 0, 0, 128, 128, 0, 0, 255, 0, 0, 0}, 5121)));
    add("shorts.gltf", weighted(std::vector<u16>{65535, 0, 0, 0, 30000, 30000, 0, 0, 65535, 0, 0, 0}, 5123).text());
    GltfDocument mirror = test::skinnedTriangle();
    mirror.json["nodes"][0]["matrix"] = {0, -1.5, 0, 0, -2, 0, 0, 0, 0, 0, 0.5, 0, 0.5, 1, 0, 1};
    add("mirror.gltf", mirror.text());
    GltfDocument interleaved = test::skinnedTriangle();
    const int both = interleaved.accessor(std::vector<f32>{0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 2, 0, 0, 0, 1},
                                          5126, "VEC3", 3);
    interleaved.json["bufferViews"].back()["byteStride"] = 24;
    interleaved.json["accessors"].push_back(interleaved.json["accessors"][static_cast<std::size_t>(both)]);
    interleaved.json["accessors"].back()["byteOffset"] = 12;
    interleaved.json["meshes"][0]["primitives"][0]["attributes"].update({{"POSITION", both}, {"NORMAL", both + 1}});
    add("interleaved.gltf", interleaved.text());
    for (const std::filesystem::path& file : files) {
        const std::string name = file.stem().string();
        SCOPED_TRACE(name);
        const tinygltf::Model d = readGltf(file);
        // Imported and written as a character directory, then loaded as the runtime does.
        std::ostringstream progress;
        importCharacterFile(file, scratch.file(name), {}, progress);
        const content::Model model = content::loadModelFile(scratch.file(name) / kImportedModelName, {});
        std::size_t primitives = 0;
        for (const tinygltf::Mesh& m : d.meshes) primitives += m.primitives.size();
        ASSERT_EQ(std::tuple(model.skins.size(), model.meshes.size()), std::tuple(d.skins.size(), primitives));
        const tinygltf::Primitive& p = d.meshes[0].primitives[0];
        const auto count = [&](int accessor) { return d.accessors[static_cast<std::size_t>(accessor)].count; };
        const content::Mesh& first = model.meshes[0];
        EXPECT_EQ(std::tuple(model.skins[0].joints.size(), first.vertices.size(), first.indices.size()),
                  std::tuple(d.skins[0].joints.size(), count(p.attributes.at("POSITION")), count(p.indices)));
        // Without a material in the file the importer adds a default one.
        EXPECT_EQ(std::tuple(model.nodes.size(), model.clips.size(), model.materials.size()),
                  std::tuple(d.nodes.size(), d.animations.size(), std::max<std::size_t>(d.materials.size(), 1)));
        for (std::size_t n = 0; n < d.nodes.size(); ++n) EXPECT_EQ(model.nodes[n].name, d.nodes[n].name);

        const content::AnimationClip& clip = model.clips.at(0);
        // The model's size: its farthest vertex from the origin in the first frame.
        f64 size = 0.0;
        for (const test::Point& p : gltfSkinnedPositions(d, 0.0)) size = std::max(size, std::hypot(p[0], p[1], p[2]));
        f64 worst = 0.0;
        // Frame times: between frames the runtime interpolates its own samples.
        for (const f64 seconds : {0.0, 0.5, 1.0, static_cast<f64>(clip.duration)}) {
            const auto expected = gltfSkinnedPositions(d, seconds);
            const auto actual = test::skinnedPositions(model, test::posedGlobals(model, clip.name, seconds));
            ASSERT_EQ(actual.size(), expected.size());
            for (std::size_t v = 0; v < actual.size(); ++v) {
                // The importer mirrors x into the runtime's left-handed frame.
                worst = std::max(worst, std::hypot(actual[v][0] + expected[v][0], actual[v][1] - expected[v][1],
                                                   actual[v][2] - expected[v][2]));
            }
        }
        EXPECT_LT(worst, 1e-3 * size) << "the largest error against a size of " << size;

        // glTF's counter-clockwise front faces, mirrored into the left-handed frame, keep the
        // renderer's winding rule. Exporters' normals are smoothed, so a few sliver triangles
        // may disagree.
        std::size_t inverted = 0, triangles = 0;
        for (const content::Mesh& mesh : model.meshes) {
            inverted += test::invertedTriangles(mesh);
            triangles += mesh.indices.size() / 3;
            for (const content::Vertex& v : mesh.vertices) {
                ASSERT_NEAR(std::hypot(v.normal[0], v.normal[1], v.normal[2]), 1.0, 1e-5);
            }
        }
        EXPECT_LT(inverted * 100, triangles) << inverted << " of " << triangles;
        if (name != "CesiumMan") continue;
        // Its embedded JPEG, written as PNG: a photograph-like texture, many colours, all opaque.
        const content::DecodedImage texture = content::loadPngImage(scratch.file(name) / "texture_0.png", {});
        EXPECT_EQ(std::tuple(texture.width, texture.height), std::tuple(1024u, 1024u));
        std::set<u32> colours;
        for (std::size_t i = 0; i < texture.pixels.size(); i += 4) {
            colours.insert(u32{texture.pixels[i]} << 16 | u32{texture.pixels[i + 1]} << 8 | texture.pixels[i + 2]);
            ASSERT_EQ(texture.pixels[i + 3], 255);
        }
        EXPECT_GT(colours.size(), 100u);
    }
}

// ---- Classes: the clip table ----

TEST(GltfImportClasses, NameEveryClipOfTheTableFromTheMappingsOrTheIdle) {
    GltfDocument document = test::skinnedTriangle();
    document.json["animations"].push_back(document.json["animations"][0]);
    document.json["animations"][1]["name"] = "Run";
    document.json["animations"][1]["samplers"][0]["interpolation"] = "STEP";
    const std::string text = document.text();
    ImportOptions options{.characterClass = &kTemplarDraw, .clips = {{"idle", "Idle"}, {"run", "#1"}}};
    const content::Model model = importGltf(bytesOf(text), ".", "t.gltf", options).model;
    ASSERT_EQ(model.clips.size(), kTemplarClipNames.size());
    const content::AnimationClip* idle = content::findClip(model, "idle");
    const content::AnimationClip* run = content::findClip(model, "run");
    ASSERT_TRUE(idle != nullptr && run != nullptr);
    EXPECT_NE(idle->samples, run->samples);
    for (std::size_t i = 0; i < kTemplarClipNames.size(); ++i) {
        SCOPED_TRACE(kTemplarClipNames[i]);
        EXPECT_EQ(model.clips[i].name, kTemplarClipNames[i]);
        if (std::string(kTemplarClipNames[i]) != "run") EXPECT_EQ(model.clips[i].samples, idle->samples);
    }
    // The knock-down clip is left out unless an animation is mapped to it (or carries its name).
    EXPECT_EQ(content::findClip(model, kKnockDownClipName), nullptr);
    options.clips.push_back({kKnockDownClipName, "Run"});
    const content::Model mapped = importGltf(bytesOf(text), ".", "t.gltf", options).model;
    ASSERT_EQ(mapped.clips.size(), kTemplarClipNames.size() + 1);
    EXPECT_EQ(std::tuple(mapped.clips.back().name, mapped.clips.back().samples),
              std::tuple(kKnockDownClipName, content::findClip(mapped, "run")->samples));
}

// ---- Resampling and materials, on documents built here ----

TEST(GltfImportResampling, FollowsStepLinearAndCubicSplineCurves) {
    // Keys at 0 and 2 s, x from 2 to 4 (translation x is mirrored: the clip holds -x).
    // Cubic keys: in-tangent, value, out-tangent; out-tangent 3 per second at key 0, so 6 over
    // the 2 s between the keys, and in-tangent 0 at key 1.
    // expected: frames at 0, 0.5, 1, 1.5, 2 s
    const struct { const char* interpolation; std::vector<f32> output; std::vector<f32> expected; } cases[] = {
        {"STEP", {2, 0, 0, 4, 0, 0}, {2, 2, 2, 2, 4}}, {"LINEAR", {2, 0, 0, 4, 0, 0}, {2, 2.5f, 3, 3.5f, 4}},
        // h(s) = 2(2s^3 - 3s^2 + 1) + 6(s^3 - 2s^2 + s) + 4(-2s^3 + 3s^2)
        {"CUBICSPLINE", {0, 0, 0, 2, 0, 0, 3, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 0}, {2, 3.15625f, 3.75f, 3.96875f, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interpolation);
        GltfDocument document = test::skinnedTriangle();
        const int times = document.accessor(std::vector<f32>{0.0f, 2.0f}, 5126, "SCALAR", 2);
        const int values = document.accessor(c.output, 5126, "VEC3", c.output.size() / 3);
        auto& animation = document.json["animations"][0];
        animation["samplers"].push_back({{"input", times}, {"output", values}, {"interpolation", c.interpolation}});
        animation["channels"].push_back({{"sampler", 1}, {"target", {{"node", 1}, {"path", "translation"}}}});
        const content::Model model = importGltf(bytesOf(document.text()), ".", "t.gltf", {.sampleRate = 2.0f}).model;
        // Node 1's translation x in every frame.
        const content::AnimationClip& clip = model.clips.at(0);
        ASSERT_EQ(clip.frameCount, c.expected.size());
        for (u32 f = 0; f < clip.frameCount; ++f) {
            EXPECT_FLOAT_EQ(-content::clipSample(clip, f, 1).translation[0], c.expected[f]) << "frame " << f;
        }
        // The rotation channel (keys at 0 and 1 s) keeps working beside it: half way at 0.5 s,
        // slerp gives 45 degrees about z.
        EXPECT_NEAR(content::clipSample(clip, 1, 1).rotation[2], -std::sin(3.14159265358979 / 8), 1e-6);
    }
}

TEST(GltfImportMaterials, CarryColourAlphaAndSidesAndWriteTexturesAsPng) {
    const ScratchDirectory scratch;
    Image picture(3, 2);
    picture.set(2, 1, {1.0, 0.0, 0.0, 1.0});
    const std::vector<std::byte> png = encodePng(picture);
    const auto* pngFirst = reinterpret_cast<const u8*>(png.data());
    const std::vector<u8> pngBytes(pngFirst, pngFirst + png.size());
    scratch.write("beside.png", png);

    GltfDocument document = test::skinnedTriangle();
    const int view = static_cast<int>(document.json["bufferViews"].size());
    document.accessor(pngBytes, 5121, "SCALAR", pngBytes.size());
    document.json["images"] = {{{"bufferView", view}, {"mimeType", "image/png"}},
                               {{"uri", "data:image/png;base64," + test::base64(pngBytes)}}, {{"uri", "beside.png"}}};
    document.json["textures"] = {{{"source", 0}}, {{"source", 1}}, {{"source", 2}}};
    document.json["materials"] = {
        {{"name", "mask"}, {"alphaMode", "MASK"}, {"alphaCutoff", 0.25},
         {"pbrMetallicRoughness", {{"baseColorFactor", {1, 0.5, 0.25, 0.4}}, {"baseColorTexture", {{"index", 0}}}}}},
        {{"alphaMode", "BLEND"}, {"doubleSided", true},
         {"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 1}}}}}},
        {{"pbrMetallicRoughness", {{"baseColorTexture", {{"index", 2}}}}}}};
    const ImportedCharacter imported = importGltf(bytesOf(document.text()), scratch.file(""), "t.gltf", {});
    const auto& m = imported.model.materials;
    ASSERT_EQ(std::tuple(m.size(), imported.files.size()), std::tuple(3u, 4u));  // the model, then the textures
    // 0.4 x texture alpha >= 0.25 exactly when 0.8 x texture alpha >= the runtime's 0.5.
    EXPECT_EQ(std::tuple(m[0].name, m[0].alphaMode, m[0].baseColor),
              std::tuple("mask", content::kAlphaTested, std::array<f32, 4>{1.0f, 0.5f, 0.25f, 0.8f}));
    EXPECT_EQ(std::tuple(m[1].name, m[1].alphaMode, m[1].doubleSided),
              std::tuple("material_1", content::kAlphaBlended, true));
    EXPECT_EQ(std::tuple(m[2].alphaMode, m[2].doubleSided), std::tuple(content::kAlphaOpaque, false));
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(m[i].texture, "texture_" + std::to_string(i) + ".png");
        EXPECT_EQ(imported.files[i + 1].path, m[i].texture);
        const auto path = scratch.write("out_" + std::to_string(i) + ".png", imported.files[i + 1].bytes);
        const content::DecodedImage decoded = content::loadPngImage(path, {});
        EXPECT_EQ(std::tuple(decoded.width, decoded.height), std::tuple(3u, 2u));
        EXPECT_EQ(std::vector<u8>(decoded.pixels.end() - 4, decoded.pixels.end()), (std::vector<u8>{255, 0, 0, 255}));
    }
}

}  // namespace
}  // namespace kestrune::baker
