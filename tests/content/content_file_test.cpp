#include "content/content_file.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "content_test_support.h"

namespace kestrune::content {
namespace {

using namespace test;

TEST(ReadWholeFile, ReadsInPiecesAndReportsEachPrefix) {
    ScratchDirectory scratch;
    std::vector<std::byte> bytes(100);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::byte>(i + 1);
    const auto path = scratch.write("data.bin", bytes);
    std::vector<std::size_t> sizes;
    const std::byte* start = nullptr;
    bool sameStart = true;
    bool prefixesMatch = true;
    std::vector<std::byte> read(3, std::byte{9});  // whatever it held is replaced
    readWholeFileInPieces(path, 100, ContentFileKind::KestruneModel, read, 7, [&](std::span<const std::byte> soFar) {
            if (start == nullptr) start = soFar.data();
            sameStart = sameStart && soFar.data() == start;
            prefixesMatch = prefixesMatch && std::equal(soFar.begin(), soFar.end(), bytes.begin());
            sizes.push_back(soFar.size());
        });
    EXPECT_EQ(read, bytes);
    EXPECT_EQ(read.data(), start);
    EXPECT_TRUE(sameStart);
    EXPECT_TRUE(prefixesMatch);
    ASSERT_EQ(sizes.size(), 15u);  // 14 pieces of 7 and one of 2
    EXPECT_EQ(sizes.front(), 7u);
    EXPECT_EQ(sizes[13], 98u);
    EXPECT_EQ(sizes.back(), 100u);
    // In one piece, and an empty file.
    EXPECT_EQ(readWholeFile(path, 100, ContentFileKind::Png), bytes);
    EXPECT_TRUE(readWholeFile(scratch.write("empty.bin", {}), 0, ContentFileKind::Png).empty());
}

TEST(ReadWholeFile, NamesKindAndPathInEveryFailure) {
    ScratchDirectory scratch;
    const std::vector<std::byte> bytes(100, std::byte{1});
    const auto path = scratch.write("file.bin", bytes);
    const auto missing = scratch.file("missing.bin");
    const struct {
        const char* name;
        std::filesystem::path path;
        u64 limit;
        ContentFileKind kind;
        std::string message;
    } cases[] = {
        {"missing model", missing, 100, ContentFileKind::KestruneModel, "cannot open Kestrune Model: " + missing.string()},
        {"missing PNG", missing, 100, ContentFileKind::Png, "cannot open PNG: " + missing.string()},
        {"model one byte over", path, 99, ContentFileKind::KestruneModel,
         "Kestrune Model exceeds configured file-size limit: " + path.string()},
        {"PNG one byte over", path, 99, ContentFileKind::Png, "PNG exceeds configured file-size limit: " + path.string()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectError([&] { readWholeFile(c.path, c.limit, c.kind); }, c.message);
    }
}

TEST(ExpectedModelDigest, DecodesEitherCaseAndRejectsAnythingElse) {
    EXPECT_FALSE(decodeExpectedModelDigest(std::nullopt).has_value());
    const std::string mixed = "00aB" + std::string(58, 'f') + "9C";
    const auto digest = decodeExpectedModelDigest(mixed);
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ((*digest)[0], 0x00);
    EXPECT_EQ((*digest)[1], 0xAB);
    EXPECT_EQ((*digest)[2], 0xFF);
    EXPECT_EQ((*digest)[31], 0x9C);
    for (const std::string bad : {std::string(63, 'a'), std::string(65, 'a'), std::string(), std::string(63, 'a') + "g",
                                  "G" + std::string(63, '0'), std::string(62, '0') + "0x", std::string(63, '0') + "/",
                                  std::string(63, '0') + ":", std::string(63, '0') + "@", std::string(63, '0') + "`",
                                  std::string(63, '0') + " "}) {
        SCOPED_TRACE(bad);
        expectError([&] { decodeExpectedModelDigest(bad); },
                    "expected SHA-256 must contain exactly 64 hexadecimal characters");
    }
}

}  // namespace
}  // namespace kestrune::content
