// Large models are hashed on a second thread while they are read and decoded. These
// cases run under ThreadSanitizer too: the reported failure must still be the first in
// the documented order, and the thread must be done with the bytes before they go.
#include <gtest/gtest.h>

#include "content/kmdl_reader.h"
#include "content/kmdl_writer.h"
#include "content/sha256.h"
#include "content_test_support.h"
#include "kmdl_test_support.h"
#include "sample_models.h"

namespace kestrune::content {
namespace {

using namespace test;

// The minimal model with one mesh of `vertexCount` vertices: 56 bytes each.
Model modelWithMesh(std::size_t vertexCount) {
    Model model = minimalModel();
    Mesh mesh;
    mesh.name = "big";
    mesh.node = 0;
    mesh.vertices.assign(vertexCount, Vertex{});
    mesh.indices = {0, 1, 2};
    model.meshes.push_back(mesh);
    model.nodes[0].firstMesh = 0;
    return model;
}

// Large files hash on a second thread while decoding runs: the digest still decides first.
TEST(DigestOverlap, ParsedLargeFileReportsDigestBeforeDecodingFailures) {
    std::vector<std::byte> bytes = writeModel(modelWithMesh(20'000));
    ASSERT_GT(bytes.size(), std::size_t{1} << 20);
    EXPECT_EQ(parse(bytes).sha256, sha256Digest(bytes));

    bytes.push_back(std::byte{0});
    const std::string actual = toHexUpper(sha256Digest(bytes));
    ModelLimits right;
    right.expectedSha256 = actual;
    expectError([&] { parse(bytes, right); }, at(bytes.size() - 1, "trailing bytes after final animation clip"));
    ModelLimits wrong;
    wrong.expectedSha256 = std::string(64, '0');
    expectError([&] { parse(bytes, wrong); }, unpositioned("SHA-256 mismatch (actual " + actual + ")"));
}

// loadModelFile hashes while it reads, in pieces of several MiB: a file of a few pieces.
TEST(DigestOverlap, LoadedMultiPieceFileKeepsTheOrderOfFailures) {
    ScratchDirectory scratch;
    std::vector<std::byte> bytes = writeModel(modelWithMesh(400'000));
    ASSERT_GT(bytes.size(), std::size_t{20} << 20);
    const auto good = scratch.write("big.kmdl", bytes);
    EXPECT_EQ(loadModelFile(good, {}).sha256, sha256Digest(bytes));

    bytes.push_back(std::byte{0});
    const auto trailing = scratch.write("trailing.kmdl", bytes);
    const std::string actual = toHexUpper(sha256Digest(bytes));
    ModelLimits right;
    right.expectedSha256 = actual;
    expectError([&] { loadModelFile(trailing, right); },
                trailing.string() + " at byte " + std::to_string(bytes.size() - 1) +
                    ": trailing bytes after final animation clip");
    ModelLimits wrong;
    wrong.expectedSha256 = std::string(64, 'F');
    expectError([&] { loadModelFile(trailing, wrong); },
                trailing.string() + ": SHA-256 mismatch (actual " + actual + ")");
    // Refused after the whole file was read and hashed: the job stops before the bytes go.
    ModelLimits malformed;
    malformed.expectedSha256 = "xyz";
    expectError([&] { loadModelFile(trailing, malformed); },
                "expected SHA-256 must contain exactly 64 hexadecimal characters");
}

}  // namespace
}  // namespace kestrune::content
