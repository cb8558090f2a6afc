#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "base/utf8.h"

namespace kestrune {
namespace {

TEST(Utf8, AcceptsAndRejectsByRfc3629) {
    const struct {
        const char* name;
        std::string bytes;
        bool valid;
    } cases[] = {
        {"empty", "", true},
        {"ascii with NUL", std::string("a\0b", 3), true},
        {"two-byte", "\xC3\xA9", true},
        {"smallest two-byte lead C2", "\xC2\x80", true},
        {"overlong C0 80", "\xC0\x80", false},
        {"overlong C1 BF", "\xC1\xBF", false},
        {"E0 needs A0..BF", "\xE0\x9F\xBF", false},
        {"E0 A0 80 is U+0800", "\xE0\xA0\x80", true},
        {"ED 9F BF is U+D7FF", "\xED\x9F\xBF", true},
        {"surrogate ED A0 80", "\xED\xA0\x80", false},
        {"EF BF BF is U+FFFF", "\xEF\xBF\xBF", true},
        {"F0 needs 90..BF", "\xF0\x8F\xBF\xBF", false},
        {"U+10000", "\xF0\x90\x80\x80", true},
        {"U+10FFFF", "\xF4\x8F\xBF\xBF", true},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false},
        {"lead F5", "\xF5\x80\x80\x80", false},
        {"lone continuation", "\x80", false},
        {"FE and FF", "\xFE\xFF", false},
        {"two-byte cut off", "ab\xC3", false},
        {"three-byte cut off", "\xE2\x82", false},
        {"bad third byte", "\xE2\x82\x41", false},
        {"bad fourth byte", "\xF0\x90\x80\x41", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isWellFormedUtf8(std::string_view(c.bytes)), c.valid);
    }
}

TEST(Utf8, KuhnStressTestIsValidExactlyUpToItsFirstMalformedByte) {
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
