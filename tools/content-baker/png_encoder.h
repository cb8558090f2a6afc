#pragma once
// PNG files of baked images: 8-bit RGBA, no ancillary chunks (no time stamp), so the same
// pixels always give the same bytes. Failures throw std::runtime_error naming the libspng call.

#include <cstddef>
#include <vector>

#include "image.h"

namespace kestrune::baker {

std::vector<std::byte> encodePng(const Image& image);

}  // namespace kestrune::baker
