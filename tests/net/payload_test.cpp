#include <gtest/gtest.h>

#include <string>

#include "net/payload.h"
#include "net_test_support.h"

namespace kestrune::net {
namespace {

using test::bytes;

TEST(PayloadStrings, AreWrittenAndReadLengthPrefixedWithinTheirLimit) {
    std::string e12;  // 12 two-byte characters
    for (int i = 0; i < 12; ++i) e12 += "\xC3\xA9";
    const struct { const char* name; std::string text; std::size_t limit; const char* error; } cases[] = {
        {"empty", "", 24, nullptr}, {"exactly the limit", std::string(24, 'n'), 24, nullptr},
        {"one byte over", std::string(25, 'n'), 24, "protocol string is too long"},
        {"12 two-byte characters are 24 bytes", e12, 24, nullptr},
        {"13 two-byte characters are 26 bytes", e12 + "\xC3\xA9", 24, "protocol string is too long"},
        {"256 bytes: the length's high byte", std::string(256, 't'), 256, nullptr},
        {"257 bytes at a limit of 256", std::string(257, 't'), 256, "protocol string is too long"},
        {"two-byte character cut off", "ab\xC3", 24, "protocol string is not valid UTF-8"},
        {"length is checked before UTF-8", std::string(25, '\xFF'), 24, "protocol string is too long"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PayloadWriter writer;
        writer.u8le(0x55);
        if (c.error != nullptr) {
            test::expectInvalidArgument([&] { writer.string(c.text, c.limit); }, c.error);
            EXPECT_EQ(writer.size(), 1u) << "nothing of a refused string is written";
            continue;
        }
        writer.string(c.text, c.limit);
        const int size = static_cast<int>(c.text.size());
        EXPECT_EQ(writer.release(), test::concat(bytes({0x55, size & 0xFF, size >> 8}), test::bytesOf(c.text)));
    }

    // The limit is 4 bytes; `text` is what is read when there is no error.
    const struct { const char* name; std::vector<std::byte> payload; const char* text; const char* error; } reads[] = {
        {"empty string", bytes({0, 0}), "", nullptr},
        {"length at the limit of 4", bytes({4, 0, 'a', 'b', 'c', 'd'}), "abcd", nullptr},
        {"one above the limit", bytes({5, 0, 'a', 'b', 'c', 'd', 'e'}), nullptr, "protocol string exceeds its limit"},
        {"limit is checked before the bytes", bytes({0, 1}), nullptr, "protocol string exceeds its limit"},
        {"length truncated", bytes({3}), nullptr, "truncated protocol payload"},
        {"bytes truncated", bytes({3, 0, 'a', 'b'}), nullptr, "truncated protocol payload"},
        {"invalid UTF-8", bytes({2, 0, 0xC0, 0x80}), nullptr, "protocol string is not valid UTF-8"},
        {"high length byte is significant", bytes({3, 1, 'a', 'b', 'c'}), nullptr, "protocol string exceeds its limit"},
    };
    for (const auto& c : reads) {
        SCOPED_TRACE(c.name);
        PayloadReader reader(c.payload);
        if (c.error != nullptr) {
            test::expectRuntimeError([&] { reader.string(4, "text"); }, c.error);
            continue;
        }
        EXPECT_EQ(reader.string(4, "text"), c.text);
        EXPECT_TRUE(reader.atEnd());
    }
}

}  // namespace
}  // namespace kestrune::net
