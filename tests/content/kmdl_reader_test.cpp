#include "content/kmdl_reader.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <utility>

#include "base/byte_writer.h"
#include "base/little_endian.h"
#include "content/content_file.h"
#include "content/kmdl_writer.h"
#include "content/sha256.h"
#include "content/transform_math.h"
#include "content_test_support.h"
#include "sample_models.h"

namespace kestrune::content {
namespace {

using namespace test;

// The section offsets of a written model are computed here from the format's record sizes,
// independently of the writer; the messages are composed as the decoder composes them.
constexpr const char* kSource = "m.kmdl";

struct KmdlLayout {
    std::size_t tableBytes = 0, nodes = 0, skinSection = 0, materials = 0, end = 0;
    std::vector<std::size_t> skins, meshes, clips;  // where each record starts
};

KmdlLayout layoutOf(const Model& model, const std::vector<std::byte>& bytes) {
    KmdlLayout l;
    l.tableBytes = loadU32le(bytes.data() + 36);
    l.nodes = 44 + l.tableBytes;
    std::size_t at = l.skinSection = l.nodes + 56 * model.nodes.size();
    for (const Skin& skin : model.skins) l.skins.push_back(std::exchange(at, at + 12 + 68 * skin.joints.size()));
    l.materials = std::exchange(at, at + 32 * model.materials.size());
    for (const Mesh& mesh : model.meshes)
        l.meshes.push_back(std::exchange(at, at + 24 + 56 * mesh.vertices.size() + 4 * mesh.indices.size()));
    for (const auto& clip : model.clips) l.clips.push_back(std::exchange(at, at + 20 + 40 * clip.samples.size()));
    l.end = at;
    return l;
}

Model parse(std::span<const std::byte> b, const ModelLimits& limits = {}) { return parseModel(b, limits, kSource); }

void patchU32(std::vector<std::byte>& b, std::size_t offset, u32 value) { storeU32le(b.data() + offset, value); }

std::string at(std::size_t position, std::string_view message) {
    return std::string(kSource) + " at byte " + std::to_string(position) + ": " + std::string(message);
}

std::string unpositioned(std::string_view message) { return std::string(kSource) + ": " + std::string(message); }

constexpr f32 kNaN = std::numeric_limits<f32>::quiet_NaN();
constexpr f32 kInfinity = std::numeric_limits<f32>::infinity();

constexpr u32 kOne = 0x3F80'0000;  // 1.0f

// The smallest complete file, field by field: header, table "\0root\0mat\0", one node, one
// material. `table` and the two name offsets can be swapped for string-table cases.
std::vector<std::byte> minimalFile(std::string_view table = std::string_view("\0root\0mat\0", 10),
                                   u32 nodeName = 1, u32 materialName = 6) {
    ByteWriter b;
    b.append("KMDL0001");
    // Version, endian marker; one node, no skins or meshes, one material, no clips; flags 0.
    for (u32 v : {1u, 0x01020304u, 1u, 0u, 0u, 1u, 0u, static_cast<u32>(table.size()), 0u}) b.u32le(v);
    b.append(table);
    // Node: name, parent -1, translation 0, rotation (0, 0, 0, 1), scale 1, no mesh, no skin.
    for (u32 v : {nodeName, ~0u, 0u, 0u, 0u, 0u, 0u, 0u, kOne, kOne, kOne, kOne, ~0u, ~0u}) b.u32le(v);
    // Material: name, no texture, white, opaque, one-sided.
    for (u32 v : {materialName, 0u, kOne, kOne, kOne, kOne, 0u, 0u}) b.u32le(v);
    return b.release();
}

TEST(KmdlReader, DecodesEverySection) {
    // The writer gives back the hand-built bytes of the smallest file.
    const std::vector<std::byte> minimal = minimalFile();
    ASSERT_EQ(minimal.size(), 142u);
    EXPECT_EQ(writeModel(minimalModel()), minimal);
    // richModel() lists its node order as the decoder builds it: roots in index order first,
    // then each level's children in index order.
    const std::pair<Model, std::vector<std::byte>> cases[] = {{minimalModel(), minimal},
                                                              {richModel(), writeModel(richModel())}};
    for (const auto& [source, bytes] : cases) {
        Model decoded = parse(bytes);
        EXPECT_EQ(decoded.sha256, sha256Digest(bytes));
        decoded.sha256 = source.sha256;
        EXPECT_EQ(decoded, source);
    }
}

// The expected digest is checked before the header: a file with a bad magic still fails
// on the digest first. Malformed digest texts are covered where they are decoded.
TEST(KmdlReader, ChecksTheExpectedDigestBeforeTheHeaderAndThenEachHeaderField) {
    std::vector<std::byte> bytes = minimalFile();
    bytes[0] = std::byte{'X'};
    const std::string digest = toHexUpper(sha256Digest(bytes));
    expectError([&] { parse(bytes, {.expectedSha256 = lastDigitChanged(digest)}); },
                unpositioned("SHA-256 mismatch (actual " + digest + ")"));
    expectError([&] { parse(bytes, {.expectedSha256 = "g" + digest.substr(1)}); },
                "expected SHA-256 must contain exactly 64 hexadecimal characters");
    expectError([&] { parse(bytes, {.expectedSha256 = digest}); }, at(0, "unsupported magic; expected KMDL0001"));

    const std::string counts = at(16, "one or more header counts exceed configured limits");
    const std::string version = at(8, "unsupported version or endian marker");
    const struct { const char* name; std::size_t offset; u32 value; std::string message; } cases[] = {
        {"magic", 4, 0x3230'4C4D, at(0, "unsupported magic; expected KMDL0001")},  // "MDL02..."
        {"version 0", 8, 0, version}, {"version 2", 8, 2, version},
        {"byte-swapped endian marker", 12, 0x04030201, version},
        {"a flag", 40, 0x8000'0000, at(40, "unknown required flags are set")}, {"no nodes", 16, 0, counts},
        {"too many nodes", 16, 16'385, counts}, {"too many skins", 20, 1'025, counts},
        {"too many meshes", 24, 65'537, counts}, {"no materials", 28, 0, counts},
        {"too many materials", 28, 65'537, counts}, {"too many clips", 32, 4'097, counts},
        {"empty string table", 36, 0, counts}, {"string table too large", 36, 16'777'217, counts}};
    for (const auto& c : cases) {
        std::vector<std::byte> patched = minimalFile();
        patchU32(patched, c.offset, c.value);
        expectError([&] { parse(patched); }, c.message, c.name);
    }
    // Magic is judged before version, version before flags, flags before counts.
    std::vector<std::byte> everything = minimalFile();
    everything[7] = std::byte{'2'};
    patchU32(everything, 8, 9);
    patchU32(everything, 40, 1);
    patchU32(everything, 16, 0);
    expectError([&] { parse(everything); }, at(0, "unsupported magic; expected KMDL0001"));
}

TEST(KmdlReader, AcceptsCountsAtTheirLimits) {
    const Model model = richModel();
    const std::vector<std::byte> bytes = writeModel(model);
    const KmdlLayout layout = layoutOf(model, bytes);
    const ModelLimits limits{.maxStringTableBytes = static_cast<u32>(layout.tableBytes), .maxNodes = 5, .maxSkins = 1,
                             .maxMeshes = 2, .maxMaterials = 2, .maxClips = 3, .maxJointsPerSkin = 2,
                             .maxVerticesPerMesh = 4, .maxIndicesPerMesh = 6, .maxTotalVertices = 7,
                             .maxTotalIndices = 9, .maxFramesPerClip = 16, .maxTotalAnimationSamples = (16 + 5 + 2) * 5,
                             .maxSampleRate = 30.0f};
    EXPECT_NO_THROW(parse(bytes, limits));

    const std::string counts = "one or more header counts exceed configured limits";
    const std::string mesh = "mesh header contains invalid references or counts";
    const std::string totals = "aggregate mesh counts exceed configured limits";
    const std::string clip = "animation clip header is invalid", joints = "skin has invalid skeleton or joint count";
    using Tighten = void (*)(ModelLimits&);
    const struct { const char* name; Tighten tighten; std::size_t position; std::string message; } cases[] = {
        {"nodes", [](ModelLimits& l) { l.maxNodes = 4; }, 16, counts},
        {"string table", [](ModelLimits& l) { --l.maxStringTableBytes; }, 16, counts},
        {"joints", [](ModelLimits& l) { l.maxJointsPerSkin = 1; }, layout.skins[0], joints},
        {"vertices", [](ModelLimits& l) { l.maxVerticesPerMesh = 3; }, layout.meshes[0], mesh},
        {"indices", [](ModelLimits& l) { l.maxIndicesPerMesh = 5; }, layout.meshes[0], mesh},
        {"total vertices", [](ModelLimits& l) { l.maxTotalVertices = 6; }, layout.meshes[1], totals},
        {"total indices", [](ModelLimits& l) { l.maxTotalIndices = 8; }, layout.meshes[1], totals},
        {"frames", [](ModelLimits& l) { l.maxFramesPerClip = 15; }, layout.clips[0], clip},
        {"sample rate", [](ModelLimits& l) { l.maxSampleRate = 29.9f; }, layout.clips[0], clip},
        {"total samples", [](ModelLimits& l) { --l.maxTotalAnimationSamples; }, layout.clips[2],
         "aggregate animation sample count exceeds configured limit"}};
    for (const auto& c : cases) {
        ModelLimits tight = limits;
        c.tighten(tight);
        expectError([&] { parse(bytes, tight); }, at(c.position, c.message), c.name);
    }
}

TEST(KmdlReader, ValidatesTheStringTable) {
    using namespace std::string_view_literals;
    const std::string utf8 = "string table contains invalid UTF-8", name = "node name has an invalid string offset";
    const struct { const char* name; std::vector<std::byte> bytes; std::string message; } cases[] = {
        {"first byte not NUL", minimalFile("x\0root\0mat\0"sv), at(44, "string table must begin with the empty string")},
        {"last byte not NUL", minimalFile("\0root\0matt"sv), at(53, "string table is not NUL-terminated")},
        {"overlong encoding", minimalFile("\0root\0m\xC0\xAF\0"sv), at(50, utf8)},
        {"unreferenced bad string", minimalFile("\0root\0mat\0\xED\xA0\x80\0"sv), at(54, utf8)},
        {"sequence cut by its NUL", minimalFile("\0root\0mat\0\xE2\x82\0"sv), at(54, utf8)},
        {"offset inside a string", minimalFile("\0node\0mat\0"sv, 2), at(44, name)},
        {"offset past the table", minimalFile("\0root\0mat\0"sv, 10), at(44, name)},
        {"empty name at 0", minimalFile("\0root\0mat\0"sv, 0), at(44, "node name is empty")},
        {"empty name after a NUL", minimalFile("\0root\0\0mat\0"sv, 6, 7), at(50, "node name is empty")},
        {"material name inside a string", minimalFile("\0root\0mat\0"sv, 1, 7),
         at(44, "material name has an invalid string offset")}};
    for (const auto& c : cases) expectError([&] { parse(c.bytes); }, c.message, c.name);
    // Four-byte sequences and the largest code point are well formed.
    const Model model = parse(minimalFile("\0root\0\xF4\x8F\xBF\xBF\xF0\x9F\x90\x89\0"sv, 1, 6));
    EXPECT_EQ(model.materials[0].name, "\xF4\x8F\xBF\xBF\xF0\x9F\x90\x89");
}

// What the decoder reports for a written model and where, from its layout.
using Fault = std::function<std::string(const KmdlLayout&)>;
using Offset = std::size_t;
using Layout = const KmdlLayout&;

Fault byteAt(Offset position, std::string m) { return [=](Layout) { return at(position, m); }; }
Fault nodeAt(Offset i, std::string m) { return [=](Layout l) { return at(l.nodes + 56 * i, m); }; }
Fault skinAt(Offset extra, std::string m) { return [=](Layout l) { return at(l.skins[0] + extra, m); }; }
Fault materialAt(Offset i, std::string m) { return [=](Layout l) { return at(l.materials + 32 * i, m); }; }
Fault meshAt(Offset i, Offset plus, std::string m) { return [=](Layout l) { return at(l.meshes[i] + plus, m); }; }
Fault vertexAt(Offset mesh, Offset vertex, std::string m) { return meshAt(mesh, 24 + 56 * vertex, m); }
Fault clipAt(Offset i, Offset plus, std::string m) { return [=](Layout l) { return at(l.clips[i] + plus, m); }; }

// The rich model with one rule broken: the decoder names the rule and where it starts.
struct ModelCase { const char* name; std::function<void(Model&)> mutate; Fault fault; };

void runModelCases(const std::vector<ModelCase>& cases) {
    for (const ModelCase& c : cases) {
        SCOPED_TRACE(c.name);
        Model model = richModel();
        c.mutate(model);
        const std::vector<std::byte> bytes = writeModel(model);
        const KmdlLayout layout = layoutOf(model, bytes);
        ASSERT_EQ(layout.end, bytes.size());
        expectError([&] { parse(bytes); }, c.fault(layout));
    }
}

// The rich model with one rule of a node, skin, material, mesh or clip record broken.
TEST(KmdlReader, RejectsBrokenRecordsWhereTheyStart) {
    const auto nonFinite = [](auto i) { return nodeAt(i, "node " + std::to_string(i) + " contains NaN or infinity"); };
    const auto nonUnit = [](auto i) { return nodeAt(i, "node " + std::to_string(i) + " has a non-unit quaternion"); };
    const auto parent = [](Offset i) { return nodeAt(i, "node has an invalid parent"); };
    const auto reference = [](Offset i) { return nodeAt(i, "node has an invalid mesh or skin reference"); };
    const Fault count = skinAt(0, "skin has invalid skeleton or joint count");
    const auto joint = [](Offset extra) { return skinAt(extra, "skin contains duplicate or invalid joint"); };
    const auto material = [](Offset i) { return materialAt(i, "material contains invalid values or texture path"); };
    const auto meshHeader = [](Offset i) { return meshAt(i, 0, "mesh header contains invalid references or counts"); };
    const auto badFloat = [](auto i, auto v) { return vertexAt(i, v, "vertex contains invalid floating-point data"); };
    const auto weights = [](Offset i, Offset v) { return vertexAt(i, v, "skinned vertex weights do not sum to one"); };
    const Fault firstMesh = byteAt(0, "node first-mesh reference is inconsistent");
    const auto duplicated = [](Offset i) { return clipAt(i, 0, "animation clip name is duplicated"); };
    const auto clipHeader = [](Offset i) { return clipAt(i, 0, "animation clip header is invalid"); };
    const Fault frames = clipAt(0, 0, "animation frame count is inconsistent with duration and sample rate");
    const auto joints = [](Model& m, std::vector<u32> list) {
        m.skins[0].inverseBindMatrices.assign(list.size(), identityMatrix());
        m.skins[0].joints = std::move(list);
    };
    const auto resize = [](AnimationClip& c, u32 frameCount, u32 nodes) {
        c.frameCount = frameCount;
        c.nodeCount = nodes;
        c.samples.assign(std::size_t{frameCount} * nodes, Transform{});
    };
    runModelCases({
        // Nodes.
        {"NaN translation", [](Model& m) { m.nodes[2].transform.translation[1] = kNaN; }, nonFinite(2)},
        {"infinite scale", [](Model& m) { m.nodes[0].transform.scale[2] = -kInfinity; }, nonFinite(0)},
        {"short quaternion", [](Model& m) { m.nodes[1].transform.rotation = {0.0f, 0.0f, 0.0f, 0.979f}; }, nonUnit(1)},
        {"long quaternion", [](Model& m) { m.nodes[4].transform.rotation = {0.6f, 0.0f, 0.0f, 0.83f}; }, nonUnit(4)},
        {"NaN before parent", [](Model& m) { m.nodes[2].transform.rotation[0] = kNaN, m.nodes[2].parent = 2; },
         nonFinite(2)},
        {"own parent", [](Model& m) { m.nodes[2].parent = 2; }, parent(2)},
        {"parent -2", [](Model& m) { m.nodes[3].parent = -2; }, parent(3)},
        {"parent past the end", [](Model& m) { m.nodes[3].parent = 5; }, parent(3)},
        {"first mesh past the end", [](Model& m) { m.nodes[4].firstMesh = 2; }, reference(4)},
        {"first mesh -2", [](Model& m) { m.nodes[4].firstMesh = -2; }, reference(4)},
        {"skin past the end", [](Model& m) { m.nodes[0].skin = 1; }, reference(0)},
        {"no root", [](Model& m) { m.nodes[0].parent = 4, m.nodes[4].parent = 0; },
         byteAt(0, "node hierarchy has no root")},
        {"two nodes parent each other beside a root", [](Model& m) { m.nodes[3].parent = 4, m.nodes[4].parent = 3; },
         byteAt(0, "node hierarchy contains a cycle")},
        // Skins and materials.
        {"skeleton -2", [](Model& m) { m.skins[0].skeleton = -2; }, count},
        {"skeleton past the end", [](Model& m) { m.skins[0].skeleton = 5; }, count},
        {"no joints", [=](Model& m) { joints(m, {}); }, count},
        {"more joints than nodes", [=](Model& m) { joints(m, {0, 1, 2, 3, 4, 0}); }, count},
        {"joint listed twice", [=](Model& m) { joints(m, {1, 2, 1}); }, joint(12 + 8)},
        {"joint past the nodes", [](Model& m) { m.skins[0].joints = {1, 5}; }, joint(12 + 4)},
        {"alpha mode 3", [](Model& m) { m.materials[1].alphaMode = 3; }, material(1)},
        {"infinite colour", [](Model& m) { m.materials[0].baseColor[3] = kInfinity; }, material(0)},
        {"empty material name", [](Model& m) { m.materials[1].name = ""; }, byteAt(44, "material name is empty")},
        // Meshes.
        {"node -1", [](Model& m) { m.meshes[1].node = -1; }, meshHeader(1)},
        {"node past the end", [](Model& m) { m.meshes[1].node = 5; }, meshHeader(1)},
        {"skin -2", [](Model& m) { m.meshes[1].skin = -2; }, meshHeader(1)},
        {"skin past the end", [](Model& m) { m.meshes[0].skin = 1; }, meshHeader(0)},
        {"material -2", [](Model& m) { m.meshes[0].material = -2; }, meshHeader(0)},
        {"material past the end", [](Model& m) { m.meshes[0].material = 2; }, meshHeader(0)},
        {"no vertices", [](Model& m) { m.meshes[1].vertices.clear(); }, meshHeader(1)},
        {"no indices", [](Model& m) { m.meshes[1].indices.clear(); }, meshHeader(1)},
        {"indices not triangles", [](Model& m) { m.meshes[1].indices.push_back(0); }, meshHeader(1)},
        {"NaN position", [](Model& m) { m.meshes[1].vertices[2].position[0] = kNaN; }, badFloat(1, 2)},
        {"infinite uv", [](Model& m) { m.meshes[1].vertices[0].uv[1] = kInfinity; }, badFloat(1, 0)},
        {"NaN normal on a skinned mesh", [](Model& m) { m.meshes[0].vertices[3].normal[2] = kNaN; }, badFloat(0, 3)},
        {"negative weight, rigid mesh", [](Model& m) { m.meshes[1].vertices[1].weights[3] = -0.25f; }, badFloat(1, 1)},
        {"joint outside the palette", [](Model& m) { m.meshes[0].vertices[3].joints[1] = 2; },
         vertexAt(0, 3, "vertex joint is outside its skin palette")},
        {"weights sum to 0.97", [](Model& m) { m.meshes[0].vertices[1].weights = {0.5f, 0.47f}; }, weights(0, 1)},
        {"weights sum to 1.03", [](Model& m) { m.meshes[0].vertices[0].weights = {0.5f, 0.53f}; }, weights(0, 0)},
        {"index equal to the vertex count", [](Model& m) { m.meshes[0].indices[5] = 4; },
         meshAt(0, 24 + 56 * 4 + 4 * 5, "triangle index is outside the vertex buffer")},
        {"mesh skin differs from its node's", [](Model& m) { m.nodes[3].skin = 0; },
         byteAt(0, "mesh skin does not match its owning node")},
        {"node claims no mesh but has one", [](Model& m) { m.nodes[3].firstMesh = -1; }, firstMesh},
        {"node claims a mesh it does not have", [](Model& m) { m.nodes[0].firstMesh = 1; }, firstMesh},
        {"node claims its second mesh, not its lowest", [](Model& m) {
             m.meshes.push_back(m.meshes[1]);
             m.meshes.back().name = "second sword";
             m.nodes[3].firstMesh = 2;
         }, firstMesh},
        // Clips.
        {"duplicated name", [](Model& m) { m.clips[2].name = "walk"; }, duplicated(2)},
        {"duplicated name before an invalid header",
         [](Model& m) { m.clips[1].name = "idle", m.clips[1].sampleRate = -1.0f; }, duplicated(1)},
        {"NaN duration", [](Model& m) { m.clips[0].duration = kNaN; }, clipHeader(0)},
        {"negative duration", [](Model& m) { m.clips[2].duration = -0.5f; }, clipHeader(2)},
        {"zero sample rate", [](Model& m) { m.clips[1].sampleRate = 0.0f; }, clipHeader(1)},
        {"infinite sample rate", [](Model& m) { m.clips[1].sampleRate = kInfinity; }, clipHeader(1)},
        {"sample rate above 1000", [](Model& m) { m.clips[1].sampleRate = 1000.1f; }, clipHeader(1)},
        {"one frame", [=](Model& m) { resize(m.clips[2], 1, 5); }, clipHeader(2)},
        {"node count differs", [=](Model& m) { resize(m.clips[2], 2, 4); }, clipHeader(2)},
        {"frames beyond duration x rate", [=](Model& m) { resize(m.clips[0], 17, 5); }, frames},
        {"frames short of duration x rate", [=](Model& m) { resize(m.clips[0], 15, 5); }, frames},
        {"duration x rate beyond the frame limit",
         [=](Model& m) { m.clips[1].duration = 1001.0f, m.clips[1].sampleRate = 1000.0f, resize(m.clips[1], 2, 5); },
         clipAt(1, 0, "animation duration/sample-rate product exceeds limits")},
        {"infinite sample", [](Model& m) { m.clips[1].samples[7].scale[0] = kInfinity; },
         clipAt(1, 20 + 40 * 7, "animation TRS contains NaN or infinity")},
        {"non-unit sample", [](Model& m) { m.clips[0].samples[79].rotation = {0.0f, 0.0f, 0.0f, 2.0f}; },
         clipAt(0, 20 + 40 * 79, "animation TRS has a non-unit quaternion")},
        {"empty name", [](Model& m) { m.clips[0].name.clear(); }, byteAt(44, "clip name is empty")}});
    // The double-sided flag is 0 or 1 in the file.
    std::vector<std::byte> bytes = writeModel(richModel());
    const KmdlLayout layout = layoutOf(richModel(), bytes);
    patchU32(bytes, layout.materials + 32 + 28, 2);
    expectError([&] { parse(bytes); }, at(layout.materials + 32, "material contains invalid values or texture path"));
    // This one rule names the format rather than the file; the layout is the rich model's. The
    // NaN is element 6 of the second matrix: past the 12-byte header, two joints and one matrix.
    Model model = richModel();
    model.skins[0].inverseBindMatrices[1][6] = kNaN;
    const std::size_t nanAt = layout.skins[0] + 12 + 8 + 64 + 4 * 6;
    expectError([&] { parse(writeModel(model)); },
                "Kestrune Model at byte " + std::to_string(nanAt) + ": inverse bind contains NaN or infinity");
    // Accepted: quaternion lengths just inside the bounds, the joints of one skin again in
    // another, weights at the edges of [0.98, 1.02] and zero-weight slots with any joint; a
    // node with two meshes records the lowest.
    for (f32 w : {0.981f, 1.019f}) {
        Model accepted = richModel();
        accepted.nodes[1].transform.rotation = {0.0f, 0.0f, 0.0f, w};
        accepted.skins.push_back(accepted.skins[0]);
        accepted.skins.back().name = "second";
        accepted.meshes[0].vertices[0].weights = {0.49f, 0.49f, 0.0f, 0.0f};
        accepted.meshes[0].vertices[1].weights = {0.51f, 0.51f, 0.0f, 0.0f};
        accepted.meshes[0].vertices[2].joints = {1, 65535, 0, 2};
        accepted.meshes[0].vertices[2].weights = {1.0f, 0.0f, -0.0f, 0.0f};
        accepted.meshes.push_back(accepted.meshes[1]);
        accepted.meshes.back().name = "second sword";
        EXPECT_EQ(parse(writeModel(accepted)).nodes[3].firstMesh, 1) << w;
    }
}

TEST(KmdlReader, AppliesTexturePathRules) {
    Model model = richModel();
    for (const char* path : {"textures/body.png", "a.png", "deep/er/still/x.png", "n\xC3\xA4me.png", "del\x7F.png",
                             "..a/b..png", ".hidden/x"}) {
        SCOPED_TRACE(path);
        model.materials[0].texture = path;
        EXPECT_EQ(parse(writeModel(model)).materials[0].texture, path);
    }
    const Fault invalid = materialAt(0, "material contains invalid values or texture path");
    std::vector<ModelCase> rejected;
    for (const char* path : {"textures//body.png", "textures/./a.png", "../a.png", "/a.png", "\\a.png", "C:a.png",
                             "a\\b.png", "a?.png", "a*.png", "a<b", "a>b", "a|b", "say\"x\"", "tab\t.png",
                             "textures/", "./a.png", "a/..", "."})
        rejected.push_back({path, [=](Model& m) { m.materials[0].texture = path; }, invalid});
    runModelCases(rejected);
}

TEST(KmdlReader, DerivesFrameCountsFromDurationAndRate) {
    const struct { f32 duration, rate; u32 frames; } cases[] = {
        {0.5f, 30, 16}, {0.51f, 30, 17}, {0, 30, 2}, {0.875f, 4, 5}, {1, 10, 11}, {0.01f, 1, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.duration) + " s at " + std::to_string(c.rate));
        Model model = minimalModel();
        model.clips.push_back(makeClip("c", c.duration, c.rate, 1, [](u32, u32) { return Transform{}; }));
        ASSERT_EQ(model.clips[0].frameCount, c.frames);
        EXPECT_EQ(parse(writeModel(model)).clips[0].frameCount, c.frames);
    }
}

TEST(KmdlReader, ReportsTruncationWhereTheMissingDataStartsAndSizeLimitsFirst) {
    const Model model = richModel();
    const std::vector<std::byte> bytes = writeModel(model);
    const KmdlLayout l = layoutOf(model, bytes);
    const std::string header = unpositioned("truncated Kestrune Model header");
    const struct { const char* name; std::size_t size; std::string message; } cases[] = {
        {"empty", 0, header}, {"header", 43, header},
        {"string table", 44 + l.tableBytes - 1, at(44, "string table is truncated")},
        {"node records", l.nodes + 56 * 5 - 1, at(l.nodes, "node records are truncated")},
        {"skin headers", l.skinSection + 11, at(l.skinSection, "skin headers are truncated")},
        {"skin payload", l.skins[0] + 12 + 68 * 2 - 1, at(l.skins[0] + 12, "skin payload is truncated")},
        {"material records", l.materials + 63, at(l.materials, "material records are truncated")},
        {"mesh name", l.meshes[1] + 3, at(l.meshes[1], "mesh name is truncated")},
        {"mesh vertex count", l.meshes[0] + 17, at(l.meshes[0] + 16, "mesh vertex count is truncated")},
        {"mesh index count", l.meshes[0] + 20, at(l.meshes[0] + 20, "mesh index count is truncated")},
        {"mesh payload", l.meshes[1] + 24 + 56 * 3 + 11, at(l.meshes[1] + 24, "mesh payload is truncated")},
        {"clip name", l.clips[0], at(l.clips[0], "clip name is truncated")},
        {"clip node count", l.clips[2] + 19, at(l.clips[2] + 16, "clip node count is truncated")},
        {"clip samples", l.clips[1] + 20 + 40 * 25 - 1, at(l.clips[1] + 20, "animation samples are truncated")}};
    for (const auto& c : cases) expectError([&] { parse(std::span(bytes).first(c.size)); }, c.message, c.name);
    std::vector<std::byte> trailing = bytes;
    trailing.push_back(std::byte{0});
    expectError([&] { parse(trailing); }, at(bytes.size(), "trailing bytes after final animation clip"));
    // The size limit comes before anything else.
    EXPECT_NO_THROW(parse(bytes, {.maxFileBytes = bytes.size()}));
    expectError([&] { parse(trailing, {.maxFileBytes = bytes.size()}); },
                unpositioned("payload exceeds configured file-size limit"));
    // A small file claiming the most meshes and clips fails on its first missing record.
    std::vector<std::byte> claims = minimalFile();
    patchU32(claims, 24, 65'536);
    patchU32(claims, 32, 4'096);
    expectError([&] { parse(claims); }, at(142, "mesh name is truncated"));

    // Loaded, the size limit and a missing file are named by the path. A loaded file's digest,
    // overlapping read and decoding failures named by its path are checked in the digest-overlap suite.
    ScratchDirectory scratch;
    const std::filesystem::path path = scratch.write("rich.kmdl", bytes);
    expectError([&] { loadModelFile(path, {.maxFileBytes = bytes.size() - 1}); },
                "Kestrune Model exceeds configured file-size limit: " + path.string());
    const std::filesystem::path missing = scratch.file("missing.kmdl");
    expectError([&] { loadModelFile(missing, {}); }, "cannot open Kestrune Model: " + missing.string());
}

TEST(KmdlWriter, StoresEachStringOnceWithTheEmptyStringFirstAndRefusesModelsWithoutAByteLayout) {
    Model model = richModel();
    model.meshes[1].name = "body";  // also a skin's and a mesh's name already
    model.materials[1].texture = "textures/body.png";
    const std::vector<std::byte> bytes = writeModel(model);
    const std::string expectedTable(
        "\0root\0hips\0spine-\xC3\x9F\0prop\0second root\0body\0skin\0textures/body.png\0glow\0idle\0walk\0Idle\0", 85);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[44]), loadU32le(&bytes[36])), expectedTable);
    EXPECT_EQ(parse(bytes).meshes[1].name, "body");

    // Models without a byte layout are refused.
    const struct { void (*breakIt)(Model&); const char* message; } cases[] = {
        {[](Model& m) { m.nodes[0].name = std::string("ro\0ot", 5); }, "model string contains a NUL byte"},
        {[](Model& m) { m.skins[0].inverseBindMatrices.pop_back(); }, "skin needs one inverse-bind matrix per joint"},
        {[](Model& m) { m.clips[1].samples.pop_back(); }, "clip needs frameCount x nodeCount samples"}};
    for (const auto& c : cases) {
        Model broken = richModel();
        c.breakIt(broken);
        expectError<std::invalid_argument>([&] { writeModel(broken); }, c.message);
    }
}

// ---- Whole files and expected digests ----

// The failures of reading a whole file are checked where models and images are loaded.
TEST(ContentFile, ReadsInPiecesReportingEachPrefixAndDecodesExpectedDigestsOfEitherCase) {
    ScratchDirectory scratch;
    std::vector<std::byte> bytes(100);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::byte>(i + 1);
    const auto path = scratch.write("data.bin", bytes);
    std::vector<std::size_t> sizes;
    std::vector<std::byte> read(3, std::byte{9});  // whatever it held is replaced
    readWholeFileInPieces(path, 100, ContentFileKind::KestruneModel, read, 7, [&](std::span<const std::byte> soFar) {
        EXPECT_EQ(soFar.data(), read.data());  // every prefix starts where the bytes end up
        EXPECT_TRUE(std::equal(soFar.begin(), soFar.end(), bytes.begin()));
        sizes.push_back(soFar.size());
    });
    EXPECT_EQ(read, bytes);
    ASSERT_EQ(sizes.size(), 15u);  // 14 pieces of 7 and one of 2
    EXPECT_EQ(std::tuple(sizes.front(), sizes[13], sizes.back()), std::tuple(7u, 98u, 100u));
    // In one piece at exactly the size limit, and an empty file.
    EXPECT_EQ(readWholeFile(path, 100, ContentFileKind::Png), bytes);
    EXPECT_TRUE(readWholeFile(scratch.write("empty.bin", {}), 0, ContentFileKind::Png).empty());

    // An expected model digest decodes from either case and nothing else.
    EXPECT_FALSE(decodeExpectedModelDigest(std::nullopt).has_value());
    const auto digest = decodeExpectedModelDigest("00aB" + std::string(58, 'f') + "9C");
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ(std::tuple((*digest)[0], (*digest)[1], (*digest)[2], (*digest)[31]), std::tuple(0x00, 0xAB, 0xFF, 0x9C));
    // Too short, too long, and 64 characters ending in one that is not a hexadecimal digit.
    std::vector<std::string> bad = {std::string(63, 'a'), std::string(65, 'a'), "", "G" + std::string(63, '0')};
    for (const char last : std::string_view("gx/:@` ")) bad.push_back(std::string(63, '0') + last);
    for (const std::string& text : bad)
        expectError([&] { decodeExpectedModelDigest(text); },
                    "expected SHA-256 must contain exactly 64 hexadecimal characters", text);
}

}  // namespace
}  // namespace kestrune::content
