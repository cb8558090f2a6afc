#include "content/kmdl_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "content/kmdl_writer.h"
#include "content/sha256.h"
#include "content_test_support.h"
#include "kmdl_test_support.h"
#include "sample_models.h"

namespace kestrune::content {
namespace {

using namespace test;

constexpr f32 kNaN = std::numeric_limits<f32>::quiet_NaN();
constexpr f32 kInfinity = std::numeric_limits<f32>::infinity();

Model parse(const std::vector<std::byte>& bytes, const ModelLimits& limits = {}) {
    return parseModel(bytes, limits, kSource);
}

// The smallest complete file, byte by byte: header, table "\0root\0mat\0", one node, one
// material. `table` and the two name offsets can be swapped for string-table cases.
std::vector<std::byte> minimalFile(std::string_view table = std::string_view("\0root\0mat\0", 10),
                                   u32 nodeName = 1, u32 materialName = 6) {
    std::vector<std::byte> b;
    const auto u32le = [&](u32 v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::byte>(v >> (8 * i)));
    };
    const auto f32le = [&](f32 v) { u32le(std::bit_cast<u32>(v)); };
    for (char c : std::string_view("KMDL0001")) b.push_back(static_cast<std::byte>(c));
    u32le(1);
    u32le(0x01020304);
    u32le(1);  // nodes
    u32le(0);  // skins
    u32le(0);  // meshes
    u32le(1);  // materials
    u32le(0);  // clips
    u32le(static_cast<u32>(table.size()));
    u32le(0);  // flags
    for (char c : table) b.push_back(static_cast<std::byte>(c));
    u32le(nodeName);
    u32le(0xFFFFFFFF);  // parent -1
    for (f32 v : {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 1.0f}) f32le(v);
    u32le(0xFFFFFFFF);  // first mesh -1
    u32le(0xFFFFFFFF);  // skin -1
    u32le(materialName);
    u32le(0);  // no texture
    for (f32 v : {1.0f, 1.0f, 1.0f, 1.0f}) f32le(v);
    u32le(0);
    u32le(0);
    return b;
}

std::vector<std::byte> truncatedTo(std::vector<std::byte> bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

TEST(KmdlReader, DecodesTheSmallestCompleteFile) {
    const std::vector<std::byte> bytes = minimalFile();
    ASSERT_EQ(bytes.size(), 142u);
    const Model model = parse(bytes);
    ASSERT_EQ(model.nodes.size(), 1u);
    EXPECT_EQ(model.nodes[0].name, "root");
    EXPECT_EQ(model.nodes[0].parent, -1);
    EXPECT_EQ(model.nodes[0].transform, Transform{});
    ASSERT_EQ(model.materials.size(), 1u);
    EXPECT_EQ(model.materials[0].name, "mat");
    EXPECT_EQ(model.materials[0].texture, "");
    EXPECT_TRUE(model.skins.empty() && model.meshes.empty() && model.clips.empty());
    EXPECT_EQ(model.nodeOrder, std::vector<u32>{0});
    EXPECT_EQ(model.sha256, sha256Digest(bytes));
    // The writer produces the same bytes from the decoded model.
    EXPECT_EQ(writeModel(model), bytes);
}

TEST(KmdlReader, DecodesEverySectionOfARichModel) {
    const Model source = richModel();
    const std::vector<std::byte> bytes = writeModel(source);
    Model decoded = parse(bytes);
    EXPECT_EQ(decoded.sha256, sha256Digest(bytes));
    decoded.sha256 = source.sha256;
    EXPECT_EQ(decoded, source);
    // Roots in index order first, then each level's children in index order.
    EXPECT_EQ(decoded.nodeOrder, (std::vector<u32>{0, 4, 1, 3, 2}));
}

TEST(KmdlReader, RejectsFilesBySizeBeforeAnythingElse) {
    const std::vector<std::byte> bytes = minimalFile();
    ModelLimits exact;
    exact.maxFileBytes = bytes.size();
    EXPECT_NO_THROW(parse(bytes, exact));
    ModelLimits oneShort;
    oneShort.maxFileBytes = bytes.size() - 1;
    expectError([&] { parse(bytes, oneShort); }, unpositioned("payload exceeds configured file-size limit"));
    expectError([&] { parse(truncatedTo(bytes, 43)); }, unpositioned("truncated Kestrune Model header"));
    expectError([&] { parse({}); }, unpositioned("truncated Kestrune Model header"));
    // 44 bytes pass the size check and then miss the string table.
    expectError([&] { parse(truncatedTo(bytes, 44)); }, at(44, "string table is truncated"));
}

TEST(KmdlReader, ChecksTheExpectedDigestBeforeTheHeader) {
    const std::vector<std::byte> bytes = minimalFile();
    const std::string digest = toHexUpper(sha256Digest(bytes));
    std::string lower = digest;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    ModelLimits limits;
    limits.expectedSha256 = digest;
    EXPECT_NO_THROW(parse(bytes, limits));
    limits.expectedSha256 = lower;
    EXPECT_NO_THROW(parse(bytes, limits));

    std::vector<std::byte> badMagic = bytes;
    badMagic[0] = std::byte{'X'};
    const std::string actual = toHexUpper(sha256Digest(badMagic));
    const struct {
        const char* name;
        std::string expected;
        std::string message;
    } cases[] = {
        {"63 characters", digest.substr(1), "expected SHA-256 must contain exactly 64 hexadecimal characters"},
        {"65 characters", digest + "0", "expected SHA-256 must contain exactly 64 hexadecimal characters"},
        {"a g among 64", "g" + digest.substr(1), "expected SHA-256 must contain exactly 64 hexadecimal characters"},
        {"a space among 64", digest.substr(0, 63) + " ",
         "expected SHA-256 must contain exactly 64 hexadecimal characters"},
        {"digest of another file", digest, unpositioned("SHA-256 mismatch (actual " + actual + ")")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelLimits caseLimits;
        caseLimits.expectedSha256 = c.expected;
        expectError([&] { parse(badMagic, caseLimits); }, c.message);
    }
}

TEST(KmdlReader, RejectsHeaderFields) {
    const std::vector<std::byte> good = minimalFile();
    const struct {
        const char* name;
        std::size_t offset;
        u32 value;
        std::string message;
    } cases[] = {
        {"magic", 4, 0x3230'4C4D, at(0, "unsupported magic; expected KMDL0001")},  // "MDL02..."
        {"version 0", 8, 0, at(8, "unsupported version or endian marker")},
        {"version 2", 8, 2, at(8, "unsupported version or endian marker")},
        {"byte-swapped endian marker", 12, 0x04030201, at(8, "unsupported version or endian marker")},
        {"a flag", 40, 0x8000'0000, at(40, "unknown required flags are set")},
        {"no nodes", 16, 0, at(16, "one or more header counts exceed configured limits")},
        {"too many nodes", 16, 16'385, at(16, "one or more header counts exceed configured limits")},
        {"too many skins", 20, 1'025, at(16, "one or more header counts exceed configured limits")},
        {"too many meshes", 24, 65'537, at(16, "one or more header counts exceed configured limits")},
        {"no materials", 28, 0, at(16, "one or more header counts exceed configured limits")},
        {"too many materials", 28, 65'537, at(16, "one or more header counts exceed configured limits")},
        {"too many clips", 32, 4'097, at(16, "one or more header counts exceed configured limits")},
        {"empty string table", 36, 0, at(16, "one or more header counts exceed configured limits")},
        {"string table too large", 36, 16'777'217, at(16, "one or more header counts exceed configured limits")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::byte> bytes = good;
        patchU32(bytes, c.offset, c.value);
        expectError([&] { parse(bytes); }, c.message);
    }
    // Magic is judged before version, version before flags, flags before counts.
    std::vector<std::byte> everything = good;
    everything[7] = std::byte{'2'};
    patchU32(everything, 8, 9);
    patchU32(everything, 40, 1);
    patchU32(everything, 16, 0);
    expectError([&] { parse(everything); }, at(0, "unsupported magic; expected KMDL0001"));
}

TEST(KmdlReader, AcceptsCountsAtTheirLimits) {
    const Model model = richModel();
    const std::vector<std::byte> bytes = writeModel(model);
    ModelLimits limits;
    limits.maxNodes = 5;
    limits.maxSkins = 1;
    limits.maxMeshes = 2;
    limits.maxMaterials = 2;
    limits.maxClips = 3;
    limits.maxStringTableBytes = static_cast<u32>(layoutOf(model, bytes).tableBytes);
    limits.maxJointsPerSkin = 2;
    limits.maxVerticesPerMesh = 4;
    limits.maxIndicesPerMesh = 6;
    limits.maxTotalVertices = 7;
    limits.maxTotalIndices = 9;
    limits.maxFramesPerClip = 16;
    limits.maxTotalAnimationSamples = (16 + 5 + 2) * 5;
    limits.maxSampleRate = 30.0f;
    EXPECT_NO_THROW(parse(bytes, limits));

    const struct {
        const char* name;
        std::function<void(ModelLimits&)> tighten;
        std::string message;
    } cases[] = {
        {"nodes", [](ModelLimits& l) { l.maxNodes = 4; }, at(16, "one or more header counts exceed configured limits")},
        {"string table", [](ModelLimits& l) { --l.maxStringTableBytes; },
         at(16, "one or more header counts exceed configured limits")},
        {"joints", [](ModelLimits& l) { l.maxJointsPerSkin = 1; }, "skin has invalid skeleton or joint count"},
        {"vertices", [](ModelLimits& l) { l.maxVerticesPerMesh = 3; }, "mesh header contains invalid references or counts"},
        {"indices", [](ModelLimits& l) { l.maxIndicesPerMesh = 5; }, "mesh header contains invalid references or counts"},
        {"total vertices", [](ModelLimits& l) { l.maxTotalVertices = 6; }, "aggregate mesh counts exceed configured limits"},
        {"total indices", [](ModelLimits& l) { l.maxTotalIndices = 8; }, "aggregate mesh counts exceed configured limits"},
        {"frames", [](ModelLimits& l) { l.maxFramesPerClip = 15; }, "animation clip header is invalid"},
        {"sample rate", [](ModelLimits& l) { l.maxSampleRate = 29.9f; }, "animation clip header is invalid"},
        {"total samples", [](ModelLimits& l) { --l.maxTotalAnimationSamples; },
         "aggregate animation sample count exceeds configured limit"},
    };
    const KmdlLayout layout = layoutOf(model, bytes);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ModelLimits tight = limits;
        c.tighten(tight);
        try {
            parse(bytes, tight);
            ADD_FAILURE() << "accepted";
        } catch (const ContentError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(c.message), std::string::npos) << message;
        }
    }
    // Positions of the per-record limits: the skin, the second mesh, the last clip.
    ModelLimits joints = limits;
    joints.maxJointsPerSkin = 1;
    expectError([&] { parse(bytes, joints); }, at(layout.skins[0], "skin has invalid skeleton or joint count"));
    ModelLimits totals = limits;
    totals.maxTotalVertices = 6;
    expectError([&] { parse(bytes, totals); }, at(layout.meshes[1], "aggregate mesh counts exceed configured limits"));
    ModelLimits samples = limits;
    --samples.maxTotalAnimationSamples;
    expectError([&] { parse(bytes, samples); },
                at(layout.clips[2], "aggregate animation sample count exceeds configured limit"));
}

TEST(KmdlReader, ValidatesTheStringTable) {
    using namespace std::string_view_literals;
    const struct {
        const char* name;
        std::vector<std::byte> bytes;
        std::string message;
    } cases[] = {
        {"first byte not NUL", minimalFile("x\0root\0mat\0"sv), at(44, "string table must begin with the empty string")},
        {"last byte not NUL", minimalFile("\0root\0matt"sv), at(53, "string table is not NUL-terminated")},
        {"overlong encoding", minimalFile("\0root\0m\xC0\xAF\0"sv), at(50, "string table contains invalid UTF-8")},
        {"unreferenced bad string", minimalFile("\0root\0mat\0\xED\xA0\x80\0"sv),
         at(54, "string table contains invalid UTF-8")},
        {"sequence cut by its NUL", minimalFile("\0root\0mat\0\xE2\x82\0"sv),
         at(54, "string table contains invalid UTF-8")},
        {"offset inside a string", minimalFile("\0node\0mat\0"sv, 2), at(44, "node name has an invalid string offset")},
        {"offset past the table", minimalFile("\0root\0mat\0"sv, 10), at(44, "node name has an invalid string offset")},
        {"empty name at 0", minimalFile("\0root\0mat\0"sv, 0), at(44, "node name is empty")},
        {"empty name after a NUL", minimalFile("\0root\0\0mat\0"sv, 6, 7), at(50, "node name is empty")},
        {"material name inside a string", minimalFile("\0root\0mat\0"sv, 1, 7),
         at(44, "material name has an invalid string offset")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectError([&] { parse(c.bytes); }, c.message);
    }
    // Four-byte sequences and the largest code point are well formed.
    const Model model = parse(minimalFile("\0root\0\xF4\x8F\xBF\xBF\xF0\x9F\x90\x89\0"sv, 1, 6));
    EXPECT_EQ(model.materials[0].name, "\xF4\x8F\xBF\xBF\xF0\x9F\x90\x89");
}

struct ModelCase {
    const char* name;
    std::function<void(Model&)> mutate;
    std::function<std::string(const KmdlLayout&)> message;
};

void runModelCases(const std::vector<ModelCase>& cases) {
    for (const ModelCase& c : cases) {
        SCOPED_TRACE(c.name);
        Model model = richModel();
        c.mutate(model);
        const std::vector<std::byte> bytes = writeModel(model);
        const KmdlLayout layout = layoutOf(model, bytes);
        ASSERT_EQ(layout.end, bytes.size());
        expectError([&] { parse(bytes); }, c.message(layout));
    }
}

TEST(KmdlReader, RejectsNodeRecords) {
    const auto node = [](std::size_t i) { return [i](const KmdlLayout& l) { return l.nodes + 56 * i; }; };
    std::vector<ModelCase> cases = {
        {"NaN translation", [](Model& m) { m.nodes[2].transform.translation[1] = kNaN; },
         [=](const KmdlLayout& l) { return at(node(2)(l), "node 2 contains NaN or infinity"); }},
        {"infinite scale", [](Model& m) { m.nodes[0].transform.scale[2] = -kInfinity; },
         [=](const KmdlLayout& l) { return at(node(0)(l), "node 0 contains NaN or infinity"); }},
        {"short quaternion", [](Model& m) { m.nodes[1].transform.rotation = {0.0f, 0.0f, 0.0f, 0.979f}; },
         [=](const KmdlLayout& l) { return at(node(1)(l), "node 1 has a non-unit quaternion"); }},
        {"long quaternion", [](Model& m) { m.nodes[4].transform.rotation = {0.6f, 0.0f, 0.0f, 0.83f}; },
         [=](const KmdlLayout& l) { return at(node(4)(l), "node 4 has a non-unit quaternion"); }},
        {"NaN before parent", [](Model& m) {
             m.nodes[2].transform.rotation[0] = kNaN;
             m.nodes[2].parent = 2;
         },
         [=](const KmdlLayout& l) { return at(node(2)(l), "node 2 contains NaN or infinity"); }},
        {"own parent", [](Model& m) { m.nodes[2].parent = 2; },
         [=](const KmdlLayout& l) { return at(node(2)(l), "node has an invalid parent"); }},
        {"parent -2", [](Model& m) { m.nodes[3].parent = -2; },
         [=](const KmdlLayout& l) { return at(node(3)(l), "node has an invalid parent"); }},
        {"parent past the end", [](Model& m) { m.nodes[3].parent = 5; },
         [=](const KmdlLayout& l) { return at(node(3)(l), "node has an invalid parent"); }},
        {"first mesh past the end", [](Model& m) { m.nodes[4].firstMesh = 2; },
         [=](const KmdlLayout& l) { return at(node(4)(l), "node has an invalid mesh or skin reference"); }},
        {"first mesh -2", [](Model& m) { m.nodes[4].firstMesh = -2; },
         [=](const KmdlLayout& l) { return at(node(4)(l), "node has an invalid mesh or skin reference"); }},
        {"skin past the end", [](Model& m) { m.nodes[0].skin = 1; },
         [=](const KmdlLayout& l) { return at(node(0)(l), "node has an invalid mesh or skin reference"); }},
        {"no root", [](Model& m) {
             m.nodes[0].parent = 4;
             m.nodes[4].parent = 0;
         },
         [](const KmdlLayout&) { return at(0, "node hierarchy has no root"); }},
        {"two nodes parent each other beside a root", [](Model& m) {
             m.nodes[3].parent = 4;
             m.nodes[4].parent = 3;
         },
         [](const KmdlLayout&) { return at(0, "node hierarchy contains a cycle"); }},
    };
    runModelCases(cases);

    // Quaternion lengths just inside the bounds are accepted.
    for (f32 w : {0.981f, 1.019f}) {
        Model model = richModel();
        model.nodes[1].transform.rotation = {0.0f, 0.0f, 0.0f, w};
        EXPECT_NO_THROW(parse(writeModel(model))) << w;
    }
}

TEST(KmdlReader, RejectsSkins) {
    const auto skinAt = [](std::size_t extra) { return [extra](const KmdlLayout& l) { return l.skins[0] + extra; }; };
    const Matrix4 identity = [] {
        Matrix4 m;
        m[0] = m[5] = m[10] = m[15] = 1.0f;
        return m;
    }();
    runModelCases({
        {"skeleton -2", [](Model& m) { m.skins[0].skeleton = -2; },
         [=](const KmdlLayout& l) { return at(skinAt(0)(l), "skin has invalid skeleton or joint count"); }},
        {"skeleton past the end", [](Model& m) { m.skins[0].skeleton = 5; },
         [=](const KmdlLayout& l) { return at(skinAt(0)(l), "skin has invalid skeleton or joint count"); }},
        {"no joints", [](Model& m) { m.skins[0].joints.clear(), m.skins[0].inverseBindMatrices.clear(); },
         [=](const KmdlLayout& l) { return at(skinAt(0)(l), "skin has invalid skeleton or joint count"); }},
        {"more joints than nodes", [=](Model& m) {
             m.skins[0].joints = {0, 1, 2, 3, 4, 0};
             m.skins[0].inverseBindMatrices.assign(6, identity);
         },
         [=](const KmdlLayout& l) { return at(skinAt(0)(l), "skin has invalid skeleton or joint count"); }},
        {"joint listed twice", [=](Model& m) {
             m.skins[0].joints = {1, 2, 1};
             m.skins[0].inverseBindMatrices.assign(3, identity);
         },
         [=](const KmdlLayout& l) { return at(skinAt(12 + 8)(l), "skin contains duplicate or invalid joint"); }},
        {"joint past the nodes", [](Model& m) { m.skins[0].joints = {1, 5}; },
         [=](const KmdlLayout& l) { return at(skinAt(12 + 4)(l), "skin contains duplicate or invalid joint"); }},
        {"NaN inverse bind", [](Model& m) { m.skins[0].inverseBindMatrices[1][6] = kNaN; },
         [=](const KmdlLayout& l) {
             return "Kestrune Model at byte " + std::to_string(skinAt(12 + 8 + 64 + 24)(l)) +
                    ": inverse bind contains NaN or infinity";
         }},
    });
    // Joints of one skin may appear again in another.
    Model model = richModel();
    Skin second = model.skins[0];
    second.name = "second";
    model.skins.push_back(second);
    EXPECT_NO_THROW(parse(writeModel(model)));
}

TEST(KmdlReader, RejectsMaterials) {
    const auto material = [](std::size_t i) { return [i](const KmdlLayout& l) { return l.materials + 32 * i; }; };
    const std::string message = "material contains invalid values or texture path";
    runModelCases({
        {"alpha mode 3", [](Model& m) { m.materials[1].alphaMode = 3; },
         [=](const KmdlLayout& l) { return at(material(1)(l), message); }},
        {"infinite colour", [](Model& m) { m.materials[0].baseColor[3] = kInfinity; },
         [=](const KmdlLayout& l) { return at(material(0)(l), message); }},
        {"absolute texture", [](Model& m) { m.materials[0].texture = "/a.png"; },
         [=](const KmdlLayout& l) { return at(material(0)(l), message); }},
        {"empty name", [](Model& m) { m.materials[1].name = ""; },
         [](const KmdlLayout&) { return at(44, "material name is empty"); }},
    });
    // The double-sided flag is 0 or 1 in the file.
    const Model model = richModel();
    std::vector<std::byte> bytes = writeModel(model);
    const KmdlLayout layout = layoutOf(model, bytes);
    patchU32(bytes, layout.materials + 32 + 28, 2);
    expectError([&] { parse(bytes); }, at(layout.materials + 32, message));
}

TEST(KmdlReader, AppliesTexturePathRules) {
    for (const char* path : {"textures/body.png", "a.png", "deep/er/still/x.png", "n\xC3\xA4me.png", "del\x7F.png",
                             "..a/b..png", ".hidden/x"}) {
        SCOPED_TRACE(path);
        Model model = richModel();
        model.materials[0].texture = path;
        const Model decoded = parse(writeModel(model));
        EXPECT_EQ(decoded.materials[0].texture, path);
    }
    for (const char* path : {"textures//body.png", "textures/./a.png", "../a.png", "/a.png", "\\a.png", "C:a.png",
                             "a\\b.png", "a?.png", "a*.png", "a<b", "a>b", "a|b", "say\"x\"", "tab\t.png",
                             "textures/", "./a.png", "a/..", "."}) {
        SCOPED_TRACE(path);
        Model model = richModel();
        model.materials[0].texture = path;
        const std::vector<std::byte> bytes = writeModel(model);
        expectError([&] { parse(bytes); },
                    at(layoutOf(model, bytes).materials, "material contains invalid values or texture path"));
    }
}

TEST(KmdlReader, RejectsMeshes) {
    const auto mesh = [](std::size_t i, std::size_t extra = 0) {
        return [=](const KmdlLayout& l) { return l.meshes[i] + extra; };
    };
    const std::string header = "mesh header contains invalid references or counts";
    const std::string badFloat = "vertex contains invalid floating-point data";
    runModelCases({
        {"node -1", [](Model& m) { m.meshes[1].node = -1; }, [=](const KmdlLayout& l) { return at(mesh(1)(l), header); }},
        {"node past the end", [](Model& m) { m.meshes[1].node = 5; },
         [=](const KmdlLayout& l) { return at(mesh(1)(l), header); }},
        {"skin -2", [](Model& m) { m.meshes[1].skin = -2; }, [=](const KmdlLayout& l) { return at(mesh(1)(l), header); }},
        {"skin past the end", [](Model& m) { m.meshes[0].skin = 1; },
         [=](const KmdlLayout& l) { return at(mesh(0)(l), header); }},
        {"material -2", [](Model& m) { m.meshes[0].material = -2; },
         [=](const KmdlLayout& l) { return at(mesh(0)(l), header); }},
        {"material past the end", [](Model& m) { m.meshes[0].material = 2; },
         [=](const KmdlLayout& l) { return at(mesh(0)(l), header); }},
        {"no vertices", [](Model& m) { m.meshes[1].vertices.clear(); },
         [=](const KmdlLayout& l) { return at(mesh(1)(l), header); }},
        {"no indices", [](Model& m) { m.meshes[1].indices.clear(); },
         [=](const KmdlLayout& l) { return at(mesh(1)(l), header); }},
        {"indices not triangles", [](Model& m) { m.meshes[1].indices.push_back(0); },
         [=](const KmdlLayout& l) { return at(mesh(1)(l), header); }},
        {"NaN position", [](Model& m) { m.meshes[1].vertices[2].position[0] = kNaN; },
         [=](const KmdlLayout& l) { return at(mesh(1, 24 + 56 * 2)(l), badFloat); }},
        {"infinite uv", [](Model& m) { m.meshes[1].vertices[0].uv[1] = kInfinity; },
         [=](const KmdlLayout& l) { return at(mesh(1, 24)(l), badFloat); }},
        {"NaN normal on a skinned mesh", [](Model& m) { m.meshes[0].vertices[3].normal[2] = kNaN; },
         [=](const KmdlLayout& l) { return at(mesh(0, 24 + 56 * 3)(l), badFloat); }},
        {"negative weight on a rigid mesh", [](Model& m) { m.meshes[1].vertices[1].weights[3] = -0.25f; },
         [=](const KmdlLayout& l) { return at(mesh(1, 24 + 56)(l), badFloat); }},
        {"joint outside the palette", [](Model& m) { m.meshes[0].vertices[3].joints[1] = 2; },
         [=](const KmdlLayout& l) { return at(mesh(0, 24 + 56 * 3)(l), "vertex joint is outside its skin palette"); }},
        {"weights sum to 0.97", [](Model& m) { m.meshes[0].vertices[1].weights = {0.5f, 0.47f, 0.0f, 0.0f}; },
         [=](const KmdlLayout& l) { return at(mesh(0, 24 + 56)(l), "skinned vertex weights do not sum to one"); }},
        {"weights sum to 1.03", [](Model& m) { m.meshes[0].vertices[0].weights = {0.5f, 0.53f, 0.0f, 0.0f}; },
         [=](const KmdlLayout& l) { return at(mesh(0, 24)(l), "skinned vertex weights do not sum to one"); }},
        {"index equal to the vertex count", [](Model& m) { m.meshes[0].indices[5] = 4; },
         [=](const KmdlLayout& l) {
             return at(mesh(0, 24 + 56 * 4 + 4 * 5)(l), "triangle index is outside the vertex buffer");
         }},
        {"mesh skin differs from its node's", [](Model& m) { m.nodes[3].skin = 0; },
         [](const KmdlLayout&) { return at(0, "mesh skin does not match its owning node"); }},
        {"node claims no mesh but has one", [](Model& m) { m.nodes[3].firstMesh = -1; },
         [](const KmdlLayout&) { return at(0, "node first-mesh reference is inconsistent"); }},
        {"node claims a mesh it does not have", [](Model& m) { m.nodes[0].firstMesh = 1; },
         [](const KmdlLayout&) { return at(0, "node first-mesh reference is inconsistent"); }},
    });
    // Weights at the edges of [0.98, 1.02] and zero-weight slots with any joint pass.
    Model model = richModel();
    model.meshes[0].vertices[0].weights = {0.49f, 0.49f, 0.0f, 0.0f};
    model.meshes[0].vertices[1].weights = {0.51f, 0.51f, 0.0f, 0.0f};
    model.meshes[0].vertices[2].joints = {1, 65535, 0, 2};
    model.meshes[0].vertices[2].weights = {1.0f, 0.0f, -0.0f, 0.0f};
    EXPECT_NO_THROW(parse(writeModel(model)));
}

TEST(KmdlReader, RecordsTheLowestMeshOfANode) {
    Model model = richModel();
    Mesh extra = model.meshes[1];
    extra.name = "second sword";
    model.meshes.push_back(extra);  // node 3 keeps mesh 1 as its first
    EXPECT_EQ(parse(writeModel(model)).nodes[3].firstMesh, 1);
    model.nodes[3].firstMesh = 2;
    expectError([&] { parse(writeModel(model)); }, at(0, "node first-mesh reference is inconsistent"));
}

TEST(KmdlReader, RejectsClips) {
    const auto clip = [](std::size_t i, std::size_t extra = 0) {
        return [=](const KmdlLayout& l) { return l.clips[i] + extra; };
    };
    const std::string header = "animation clip header is invalid";
    const auto resize = [](AnimationClip& c, u32 frames, u32 nodes) {
        c.frameCount = frames;
        c.nodeCount = nodes;
        c.samples.assign(std::size_t{frames} * nodes, Transform{});
    };
    runModelCases({
        {"duplicated name", [](Model& m) { m.clips[2].name = "walk"; },
         [=](const KmdlLayout& l) { return at(clip(2)(l), "animation clip name is duplicated"); }},
        {"duplicated name before an invalid header", [](Model& m) {
             m.clips[1].name = "idle";
             m.clips[1].sampleRate = -1.0f;
         },
         [=](const KmdlLayout& l) { return at(clip(1)(l), "animation clip name is duplicated"); }},
        {"NaN duration", [](Model& m) { m.clips[0].duration = kNaN; },
         [=](const KmdlLayout& l) { return at(clip(0)(l), header); }},
        {"negative duration", [](Model& m) { m.clips[2].duration = -0.5f; },
         [=](const KmdlLayout& l) { return at(clip(2)(l), header); }},
        {"zero sample rate", [](Model& m) { m.clips[1].sampleRate = 0.0f; },
         [=](const KmdlLayout& l) { return at(clip(1)(l), header); }},
        {"infinite sample rate", [](Model& m) { m.clips[1].sampleRate = kInfinity; },
         [=](const KmdlLayout& l) { return at(clip(1)(l), header); }},
        {"sample rate above 1000", [](Model& m) { m.clips[1].sampleRate = 1000.1f; },
         [=](const KmdlLayout& l) { return at(clip(1)(l), header); }},
        {"one frame", [=](Model& m) { resize(m.clips[2], 1, 5); },
         [=](const KmdlLayout& l) { return at(clip(2)(l), header); }},
        {"node count differs", [=](Model& m) { resize(m.clips[2], 2, 4); },
         [=](const KmdlLayout& l) { return at(clip(2)(l), header); }},
        {"frames beyond duration x rate", [=](Model& m) { resize(m.clips[0], 17, 5); },
         [=](const KmdlLayout& l) {
             return at(clip(0)(l), "animation frame count is inconsistent with duration and sample rate");
         }},
        {"frames short of duration x rate", [=](Model& m) { resize(m.clips[0], 15, 5); },
         [=](const KmdlLayout& l) {
             return at(clip(0)(l), "animation frame count is inconsistent with duration and sample rate");
         }},
        {"duration x rate beyond the frame limit", [=](Model& m) {
             m.clips[1].duration = 1001.0f;
             m.clips[1].sampleRate = 1000.0f;
             resize(m.clips[1], 2, 5);
         },
         [=](const KmdlLayout& l) { return at(clip(1)(l), "animation duration/sample-rate product exceeds limits"); }},
        {"infinite sample", [](Model& m) { m.clips[1].samples[7].scale[0] = kInfinity; },
         [=](const KmdlLayout& l) { return at(clip(1, 20 + 40 * 7)(l), "animation TRS contains NaN or infinity"); }},
        {"non-unit sample", [](Model& m) { m.clips[0].samples[79].rotation = {0.0f, 0.0f, 0.0f, 2.0f}; },
         [=](const KmdlLayout& l) { return at(clip(0, 20 + 40 * 79)(l), "animation TRS has a non-unit quaternion"); }},
        {"empty name", [](Model& m) { m.clips[0].name.clear(); },
         [](const KmdlLayout&) { return at(44, "clip name is empty"); }},
    });
}

TEST(KmdlReader, DerivesFrameCountsFromDurationAndRate) {
    const struct {
        f32 duration;
        f32 rate;
        u32 frames;
    } cases[] = {{0.5f, 30.0f, 16}, {0.51f, 30.0f, 17}, {0.0f, 30.0f, 2}, {0.875f, 4.0f, 5}, {1.0f, 10.0f, 11},
                 {0.01f, 1.0f, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.duration) + " s at " + std::to_string(c.rate));
        Model model = minimalModel();
        AnimationClip clip = makeClip("c", c.duration, c.rate, 1, [](u32, u32) { return Transform{}; });
        ASSERT_EQ(clip.frameCount, c.frames);
        model.clips.push_back(clip);
        EXPECT_EQ(parse(writeModel(model)).clips[0].frameCount, c.frames);
    }
}

TEST(KmdlReader, ReportsTruncationWhereTheMissingDataStarts) {
    const Model model = richModel();
    const std::vector<std::byte> bytes = writeModel(model);
    const KmdlLayout l = layoutOf(model, bytes);
    const struct {
        const char* name;
        std::size_t size;
        std::string message;
    } cases[] = {
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
        {"clip samples", l.clips[1] + 20 + 40 * 25 - 1, at(l.clips[1] + 20, "animation samples are truncated")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectError([&] { parse(truncatedTo(bytes, c.size)); }, c.message);
    }
    std::vector<std::byte> trailing = bytes;
    trailing.push_back(std::byte{0});
    expectError([&] { parse(trailing); }, at(bytes.size(), "trailing bytes after final animation clip"));
}

TEST(KmdlReader, SmallFileClaimingManyRecordsFailsOnTruncation) {
    std::vector<std::byte> bytes = minimalFile();
    patchU32(bytes, 24, 65'536);  // meshes
    patchU32(bytes, 32, 4'096);   // clips
    expectError([&] { parse(bytes); }, at(142, "mesh name is truncated"));
}

TEST(KmdlReader, LoadsFilesAndNamesThemByPath) {
    ScratchDirectory scratch;
    const Model source = richModel();
    const std::vector<std::byte> bytes = writeModel(source);
    const std::filesystem::path good = scratch.write("rich.kmdl", bytes);
    Model loaded = loadModelFile(good, {});
    EXPECT_EQ(loaded.sha256, sha256Digest(bytes));
    loaded.sha256 = {};
    EXPECT_EQ(loaded, source);

    std::vector<std::byte> broken = bytes;
    patchU32(broken, 40, 1);
    const std::filesystem::path bad = scratch.write("broken.kmdl", broken);
    expectError([&] { loadModelFile(bad, {}); }, bad.string() + " at byte 40: unknown required flags are set");
    ModelLimits small;
    small.maxFileBytes = bytes.size() - 1;
    expectError([&] { loadModelFile(good, small); },
                "Kestrune Model exceeds configured file-size limit: " + good.string());
    const std::filesystem::path missing = scratch.file("missing.kmdl");
    expectError([&] { loadModelFile(missing, {}); }, "cannot open Kestrune Model: " + missing.string());
}

}  // namespace
}  // namespace kestrune::content
