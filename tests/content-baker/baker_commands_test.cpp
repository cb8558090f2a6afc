// kestrune-bake's command line in-process: inspect reports through the runtime decoders and
// fails with exactly their message and exit code 1, preview draws through the renderer,
// bad arguments print the usage.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "bake.h"
#include "characters.h"
#include "effect_content.h"
#include "baker_commands.h"
#include "content/content_test_support.h"
#include "content/animation.h"
#include "content/kmdl_reader.h"
#include "content/png.h"
#include "content/sha256.h"
#include "model_checks.h"

namespace kestrune::baker {
namespace {

using test::bakedFile;

const std::string kUsage =
    "usage: kestrune-bake --out=DIR\n"
    "       kestrune-bake inspect FILE [--sha256=HEX]\n"
    "       kestrune-bake preview FILE --clip=NAME --time=SECONDS --out=IMAGE.bmp|.png\n"
    "                            [--size=WxH] [--orbit=DEGREES]\n"
    "       kestrune-bake import MODEL.gltf|MODEL.glb --out=DIR [--class=warrior|templar] [--clip=NAME=SOURCE]...\n"
    "                            [--sample-rate=N] [--height=METRES]\n"
    "       kestrune-bake --help\n";

struct CommandResult { int code; std::string out; std::string err; };

CommandResult run(const std::vector<std::string>& arguments) {
    const std::vector<std::string_view> views(arguments.begin(), arguments.end());
    std::ostringstream out, err;
    const int code = runBakerCommand(views, out, err);
    return {code, out.str(), err.str()};
}

template <class Load> std::string failureOf(Load load) {
    try {
        load();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no failure";
}

// A complaint about the arguments, then the usage.
std::string usage(const std::string& complaint) { return "kestrune-bake: " + complaint + "\n" + kUsage; }

// Inspect summarises a model; failures exit with code 1 and the decoder's message or the usage
// on stderr; --help prints the usage on stdout and exits with 0.
TEST(BakerCommands, InspectOrFailWithTheDecodersMessageOrTheUsageOrPrintItForHelp) {
    const content::test::ScratchDirectory scratch;
    const std::vector<BakedFile> files = bakeEffects();
    const std::vector<std::byte>& model = bakedFile(files, "effects/models/impact_energy/effect.kmdl").bytes;
    const auto truncatedPath = scratch.write("truncated.kmdl", std::span(model).first(300)).string();
    const auto modelPath = scratch.write("energy.kmdl", model).string();
    const std::vector<std::byte>& png = bakedFile(files, "effects/textures/mtminoattack02.png").bytes;
    const auto pngPath = scratch.write("IMAGE.PNG", png).string();
    const std::vector<std::byte>& ground = bakedFile(files, "effects/models/impact_ground/effect.kmdl").bytes;
    const auto groundPath = scratch.write("ground.kmdl", ground).string();
    const content::Model decoded = content::parseModel(ground, {}, "ground.kmdl");
    const std::string wrongDigest(64, 'A');
    const auto modelFailure = [](std::string path) { return failureOf([&] { content::loadModelFile(path, {}); }); };

    const struct {
        const char* name; std::vector<std::string> arguments; std::string err; int code = 1; std::string out = "";
    } cases[] = {
        {"a model", {"inspect", groundPath}, "", 0,
         groundPath + ": Kestrune Model\n  SHA-256 " + content::toHexUpper(decoded.sha256) + "\n  nodes 1 (1 root)\n"
         "  skins 0\n  meshes 1\n    cracked_ground: " + std::to_string(decoded.meshes[0].vertices.size()) +
         " vertices, " + std::to_string(decoded.meshes[0].indices.size() / 3) + " triangles, material cracked_ground, "
         "rigid\n  materials 1\n    cracked_ground: no texture, opaque\n  clips 0\n"},
        {"an image", {"inspect", pngPath}, "", 0,
         pngPath + ": PNG\n  SHA-256 " + content::toHexUpper(content::sha256Digest(png)) +
             "\n  128 x 128 pixels, RGBA8, " + std::to_string(png.size()) + " bytes\n"},
        // Any decoder failure takes this one path: the content suite tells the failures apart.
        {"truncated model", {"inspect", truncatedPath}, modelFailure(truncatedPath) + "\n"},
        {"digest mismatch", {"inspect", pngPath, "--sha256=" + wrongDigest},
         failureOf([&] { content::loadPngImage(pngPath, {.expectedSha256 = wrongDigest}); }) + "\n"},
        {"no file", {"inspect"}, usage("inspect needs a FILE")},
        {"empty output directory", {"--out="}, usage("unknown argument: --out=")},
        {"no arguments", {}, usage("--out=DIR is required")},
        {"unknown clip", {"preview", modelPath, "--clip=NOPE", "--out=x.bmp"}, modelPath + " has no clip NOPE\n"},
        {"preview without output", {"preview", modelPath}, usage("preview needs a FILE and --out=IMAGE.bmp")},
        {"preview too small", {"preview", modelPath, "--out=x.bmp", "--size=15x100"},
         usage("--size needs WxH with sides of 16 to 8192 pixels, not \"15x100\"")},
        {"bad time", {"preview", modelPath, "--out=x.bmp", "--time=1s"}, usage("--time needs a number, not \"1s\"")},
        {"import without output", {"import", "a.gltf"}, usage("import needs a MODEL and --out=DIR")},
        {"unknown class", {"import", "a.gltf", "--out=d", "--class=archer"},
         usage("--class needs warrior or templar, not \"archer\"")},
        {"empty source", {"import", "a.gltf", "--out=d", "--clip=x="}, usage("--clip needs NAME=SOURCE, not \"x=\"")},
        {"sample rate above the limit", {"import", "a.gltf", "--out=d", "--sample-rate=1000.5"},
         usage("--sample-rate needs a rate above 0 and at most 1000, not \"1000.5\"")},
        {"height without class", {"import", "a.gltf", "--out=d", "--height=1.8"}, usage("--height needs --class")},
        {"missing model", {"import", scratch.file("absent.gltf").string(), "--out=d"},
         "cannot read " + scratch.file("absent.gltf").string() + "\n"},
        {"--help", {"--help"}, "", 0, kUsage}, {"-h", {"-h"}, "", 0, kUsage},
        {"help among other arguments", {"import", "x.gltf", "--help"}, "", 0, kUsage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult result = run(c.arguments);
        EXPECT_EQ(result.code, c.code);
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.out, c.out);
    }
}

int distance(const u8* a, const u8* b) { return std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]); }

// Each import says how tall the character stands (one that stands far from a person's height
// without --height was most likely authored in other units, and the warning names the option)
// and stands it on the ground facing its class's yaw, its left on the left. The imported
// CesiumMan, last, as the warrior: every clip of the class, and a preview drawn headless into a
// 96 x 128 picture with the character filling its middle, neither sky nor floor.
TEST(ImportCommand, StandsTheCharacterOnTheGroundSaysHowTallAndWritesADirectoryThatDrawsAsTheWarrior) {
    const content::test::ScratchDirectory scratch;
    const std::filesystem::path directory = scratch.file("warrior"), model = directory / "character.kmdl";
    const std::string warning =
        "warning: the character stands 9.15 m tall, far from a person's 0.5 to 4 m: the file is probably in other "
        "units than metres; import it again with --height=METRES (for example --height=1.8)\n";
    const struct {
        const char* sample; const ClassDrawConstants* draw; std::string height; const char* tall; std::string said = "";
    } cases[] = {
        {"RiggedSimple", &kWarriorDraw, "", "9.15", warning}, {"RiggedSimple", &kWarriorDraw, "1.8", "1.80"},
        {"RiggedSimple", &kTemplarDraw, "0.3", "0.30"},  // the player's choice
        {"CesiumMan", &kTemplarDraw, "", "1.46"}, {"CesiumMan", &kTemplarDraw, "0.9", "0.90"},
        {"CesiumMan", &kWarriorDraw, "1.8", "1.80"}, {"CesiumMan", &kWarriorDraw, "", "1.46"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.sample) + " as the " + c.draw->directory + " " + c.height);
        const std::string idle = c.draw->clipNames.front();
        std::vector<std::string> arguments{"import", (content::test::kTestData / "gltf" / c.sample).string() + ".gltf",
                                           "--out=" + directory.string(), "--class=" + std::string(c.draw->directory),
                                           "--clip=" + idle + "=#0"};
        if (!c.height.empty()) arguments.push_back("--height=" + c.height);
        const CommandResult result = run(arguments);
        ASSERT_EQ(std::tuple(result.code, result.err), std::tuple(0, ""));
        const std::string said = c.said + "standing height " + c.tall + " m (the idle pose)\n";
        // The files written follow on the same stream, as the bake's own test has their lines.
        EXPECT_TRUE(result.out.starts_with(said)) << result.out;

        const content::Model loaded = content::loadModelFile(model, {});
        EXPECT_EQ(loaded.clips.size(), c.draw->clipNames.size());
        for (const char* clip : c.draw->clipNames) EXPECT_NE(content::findClip(loaded, clip), nullptr) << clip;
        const auto drawn = [&](const test::Point& p) {
            return test::drawn(c.draw->yawOffsetRadians, c.draw->liftMetres, p);
        };
        std::vector<f64> heights;
        const std::vector<test::Point> points = test::skinnedPositions(loaded, test::posedGlobals(loaded, idle, 0.0));
        for (const test::Point& p : points) heights.push_back(drawn(p)[1]);
        const auto [low, high] = std::ranges::minmax(heights);
        EXPECT_NEAR(low, 0.0, 1e-4);
        EXPECT_NEAR(high - low, std::stod(c.tall), 0.006);
        if (std::string(c.sample) != "CesiumMan") continue;
        // The rest pose: the walk the idle is mapped to swings the feet.
        std::vector<content::Transform> rest;
        for (const content::Node& node : loaded.nodes) rest.push_back(node.transform);
        std::vector<content::Matrix4> globals(loaded.nodes.size());
        content::computeGlobalMatrices(loaded, rest, globals);
        const auto joint = [&](const std::string& name) {
            return drawn(test::jointPosition(globals, test::nodeNamed(loaded, name)));
        };
        // Yaw 0 faces +z: toes ahead of ankles. The character's right is +x.
        for (const std::string side : {"L", "R"}) {
            EXPECT_GT(joint("leg_joint_" + side + "_5")[2] - joint("leg_joint_" + side + "_3")[2], 0.01) << side;
        }
        EXPECT_LT(joint("leg_joint_L_1")[0], joint("leg_joint_R_1")[0]);
    }

    const std::string picture = scratch.file("run.png").string();
    const CommandResult preview =
        run({"preview", model.string(), "--clip=CH010305", "--time=0.5", "--out=" + picture, "--size=96x128"});
    ASSERT_EQ(std::tuple(preview.code, preview.err), std::tuple(0, ""));
    const content::DecodedImage image = content::loadPngImage(picture, {});
    ASSERT_EQ(std::tuple(image.width, image.height), std::tuple(96u, 128u));
    const auto at = [&](u32 x, u32 y) { return image.pixels.data() + y * image.stride + 4 * x; };
    // The sky above the floor's far edge, and the floor near the bottom corner: the
    // character, framed in the middle, is neither.
    const u8 *sky = at(2, 2), *floor = at(2, image.height - 3);
    EXPECT_GT(distance(sky, floor), 30);
    int character = 0, middle = 0;
    for (u32 y = image.height / 5; y < image.height * 9 / 10; ++y) {
        for (u32 x = image.width / 3; x < image.width * 2 / 3; ++x) {
            ++middle;
            character += distance(at(x, y), sky) > 40 && distance(at(x, y), floor) > 40 ? 1 : 0;
        }
    }
    EXPECT_GT(character * 3, middle);
}

}  // namespace
}  // namespace kestrune::baker
