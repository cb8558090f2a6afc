#pragma once
// The screenshot file of a path: PNG (8-bit RGB) when the name ends in ".png" in any case,
// else the 24-bit BMP of bmp_encoder.h. Alpha is dropped either way.

#include <cstddef>
#include <filesystem>
#include <vector>

#include "render/render_backend.h"

namespace kestrune::render {

bool namesPngFile(const std::filesystem::path& path);

// Throws what the chosen encoder throws.
std::vector<std::byte> encodeScreenshot(const ReadbackImage& image, const std::filesystem::path& path);

}  // namespace kestrune::render
