#pragma once
// PNG files from 8-bit pixels, rows top to bottom: RGB for screenshots, straight-alpha RGBA
// for textures. No ancillary chunks (no time stamp), so the same pixels always give the
// same bytes on one platform. Linux encodes through libspng, Windows through WIC; failures
// throw std::runtime_error naming the call, sizes that do not match std::invalid_argument.

#include <cstddef>
#include <span>
#include <vector>

#include "base/types.h"

namespace kestrune::content {

enum class PngPixels : u8 { rgb8 = 3, rgba8 = 4 };  // the value is the bytes per pixel

// `pixels` holds width x bytes-per-pixel x height bytes, rows packed without padding.
std::vector<std::byte> encodePng(u32 widthPixels, u32 heightPixels, PngPixels format, std::span<const u8> pixels);

}  // namespace kestrune::content
