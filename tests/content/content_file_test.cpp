#include "content/content_file.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "content_test_support.h"

namespace kestrune::content {
namespace {

using namespace test;

// The failures of reading a whole file are checked where models and images are loaded.
TEST(ReadWholeFile, ReadsInPiecesAndReportsEachPrefix) {
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
    EXPECT_EQ(sizes.front(), 7u);
    EXPECT_EQ(sizes[13], 98u);
    EXPECT_EQ(sizes.back(), 100u);
    // In one piece at exactly the size limit, and an empty file.
    EXPECT_EQ(readWholeFile(path, 100, ContentFileKind::Png), bytes);
    EXPECT_TRUE(readWholeFile(scratch.write("empty.bin", {}), 0, ContentFileKind::Png).empty());
}

TEST(ExpectedModelDigest, DecodesEitherCaseAndRejectsAnythingElse) {
    EXPECT_FALSE(decodeExpectedModelDigest(std::nullopt).has_value());
    const auto digest = decodeExpectedModelDigest("00aB" + std::string(58, 'f') + "9C");
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
