#include "render/bmp_encoder.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/little_endian.h"
#include "content/png.h"
#include "render/screenshot_file.h"
#include "render/test_support.h"

namespace kestrune::render {
namespace {

std::vector<std::byte> pixelsOf(u32 width, u32 height, std::size_t pitch) {
    std::vector<std::byte> pixels(pitch * height, std::byte{0xAB});
    for (u32 y = 0; y < height; ++y) {
        for (u32 x = 0; x < width; ++x) {
            std::byte* p = pixels.data() + pitch * y + 4 * std::size_t{x};
            p[0] = static_cast<std::byte>(0x10 + x);  // red
            p[1] = static_cast<std::byte>(0x20 + y);  // green
            p[2] = std::byte{0x30};                   // blue
            p[3] = std::byte{0x40};                   // alpha, dropped
        }
    }
    return pixels;
}

TEST(BmpEncoder, OnePixelFileHasAllHeaderFields) {
    const std::vector<std::byte> pixels = pixelsOf(1, 1, 4);
    const std::vector<std::byte> file = encodeBmp({1, 1, 4, pixels});
    const std::vector<u8> expected{
        'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,           // file size, reserved, pixel offset
        40, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,          // info size, width 1, height -1: top down
        1, 0, 24, 0, 0, 0, 0, 0, 4, 0, 0, 0,                      // planes, bits, uncompressed, pixel bytes
        0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 2835 pixels a metre, no palette
        0x30, 0x20, 0x10, 0,                                      // blue first, then the row's padding
    };
    const auto* bytes = reinterpret_cast<const u8*>(file.data());
    EXPECT_EQ(std::vector<u8>(bytes, bytes + file.size()), expected);
}

TEST(BmpEncoder, RowsArePaddedToFourBytesAndAWideImageKeepsRowOrderAndZeroPadding) {
    const struct { u32 width; u64 rowBytes; } cases[] = {
        {1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {1366, 4100}, {1280, 3840}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        EXPECT_EQ(bmpRowBytes(c.width), c.rowBytes);
    }
    constexpr u32 kWidth = 1366, kHeight = 2;
    const std::size_t pitch = kWidth * 4 + 64;  // a mapped pitch wider than the row
    const std::vector<std::byte> file = encodeBmp({kWidth, kHeight, pitch, pixelsOf(kWidth, kHeight, pitch)});
    ASSERT_EQ(std::tuple(file.size(), loadU32le(file.data() + 34)), std::tuple(54u + 2 * 4100, 8200u));
    // Green of row 1 (the second from the top), red of its pixel 5, then both rows' zero padding.
    const std::byte* secondRow = file.data() + 54 + 4100;
    EXPECT_EQ(std::tuple(secondRow[1], secondRow[3 * 5 + 2], file[54 + 4098], file[54 + 4099], secondRow[4098]),
              std::tuple(std::byte{0x21}, std::byte{0x15}, std::byte{0}, std::byte{0}, std::byte{0}));
}

TEST(BmpEncoder, RejectsImagesBeyond32BitSizesBeforeReadingPixels) {
    const struct { const char* name; u32 width; u32 height; } cases[] = {
        {"64k square", 65536, 65536}, {"pixels fit 32 bits but headers plus pixels do not", 1, 0x3FFF'FFFF}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::expectThrow<std::overflow_error>([&] { encodeBmp({c.width, c.height, std::size_t{c.width} * 4, {}}); },
                                                  "Screenshot is too large for BMP v3.");
    }
}

// A .png name in any case gets PNG, which the runtime's own decoder reads back to the same
// pixels (alpha dropped); every other name gets the BMP.
TEST(ScreenshotFile, IsPngForAPngNameInAnyCaseAndBmpOtherwise) {
    constexpr u32 kWidth = 3, kHeight = 2;
    constexpr std::size_t kPitch = 16;
    const std::vector<std::byte> pixels = pixelsOf(kWidth, kHeight, kPitch);
    const ReadbackImage image{kWidth, kHeight, kPitch, pixels};
    const std::filesystem::path scratch = testing::scratchDirectory();
    // What the decoder gives back: the pixels as sent, alpha opaque (pixelsOf's pattern).
    std::vector<u8> expected;
    for (u32 y = 0; y < kHeight; ++y) {
        for (u32 x = 0; x < kWidth; ++x) {
            expected.insert(expected.end(), {u8(0x10 + x), u8(0x20 + y), 0x30, 0xFF});
        }
    }
    const struct { const char* name; bool png; } cases[] = {
        {"shot.png", true}, {"SHOT.PNG", true}, {"d.bmp/shot.Png", true}, {"shot.bmp", false}, {"shot.png.bmp", false},
        {"png", false}, {"shot.pn", false}, {"shot.pngx", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::byte> file = encodeScreenshot(image, c.name);
        if (!c.png) {
            EXPECT_EQ(file, encodeBmp(image));
            continue;
        }
        writeFileBytes(scratch / "shot.png", file);
        const content::DecodedImage decoded = content::loadPngImage(scratch / "shot.png", {});
        EXPECT_EQ(std::tuple(decoded.width, decoded.height, decoded.pixels), std::tuple(kWidth, kHeight, expected));
    }
}

}  // namespace
}  // namespace kestrune::render
