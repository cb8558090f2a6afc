// libspng stands in for WIC: the same checks in the same order, with libspng's own
// error codes where WIC would report an HRESULT.
#include <spng.h>

#include <memory>
#include <string>

#include "content/model.h"
#include "content/png.h"
#include "content/png_checks.h"

namespace kestrune::content {
namespace {

// Ancillary chunks (text, ICC profiles) that libspng keeps while decoding, after
// decompression. Textures carry little of it; a file that claims more is refused
// instead of letting it choose how much memory to take.
constexpr std::size_t kMetadataCacheBytes = std::size_t{64} << 20;

struct ContextDeleter {
    void operator()(spng_ctx* context) const noexcept { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

void throwIfSpngFailed(int result, const char* operation) {
    if (result != 0) {
        throw ContentError(std::string(operation) + " failed with libspng error " + std::to_string(result) + " (" +
                           spng_strerror(result) + ")");
    }
}

}  // namespace

DecodedImage loadPngImage(const std::filesystem::path& path, const ImageLimits& limits) {
    const std::vector<std::byte> file = png_detail::readCheckedPngFile(path, limits);

    const Context context(spng_ctx_new(0));
    if (!context) {
        throw ContentError("spng_ctx_new failed");
    }
    throwIfSpngFailed(spng_set_chunk_limits(context.get(), file.size(), kMetadataCacheBytes),
                      "spng_set_chunk_limits");
    throwIfSpngFailed(spng_set_png_buffer(context.get(), file.data(), file.size()), "spng_set_png_buffer");

    // The signature check has identified the container, and a PNG holds one frame.
    spng_ihdr header{};
    throwIfSpngFailed(spng_get_ihdr(context.get(), &header), "spng_get_ihdr");
    const std::size_t totalBytes = png_detail::checkedDecodedBytes(header.width, header.height, limits, path);

    std::size_t convertedBytes = 0;
    throwIfSpngFailed(spng_decoded_image_size(context.get(), SPNG_FMT_RGBA8, &convertedBytes),
                      "spng_decoded_image_size");
    if (convertedBytes != totalBytes) {
        png_detail::failForFile("libspng cannot convert PNG to RGBA8: ", path);
    }

    DecodedImage image;
    image.width = header.width;
    image.height = header.height;
    image.stride = header.width * 4;
    image.pixels.assign(totalBytes, 0);
    throwIfSpngFailed(spng_decode_image(context.get(), image.pixels.data(), image.pixels.size(), SPNG_FMT_RGBA8,
                                        SPNG_DECODE_TRNS),
                      "spng_decode_image");
    return image;
}

}  // namespace kestrune::content
