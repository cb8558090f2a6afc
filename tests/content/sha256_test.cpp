#include "content/sha256.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "content_test_support.h"

namespace kestrune::content {
namespace {

using test::kTestData;

constexpr Sha256Path kPaths[] = {Sha256Path::Portable, Sha256Path::ShaExtensions};

std::vector<std::byte> fromHex(const std::string& hex) {
    std::vector<std::byte> bytes(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::byte>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    return bytes;
}

// The "Key = value" lines of a CAVP response file (CRLF line ends), in order.
std::vector<std::pair<std::string, std::string>> readRecords(const std::string& name) {
    std::ifstream in(kTestData / "sha256" / name);
    EXPECT_TRUE(in.is_open()) << name;
    std::vector<std::pair<std::string, std::string>> records;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t equals = line.find(" = ");
        if (equals != std::string::npos) records.emplace_back(line.substr(0, equals), line.substr(equals + 3));
    }
    return records;
}

class Sha256PathTest : public ::testing::TestWithParam<Sha256Path> {
protected:
    void SetUp() override {
        if (!isSha256PathAvailable(GetParam())) GTEST_SKIP() << "this CPU has no SHA extensions";
    }
};

// The short messages cover every byte length up to 64, where padding changes shape at 55/56
// and 63/64 bytes; the long ones 64 lengths from 163 to 6400 bytes, which end at most tail
// lengths. The default path is one of these two.
TEST_P(Sha256PathTest, MatchesEveryShortAndLongMessageVectorAndStreamsAlikeAtEverySplit) {
    for (const std::string file : {"SHA256ShortMsg.rsp", "SHA256LongMsg.rsp"}) {
        std::size_t vectors = 0, lengthBits = 0;
        std::vector<std::byte> message;
        for (const auto& [key, value] : readRecords(file)) {
            if (key == "Len") lengthBits = std::stoul(value);
            if (key == "Msg") message = fromHex(value.substr(0, lengthBits / 4));  // Len 0 still lists "00"
            if (key == "MD") {
                SCOPED_TRACE(file + " Len = " + std::to_string(lengthBits));
                EXPECT_THAT(toHexUpper(sha256Digest(message, GetParam())), testing::StrCaseEq(value));
                ++vectors;
            }
        }
        EXPECT_EQ(vectors, file == "SHA256ShortMsg.rsp" ? 65u : 64u) << file;
    }

    // Streamed in three pieces split anywhere, or byte by byte: the digest of one call.
    std::vector<std::byte> data(200);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::byte>(i * 29 + 3);
    const std::span<const std::byte> all(data);
    const Sha256Digest expected = sha256Digest(all, GetParam());
    for (std::size_t first = 0; first <= data.size(); ++first) {
        for (std::size_t second : {std::size_t{0}, std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{65}}) {
            const std::size_t middle = std::min(second, data.size() - first);
            SCOPED_TRACE("pieces " + std::to_string(first) + ", " + std::to_string(middle));
            Sha256Stream stream(GetParam());
            stream.update(all.first(first));
            stream.update(all.subspan(first, middle));
            stream.update(all.subspan(first + middle));
            ASSERT_EQ(stream.finish(), expected);
        }
    }
    Sha256Stream byteByByte(GetParam());
    for (std::size_t i = 0; i < data.size(); ++i) byteByByte.update(all.subspan(i, 1));
    EXPECT_EQ(byteByByte.finish(), expected);
}

INSTANTIATE_TEST_SUITE_P(BothPaths, Sha256PathTest, ::testing::ValuesIn(kPaths), [](const auto& info) {
    return info.param == Sha256Path::Portable ? "Portable" : "ShaExtensions";
});

}  // namespace
}  // namespace kestrune::content
