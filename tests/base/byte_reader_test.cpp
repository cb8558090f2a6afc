#include <gtest/gtest.h>

#include <array>
#include <stdexcept>
#include <string>

#include "base/byte_reader.h"
#include "base/byte_writer.h"

namespace kestrune {
namespace {

struct Truncated : std::runtime_error {
    using std::runtime_error::runtime_error;
};

auto throwTruncated() {
    return [](std::size_t offset, std::string_view label) {
        throw Truncated(std::string(label) + " at " + std::to_string(offset));
    };
}

TEST(ByteWriterAndReader, RoundTripInLittleEndianOrder) {
    ByteWriter writer;
    writer.u8le(0xAB);
    writer.u16le(0x1234);
    writer.u32le(0);
    writer.u64le(0x1122334455667788ull);
    writer.i32le(-450);
    writer.f32le(1.5f);
    writer.patchU32le(3, 0x01020304);  // over a placeholder written above

    const auto bytes = writer.bytes();
    ASSERT_EQ(bytes.size(), 1u + 2 + 4 + 8 + 4 + 4);
    EXPECT_EQ(bytes[1], std::byte{0x34});
    EXPECT_EQ(bytes[3], std::byte{0x04});  // 0x01020304 is stored as 04 03 02 01
    EXPECT_EQ(bytes[6], std::byte{0x01});
    EXPECT_EQ(bytes[7], std::byte{0x88});
    EXPECT_EQ(bytes[15], std::byte{0x3E});  // -450 = 0xFFFFFE3E
    EXPECT_EQ(bytes[18], std::byte{0xFF});

    ByteReader reader(bytes, throwTruncated());
    EXPECT_EQ(reader.u8le("a"), 0xAB);
    EXPECT_EQ(reader.u16le("b"), 0x1234);
    EXPECT_EQ(reader.u32le("c"), 0x01020304u);
    EXPECT_EQ(reader.u64le("d"), 0x1122334455667788ull);
    EXPECT_EQ(reader.i32le("e"), -450);
    EXPECT_EQ(reader.f32le("f"), 1.5f);
    EXPECT_TRUE(reader.atEnd());
}

TEST(ByteReader, TruncatedReadReportsLabelAndOffsetAndDoesNotMove) {
    const std::array<std::byte, 5> bytes{};
    ByteReader reader(bytes, throwTruncated());
    reader.u16le("first");
    try {
        reader.u32le("second");
        FAIL() << "expected a truncation";
    } catch (const Truncated& error) {
        EXPECT_STREQ(error.what(), "second at 2");
    }
    EXPECT_EQ(reader.offset(), 2u);
    // A size that would wrap the offset past zero is refused too.
    EXPECT_THROW(reader.take(SIZE_MAX - 1, "huge"), Truncated);
    EXPECT_EQ(reader.remaining(), 3u);
    EXPECT_EQ(reader.take(3, "rest").size(), 3u);
    EXPECT_THROW(reader.u8le("past the end"), Truncated);
}

}  // namespace
}  // namespace kestrune
