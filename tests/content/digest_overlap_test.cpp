// Large models are hashed on a second thread while they are read and decoded. These
// cases run under ThreadSanitizer too: the reported failure must still be the first in
// the documented order, and the thread must be done with the bytes before they go.
#include "content/kmdl_reader.h"
#include "content/kmdl_writer.h"
#include "content/sha256.h"
#include "content_test_support.h"
#include "sample_models.h"

namespace kestrune::content {
namespace {

using namespace test;

// A file over 1 MiB hashes on a second thread while parseModel decodes; loadModelFile hashes
// while it reads, in pieces of several MiB: a file of a few pieces.
TEST(DigestOverlap, TheDigestDecidesBeforeDecodingFailures) {
    ScratchDirectory scratch;
    // Vertices of 56 bytes each.
    const struct { const char* name; std::size_t vertexCount, minimumBytes; bool fromFile; } cases[] = {
        {"parsed", 20'000, std::size_t{1} << 20, false}, {"loaded", 400'000, std::size_t{20} << 20, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Model model = minimalModel();
        model.meshes = {{.name = "big", .vertices = std::vector<Vertex>(c.vertexCount), .indices = {0, 1, 2}}};
        model.nodes[0].firstMesh = 0;
        std::vector<std::byte> bytes = writeModel(model);
        ASSERT_GT(bytes.size(), c.minimumBytes);
        const std::filesystem::path path = scratch.write("big.kmdl", bytes);
        const auto load = [&](const ModelLimits& limits) {
            return c.fromFile ? loadModelFile(path, limits) : parseModel(bytes, limits, path.string());
        };
        EXPECT_EQ(load({}).sha256, sha256Digest(bytes));

        bytes.push_back(std::byte{0});
        scratch.write("big.kmdl", bytes);
        const std::string actual = toHexUpper(sha256Digest(bytes));
        expectError([&] { load({.expectedSha256 = actual}); },
                    path.string() + " at byte " + std::to_string(bytes.size() - 1) +
                        ": trailing bytes after final animation clip");
        expectError([&] { load({.expectedSha256 = std::string(64, 'F')}); },
                    path.string() + ": SHA-256 mismatch (actual " + actual + ")");
        // Loaded, this is refused after the whole file was read and hashed: the job stops
        // before the bytes go.
        expectError([&] { load({.expectedSha256 = "xyz"}); },
                    "expected SHA-256 must contain exactly 64 hexadecimal characters");
    }
}

}  // namespace
}  // namespace kestrune::content
