#pragma once
// Screenshots as 24-bit BMP version 3 files: 54 bytes of headers, then rows from the top
// down (negative height), blue-green-red per pixel, each row padded with zeros to a
// multiple of 4 bytes. Alpha is dropped.

#include <cstddef>
#include <filesystem>
#include <vector>

#include "base/types.h"
#include "render/render_backend.h"

namespace kestrune::render {

inline constexpr u32 kBmpHeaderBytes = 54;
inline constexpr u32 kBmpPixelsPerMetre = 2835;  // 72 dots per inch

// Row size in bytes: width x 3 rounded up to a multiple of 4.
u64 bmpRowBytes(u32 widthPixels) noexcept;

// Throws std::overflow_error "Screenshot is too large for BMP v3." when the pixel data
// would not fit the format's 32-bit sizes, before anything is allocated.
std::vector<std::byte> encodeBmp(const ReadbackImage& image);

// Creates the parent directories, then writes the file (truncating). Throws
// std::runtime_error "Unable to create screenshot file." when it cannot be opened.
void writeFileBytes(const std::filesystem::path& path, const std::vector<std::byte>& bytes);

}  // namespace kestrune::render
