#pragma once
// The steps of loading and writing a PNG that do not depend on the codec, shared by the WIC
// and libspng backends so both check the same things in the same order with the same words.

#include <cstddef>
#include <filesystem>
#include <vector>

#include "base/types.h"
#include "content/png.h"
#include "content/png_writer.h"

namespace kestrune::content::png_detail {

// Reads the file, checks the PNG signature, the digest when one is expected, and the
// CRC of every complete chunk up to IEND.
std::vector<std::byte> readCheckedPngFile(const std::filesystem::path& path, const ImageLimits& limits);

// Dimensions and decoded size against the limits; returns width x 4 x height in bytes.
std::size_t checkedDecodedBytes(u32 width, u32 height, const ImageLimits& limits,
                                const std::filesystem::path& path);

// ContentError with `message` followed by the narrow path.
[[noreturn]] void failForFile(const char* message, const std::filesystem::path& path);

// Throws std::invalid_argument unless both sides lie in 1..2^31-1 and `pixelBytes` is
// width x bytes-per-pixel x height.
void checkEncodeSizes(u32 widthPixels, u32 heightPixels, PngPixels format, std::size_t pixelBytes);

}  // namespace kestrune::content::png_detail
