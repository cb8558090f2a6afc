#include "content/png.h"

#include <map>

#include "content/png_checks.h"
#include "content/png_writer.h"
#include "content/sha256.h"
#include "content_test_support.h"

namespace kestrune::content {
namespace {

using namespace test;

const std::filesystem::path kSuite = kTestData / "pngsuite";

// Files sNN... are N x N; four others have sizes of their own; the rest are 32 x 32.
std::pair<u32, u32> expectedSize(const std::string& name) {
    const std::map<std::string, std::pair<u32, u32>> others = {
        {"cdfn2c08.png", {8, 32}}, {"cdhn2c08.png", {32, 8}}, {"cdsn2c08.png", {8, 8}}, {"PngSuite.png", {256, 256}}};
    if (others.contains(name)) return others.at(name);
    const u32 n = name[0] == 's' ? static_cast<u32>(std::stoul(name.substr(1, 2))) : 32;
    return {n, n};
}

// Files named x* are corrupt; every other file decodes to RGBA8 at its size. Damaged chunk
// CRCs fail the same on every platform, whatever the decoder tolerates, and damaged
// signatures are caught before any decoder sees the bytes.
TEST(PngSuite, DecodesEveryValidFileToItsSizeAndRefusesEveryCorruptOne) {
    const std::map<std::string, std::string> exact = {
        {"xcsn0g01.png", "PNG chunk CRC mismatch: "}, {"xhdn0g08.png", "PNG chunk CRC mismatch: "},
        {"xs1n0g01.png", "file is not a PNG: "},      {"xs2n0g01.png", "file is not a PNG: "},
        {"xs4n0g01.png", "file is not a PNG: "},      {"xs7n0g01.png", "file is not a PNG: "},
        {"xcrn0g04.png", "file is not a PNG: "},      {"xlfn0g04.png", "file is not a PNG: "}};
    std::size_t valid = 0, corrupt = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kSuite)) {
        const std::filesystem::path& path = entry.path();
        const std::string name = path.filename().string();
        if (path.extension() != ".png") continue;
        SCOPED_TRACE(name);
        if (name[0] == 'x') {
            ++corrupt;
            const auto message = exact.find(name);
            if (message == exact.end()) {
                EXPECT_THROW(loadPngImage(path, {}), ContentError);
            } else {
                expectError([&] { loadPngImage(path, {}); }, message->second + path.string());
            }
            continue;
        }
        ++valid;
        const DecodedImage image = loadPngImage(path, {});
        const auto [width, height] = expectedSize(name);
        EXPECT_EQ(std::tuple(image.width, image.height, image.stride, image.pixels.size()),
                  std::tuple(width, height, width * 4, std::size_t{width} * 4 * height));
    }
    EXPECT_EQ(std::tuple(valid, corrupt), std::tuple(162u, 14u));
}

// Reference values from an independent reader of the raw samples (no gamma applied);
// 16-bit sources may be scaled to 8 bits by rounding or by truncation.
TEST(PngSuite, DecodesKnownPixelsOfEveryColourTypeAndTheSameFromInterlacedAndSplitTwins) {
    const struct { const char* file; u32 x, y; std::array<int, 4> rgba; } cases[] = {
        {"basn0g01.png", 0, 0, {255, 255, 255, 255}},  {"basn0g01.png", 5, 7, {0, 0, 0, 255}},
        {"basn0g02.png", 5, 7, {170, 170, 170, 255}},  {"basn0g04.png", 20, 3, {85, 85, 85, 255}},
        {"basn0g16.png", 16, 10, {164, 164, 164, 255}}, {"basn2c08.png", 5, 7, {255, 255, 26, 255}},
        {"basn2c08.png", 16, 10, {255, 175, 255, 255}}, {"basn2c16.png", 5, 7, {214, 198, 0, 255}},
        {"basn3p02.png", 16, 10, {255, 255, 0, 255}},  {"basn3p04.png", 9, 20, {0, 255, 153, 255}},
        {"basn4a08.png", 5, 7, {197, 197, 197, 41}},   {"basn4a08.png", 16, 10, {172, 172, 172, 131}},
        {"basn4a16.png", 7, 30, {105, 105, 105, 16}},  {"basn6a08.png", 31, 0, {255, 0, 8, 255}},
        {"basn6a16.png", 5, 7, {255, 231, 0, 82}},     {"basn6a16.png", 16, 10, {116, 255, 0, 165}},
        {"tbbn3p08.png", 0, 0, {255, 255, 255, 0}},    {"tbbn3p08.png", 5, 7, {117, 117, 117, 255}},
        {"tbwn0g16.png", 0, 0, {255, 255, 255, 0}},    {"tbwn0g16.png", 16, 10, {123, 123, 123, 255}},
        {"tbrn2c08.png", 31, 31, {255, 255, 255, 0}},  {"tbrn2c08.png", 5, 7, {117, 117, 117, 255}},
        {"tbbn2c16.png", 0, 0, {255, 255, 255, 0}},    {"tbbn2c16.png", 12, 12, {155, 155, 155, 255}},
        {"tp1n3p08.png", 0, 0, {255, 255, 255, 0}},    {"tp1n3p08.png", 20, 20, {0, 0, 104, 255}},
        {"s07n3p02.png", 3, 2, {255, 255, 0, 255}},    {"s07n3p02.png", 6, 6, {0, 0, 255, 255}},
        {"cdfn2c08.png", 4, 10, {0, 221, 238, 255}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(c.x) + "," + std::to_string(c.y));
        const DecodedImage image = loadPngImage(kSuite / c.file, {});
        const std::size_t at = std::size_t{c.y} * image.stride + 4 * std::size_t{c.x};
        for (std::size_t i = 0; i < 4; ++i) EXPECT_NEAR(image.pixels[at + i], c.rgba[i], 1) << "channel " << i;
    }

    // Interlacing and IDAT splitting change the encoding, never the pixels.
    std::vector<std::pair<std::string, std::string>> pairs = {{"s39i3p04.png", "s39n3p04.png"},
        {"s07i3p02.png", "s07n3p02.png"}, {"oi9n2c16.png", "basn2c16.png"}, {"oi4n0g16.png", "basn0g16.png"}};
    for (const std::string type : {"0g01", "0g02", "0g04", "0g08", "0g16", "2c08", "2c16", "3p01", "3p08", "4a08",
                                   "4a16", "6a08", "6a16"})
        pairs.emplace_back("basi" + type + ".png", "basn" + type + ".png");
    for (const auto& [first, second] : pairs) {
        SCOPED_TRACE(first + " and " + second);
        const DecodedImage a = loadPngImage(kSuite / first, {});
        const DecodedImage b = loadPngImage(kSuite / second, {});
        EXPECT_EQ(std::tuple(a.width, a.height, a.pixels), std::tuple(b.width, b.height, b.pixels));
    }
}

TEST(LoadPngImage, RefusesNonPngFilesAndDamagedChunksBeforeDecoding) {
    ScratchDirectory scratch;
    const struct { const char* name; std::vector<std::byte> bytes; } cases[] = {
        {"empty.png", {}}, {"photo.png", bytesOf("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01")},
        {"seven.png", bytesOf("\x89PNG\r\n\x1A")}};
    for (const auto& c : cases) {
        const auto path = scratch.write(c.name, c.bytes);
        expectError([&] { loadPngImage(path, {}); }, "file is not a PNG: " + path.string(), c.name);
    }
    const auto missing = scratch.file("missing.png");
    expectError([&] { loadPngImage(missing, {}); }, "cannot open PNG: " + missing.string());
    // A damaged CRC in the IEND chunk that ends the file fails like any other chunk's.
    std::vector<std::byte> bytes = readFile(kSuite / "basn0g01.png");
    bytes.back() ^= std::byte{1};
    const auto damagedEnd = scratch.write("damaged-end.png", bytes);
    expectError([&] { loadPngImage(damagedEnd, {}); }, "PNG chunk CRC mismatch: " + damagedEnd.string());
}

TEST(LoadPngImage, ChecksTheExpectedDigestBeforeDecoding) {
    // A corrupt image body with a correct signature: the digest decides first.
    const auto path = kSuite / "xcsn0g01.png";
    const std::string actual = toHexUpper(sha256Digest(readFile(path)));
    const std::string malformed = "expected PNG SHA-256 must contain exactly 64 hexadecimal characters";
    const struct { const char* name; std::string hex; std::string message; } cases[] = {
        {"last digit differs", lastDigitChanged(actual),
         "PNG SHA-256 mismatch for " + path.string() + " (actual " + actual + ")"},
        {"63 characters", actual.substr(1), malformed}, {"65 characters", actual + "0", malformed},
        {"a g among 64", "g" + actual.substr(1), malformed}, {"a space among 64", " " + actual.substr(1), malformed},
        {"64 z", std::string(64, 'z'), malformed}};
    for (const auto& c : cases) expectError([&] { loadPngImage(path, {.expectedSha256 = c.hex}); }, c.message, c.name);
    // Either case matches.
    const auto good = kSuite / "basn6a08.png";
    const std::string upper = toHexUpper(sha256Digest(readFile(good)));
    std::string lower = upper;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& expected : {upper, lower})
        EXPECT_EQ(loadPngImage(good, {.expectedSha256 = expected}).width, 32u) << expected;
}

TEST(LoadPngImage, EnforcesLimitsFromTheHeaderAndKeepsTheDecodedSizeBelowFourGibibytes) {
    const auto path = kSuite / "basn2c08.png";  // 32 x 32
    const std::string dimensions = "PNG dimensions exceed configured limits: " + path.string();
    const std::string decoded = "decoded PNG size exceeds configured limits: " + path.string();
    // An empty message: accepted.
    const struct { const char* name; ImageLimits limits; std::string message; } cases[] = {
        {"everything at its limit", {.maxWidth = 32, .maxHeight = 32, .maxDecodedBytes = 32 * 32 * 4}, ""},
        {"width over", {.maxWidth = 31}, dimensions}, {"height over", {.maxHeight = 31}, dimensions},
        {"decoded bytes one short", {.maxDecodedBytes = 32 * 32 * 4 - 1}, decoded},
        {"file one byte too long", {.maxFileBytes = std::filesystem::file_size(path) - 1},
         "PNG exceeds configured file-size limit: " + path.string()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.message.empty()) {
            EXPECT_EQ(loadPngImage(path, c.limits).pixels.size(), 32u * 32u * 4u);
        } else {
            expectError([&] { loadPngImage(path, c.limits); }, c.message);
        }
    }

    // The header's sizes alone, named by the same path: the default limits refuse a row wider
    // than 16384 pixels and a 16384 x 16384 image (1 GiB decoded). Beyond any configured
    // limits, a row must stay below 2^32 bytes (width below 2^30) and so must the whole image.
    const ImageLimits defaults{};
    const ImageLimits open{.maxWidth = ~u32{0}, .maxHeight = ~u32{0}, .maxDecodedBytes = ~u64{0}};
    // Zero bytes: refused with `message`.
    const struct { u32 width, height; const ImageLimits& limits; std::size_t bytes; std::string message; } sizes[] = {
        {16'384, 8'192, defaults, std::size_t{1} << 29, ""}, {16'385, 1, defaults, 0, dimensions},
        {16'384, 16'384, defaults, 0, decoded}, {(1u << 30) - 1, 1, open, (std::size_t{1} << 32) - 4, ""},
        {1u << 30, 1, open, 0, decoded}, {1u << 29, 2, open, 0, decoded},
        {1u << 20, (1u << 10) - 1, open, (std::size_t{1} << 32) - (1u << 22), ""}, {0, 5, open, 0, dimensions},
        {5, 0, open, 0, dimensions}};
    for (const auto& c : sizes) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        if (c.bytes != 0) {
            EXPECT_EQ(png_detail::checkedDecodedBytes(c.width, c.height, c.limits, path), c.bytes);
        } else {
            expectError([&] { png_detail::checkedDecodedBytes(c.width, c.height, c.limits, path); }, c.message);
        }
    }
}

// The writer's files read back through the decoder of the same platform, byte for byte.
TEST(PngWriter, WritesWhatTheDecoderReadsBackAndRefusesSizesThatDoNotMatch) {
    const ScratchDirectory scratch;
    std::vector<u8> rgba;
    for (u32 i = 0; i < 5 * 3; ++i) rgba.insert(rgba.end(), {u8(i * 17), u8(255 - i), u8(i * 3), u8(i * 16)});
    const std::vector<std::byte> file = encodePng(5, 3, PngPixels::rgba8, rgba);
    EXPECT_EQ(encodePng(5, 3, PngPixels::rgba8, rgba), file);
    const DecodedImage decoded = loadPngImage(scratch.write("t.png", file), {});
    EXPECT_EQ(std::tuple(decoded.width, decoded.height, decoded.pixels), std::tuple(5u, 3u, rgba));

    const struct { u32 width, height; PngPixels format; std::size_t bytes; const char* message; } cases[] = {
        {0, 1, PngPixels::rgb8, 0, "PNG encoding of 0 x 1 pixels needs 0 bytes, not 0"},
        {2, 2, PngPixels::rgb8, 16, "PNG encoding of 2 x 2 pixels needs 12 bytes, not 16"},
        {2, 2, PngPixels::rgba8, 12, "PNG encoding of 2 x 2 pixels needs 16 bytes, not 12"},
        {0x8000'0000, 1, PngPixels::rgb8, 0, "PNG encoding of 2147483648 x 1 pixels needs 6442450944 bytes, not 0"}};
    for (const auto& c : cases) {
        const std::vector<u8> pixels(c.bytes);
        expectError<std::invalid_argument>([&] { encodePng(c.width, c.height, c.format, pixels); }, c.message);
    }
}

TEST(ThrowHresult, FormatsTheCodeAsUnsignedUpperCaseHex) {
    expectError([] { throwHresult("IWICBitmapDecoder::GetFrame", static_cast<i32>(0x88982F50u)); },
                "IWICBitmapDecoder::GetFrame failed with HRESULT 0x88982F50");
    expectError([] { throwHresult("X", 0x1A); }, "X failed with HRESULT 0x1A");
}

}  // namespace
}  // namespace kestrune::content
