#pragma once
// PNG files of baked images: 8-bit RGBA through the runtime's PNG writer (content/png_writer.h),
// so the same pixels always give the same bytes on one platform. Failures throw
// std::runtime_error naming the encoder's call.

#include <cstddef>
#include <vector>

#include "image.h"

namespace kestrune::baker {

std::vector<std::byte> encodePng(const Image& image);

}  // namespace kestrune::baker
