#include "render/screenshot_file.h"

#include <algorithm>
#include <string_view>

#include "content/png_writer.h"
#include "render/bmp_encoder.h"

namespace kestrune::render {

bool namesPngFile(const std::filesystem::path& path) {
    constexpr std::u16string_view kPngExtension = u".png";
    return std::ranges::equal(path.extension().u16string(), kPngExtension, [](char16_t unit, char16_t lower) {
        return (unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit) == lower;
    });
}

std::vector<std::byte> encodeScreenshot(const ReadbackImage& image, const std::filesystem::path& path) {
    if (!namesPngFile(path)) {
        return encodeBmp(image);
    }
    std::vector<u8> rgb(std::size_t{image.widthPixels} * 3 * image.heightPixels);
    for (u32 y = 0; y < image.heightPixels; ++y) {
        const std::byte* source = image.rgba.data() + image.rowPitchBytes * y;
        u8* target = rgb.data() + std::size_t{image.widthPixels} * 3 * y;
        for (u32 x = 0; x < image.widthPixels; ++x) {
            for (std::size_t c = 0; c < 3; ++c) {
                target[3 * x + c] = static_cast<u8>(source[4 * x + c]);
            }
        }
    }
    return content::encodePng(image.widthPixels, image.heightPixels, content::PngPixels::rgb8, rgb);
}

}  // namespace kestrune::render
