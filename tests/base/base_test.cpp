#include <gmock/gmock.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "base/byte_reader.h"
#include "base/byte_writer.h"
#include "base/utf8.h"

namespace kestrune {
namespace {

struct Truncated : std::runtime_error { using std::runtime_error::runtime_error; };

const auto throwTruncated = [](std::size_t at, std::string_view label) {
    throw Truncated(std::string(label) + " at " + std::to_string(at));
};

TEST(ByteWriterAndReader, RoundTripInLittleEndianOrderAndReportTruncationWithoutMoving) {
    ByteWriter writer;
    writer.u8le(0xAB);
    writer.u16le(0x1234);
    writer.u32le(0);
    writer.u64le(0x1122334455667788ull);
    writer.i32le(-450);
    writer.f32le(1.5f);
    writer.patchU32le(3, 0x01020304);  // over a placeholder written above

    // -450 is 0xFFFFFE3E; 1.5f is 0x3FC00000.
    const auto bytes = writer.bytes();
    const std::vector<u8> expected = {0xAB, 0x34, 0x12, 0x04, 0x03, 0x02, 0x01, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33,
                                      0x22, 0x11, 0x3E, 0xFE, 0xFF, 0xFF, 0x00, 0x00, 0xC0, 0x3F};
    const auto* raw = reinterpret_cast<const u8*>(bytes.data());
    EXPECT_EQ(std::vector<u8>(raw, raw + bytes.size()), expected);

    ByteReader reader(bytes, throwTruncated);
    // Braces read the fields in order.
    EXPECT_EQ((std::tuple{reader.u8le("a"), reader.u16le("b"), reader.u32le("c"), reader.u64le("d"), reader.i32le("e"),
                          reader.f32le("f")}),
              std::tuple(0xAB, 0x1234, 0x01020304u, 0x1122334455667788ull, -450, 1.5f));
    EXPECT_TRUE(reader.atEnd());

    // A truncated read reports its label and offset and does not move.
    const std::array<std::byte, 5> five{};
    ByteReader shortReader(five, throwTruncated);
    shortReader.u16le("first");
    EXPECT_THAT([&] { shortReader.u32le("second"); }, testing::ThrowsMessage<Truncated>("second at 2"));
    EXPECT_EQ(shortReader.offset(), 2u);
    // A size that would wrap the offset past zero is refused too.
    EXPECT_THROW(shortReader.take(SIZE_MAX - 1, "huge"), Truncated);
    EXPECT_EQ((std::tuple{shortReader.remaining(), shortReader.take(3, "rest").size()}), std::tuple(3u, 3u));
    EXPECT_THROW(shortReader.u8le("past the end"), Truncated);
}

TEST(Utf8, AcceptsAndRejectsByRfc3629AndTheKuhnStressTestUpToItsFirstMalformedByte) {
    const struct { const char* name; std::string bytes; bool valid; } cases[] = {
        {"empty", "", true}, {"ascii with NUL", std::string("a\0b", 3), true}, {"two-byte", "\xC3\xA9", true},
        {"smallest two-byte lead C2", "\xC2\x80", true}, {"overlong C0 80", "\xC0\x80", false},
        {"overlong C1 BF", "\xC1\xBF", false}, {"E0 needs A0..BF", "\xE0\x9F\xBF", false},
        {"E0 A0 80 is U+0800", "\xE0\xA0\x80", true}, {"ED 9F BF is U+D7FF", "\xED\x9F\xBF", true},
        {"surrogate ED A0 80", "\xED\xA0\x80", false}, {"EF BF BF is U+FFFF", "\xEF\xBF\xBF", true},
        {"F0 needs 90..BF", "\xF0\x8F\xBF\xBF", false}, {"U+10000", "\xF0\x90\x80\x80", true},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF", true}, {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"lead F5", "\xF5\x80\x80\x80", false}, {"lone continuation", "\x80", false}, {"FE and FF", "\xFE\xFF", false},
        {"two-byte cut off", "ab\xC3", false}, {"three-byte cut off", "\xE2\x82", false},
        {"bad third byte", "\xE2\x82\x41", false}, {"bad fourth byte", "\xF0\x90\x80\x41", false}};
    for (const auto& c : cases) EXPECT_EQ(isWellFormedUtf8(std::string_view(c.bytes)), c.valid) << c.name;

    // The Kuhn stress test is valid exactly up to its first malformed byte.
    std::ifstream file("../shared/testdata/utf8/UTF-8-test.txt", std::ios::binary);
    ASSERT_TRUE(file) << "run from the repository root";
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(text.size(), 22781u);
    constexpr std::size_t kFirstMalformedByte = 4461;
    EXPECT_TRUE(isWellFormedUtf8(std::string_view(text).substr(0, kFirstMalformedByte)));
    EXPECT_FALSE(isWellFormedUtf8(std::string_view(text).substr(0, kFirstMalformedByte + 1)));
    EXPECT_FALSE(isWellFormedUtf8(std::string_view(text)));
}

}  // namespace
}  // namespace kestrune
