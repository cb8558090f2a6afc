#pragma once
// Source images of imported models decoded from memory into the baker's RGBA8 images: PNG
// through libspng and JPEG through libjpeg-turbo on Linux, both through WIC on Windows. The size is checked against the runtime's
// texture limits from the header, before any pixel memory exists. Failures throw
// ImportError("<name>: <what>").

#include <span>
#include <string>

#include "base/types.h"
#include "content/png.h"
#include "image.h"
#include "import_error.h"

namespace kestrune::baker {

bool isPngSignature(std::span<const u8> bytes) noexcept;
bool isJpegSignature(std::span<const u8> bytes) noexcept;

Image decodePng(std::span<const u8> bytes, const std::string& name, const content::ImageLimits& limits);
Image decodeJpeg(std::span<const u8> bytes, const std::string& name, const content::ImageLimits& limits);

// Throws ImportError unless width and height lie in 1..the limits and width x 4 x height
// bytes fit maxDecodedBytes.
void checkImageSize(u64 width, u64 height, const std::string& name, const content::ImageLimits& limits);

}  // namespace kestrune::baker
