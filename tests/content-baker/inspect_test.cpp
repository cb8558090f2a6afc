// kestrune-bake's command line in-process: inspect reports through the runtime decoders and
// fails with exactly their message and exit code 1; bad arguments print the usage.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "bake.h"
#include "effect_content.h"
#include "baker_commands.h"
#include "content/content_test_support.h"
#include "content/kmdl_reader.h"
#include "content/png.h"
#include "content/sha256.h"

namespace kestrune::baker {
namespace {

const std::string kUsage =
    "usage: kestrune-bake --out=DIR\n"
    "       kestrune-bake inspect FILE [--sha256=HEX]\n";

struct CommandResult {
    int code;
    std::string out;
    std::string err;
};

CommandResult run(const std::vector<std::string>& arguments) {
    const std::vector<std::string_view> views(arguments.begin(), arguments.end());
    std::ostringstream out, err;
    const int code = runBakerCommand(views, out, err);
    return {code, out.str(), err.str()};
}

template <class Load>
std::string failureOf(Load load) {
    try {
        load();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no failure";
}

const BakedFile& bakedFile(const std::vector<BakedFile>& files, const std::string& path) {
    for (const BakedFile& file : files) {
        if (file.path == path) return file;
    }
    throw std::runtime_error("not baked: " + path);
}

TEST(InspectCommand, FailsWithTheDecodersMessageAndExitCodeOne) {
    const content::test::ScratchDirectory scratch;
    const std::vector<BakedFile> files = bakeEffects();
    const std::vector<std::byte>& model = bakedFile(files, "effects/models/impact_energy/effect.kmdl").bytes;
    std::vector<std::byte> corrupt = model;
    corrupt[40] = std::byte{1};  // a flag no decoder knows
    const auto truncatedPath = scratch.write("truncated.kmdl", std::span(model).first(300)).string();
    const auto corruptPath = scratch.write("corrupt.kmdl", corrupt).string();
    const auto pngPath =
        scratch.write("ring.png", bakedFile(files, "effects/textures/wrchargedash04.png").bytes).string();
    const std::string wrongDigest(64, 'A');
    const auto modelFailure = [](const std::string& path) {
        return failureOf([&] { content::loadModelFile(path, {}); });
    };
    content::ImageLimits pinned;
    pinned.expectedSha256 = wrongDigest;

    const struct {
        const char* name;
        std::vector<std::string> arguments;
        std::string err;
    } cases[] = {
        {"truncated model", {"inspect", truncatedPath}, modelFailure(truncatedPath) + "\n"},
        {"unknown flag", {"inspect", corruptPath}, modelFailure(corruptPath) + "\n"},
        {"missing file", {"inspect", scratch.file("absent.kmdl").string()},
         modelFailure(scratch.file("absent.kmdl").string()) + "\n"},
        {"digest mismatch", {"inspect", pngPath, "--sha256=" + wrongDigest},
         failureOf([&] { content::loadPngImage(pngPath, pinned); }) + "\n"},
        {"no file", {"inspect"}, "kestrune-bake: inspect needs a FILE\n" + kUsage},
        {"empty output directory", {"--out="}, "kestrune-bake: unknown argument: --out=\n" + kUsage},
        {"no arguments", {}, "kestrune-bake: --out=DIR is required\n" + kUsage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult result = run(c.arguments);
        EXPECT_EQ(result.code, 1);
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.out, "");
    }
    EXPECT_NE(modelFailure(corruptPath), modelFailure(truncatedPath));
}

TEST(InspectCommand, SummarisesAModelAndAnImage) {
    const content::test::ScratchDirectory scratch;
    const std::vector<BakedFile> files = bakeEffects();
    const BakedFile& model = bakedFile(files, "effects/models/impact_ground/effect.kmdl");
    const auto modelPath = scratch.write("ground.kmdl", model.bytes).string();
    const auto pngPath =
        scratch.write("IMAGE.PNG", bakedFile(files, "effects/textures/mtminoattack02.png").bytes).string();
    const content::Model decoded = content::parseModel(model.bytes, {}, "ground.kmdl");

    const CommandResult modelRun = run({"inspect", modelPath});
    EXPECT_EQ(modelRun.code, 0);
    EXPECT_EQ(modelRun.err, "");
    const std::string triangles = std::to_string(decoded.meshes[0].indices.size() / 3);
    const std::string vertices = std::to_string(decoded.meshes[0].vertices.size());
    EXPECT_EQ(modelRun.out, modelPath + ": Kestrune Model\n  SHA-256 " + content::toHexUpper(decoded.sha256) +
                                "\n  nodes 1 (1 root)\n  skins 0\n  meshes 1\n    cracked_ground: " + vertices +
                                " vertices, " + triangles + " triangles, material cracked_ground, rigid\n"
                                "  materials 1\n    cracked_ground: no texture, opaque\n  clips 0\n");

    const CommandResult imageRun = run({"inspect", pngPath});
    EXPECT_EQ(imageRun.code, 0);
    EXPECT_NE(imageRun.out.find(": PNG\n  SHA-256 "), std::string::npos);
    EXPECT_NE(imageRun.out.find("  128 x 128 pixels, RGBA8, "), std::string::npos);
}

}  // namespace
}  // namespace kestrune::baker
