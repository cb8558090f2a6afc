#include <spng.h>

#include <memory>

#include "image_decoding.h"

namespace kestrune::baker {
namespace {

// Ancillary chunks libspng keeps while decoding; a texture needs none of them, so a file
// that claims more is refused rather than allowed to choose its memory.
constexpr std::size_t kMetadataCacheBytes = std::size_t{16} << 20;

struct ContextDeleter {
    void operator()(spng_ctx* context) const noexcept { spng_ctx_free(context); }
};

void check(int result, const char* operation, const std::string& name) {
    if (result != 0) {
        throw ImportError(name + ": " + operation + " failed with libspng error " + std::to_string(result) + " (" +
                          spng_strerror(result) + ")");
    }
}

}  // namespace

Image decodePng(std::span<const u8> bytes, const std::string& name, const content::ImageLimits& limits) {
    const std::unique_ptr<spng_ctx, ContextDeleter> context(spng_ctx_new(0));
    if (!context) {
        throw ImportError(name + ": spng_ctx_new failed");
    }
    check(spng_set_chunk_limits(context.get(), bytes.size(), kMetadataCacheBytes), "spng_set_chunk_limits", name);
    check(spng_set_png_buffer(context.get(), bytes.data(), bytes.size()), "spng_set_png_buffer", name);
    spng_ihdr header{};
    check(spng_get_ihdr(context.get(), &header), "spng_get_ihdr", name);
    checkImageSize(header.width, header.height, name, limits);
    std::size_t sizeBytes = 0;
    check(spng_decoded_image_size(context.get(), SPNG_FMT_RGBA8, &sizeBytes), "spng_decoded_image_size", name);
    std::vector<u8> pixels(sizeBytes);
    check(spng_decode_image(context.get(), pixels.data(), pixels.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS),
          "spng_decode_image", name);
    return Image(header.width, header.height, std::move(pixels));
}

}  // namespace kestrune::baker
