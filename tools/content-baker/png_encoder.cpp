#include "png_encoder.h"

#include "content/png_writer.h"

namespace kestrune::baker {

std::vector<std::byte> encodePng(const Image& image) {
    return content::encodePng(image.width(), image.height(), content::PngPixels::rgba8, image.pixels());
}

}  // namespace kestrune::baker
