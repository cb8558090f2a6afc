#include <spng.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "content/png_checks.h"
#include "content/png_writer.h"

namespace kestrune::content {
namespace {

struct ContextDeleter {
    void operator()(spng_ctx* context) const noexcept { spng_ctx_free(context); }
};

struct BufferDeleter {
    void operator()(void* buffer) const noexcept { std::free(buffer); }
};

void throwIfFailed(int result, const char* operation) {
    if (result != 0) {
        throw std::runtime_error(std::string(operation) + " failed with libspng error " + std::to_string(result) +
                                 " (" + spng_strerror(result) + ")");
    }
}

}  // namespace

std::vector<std::byte> encodePng(u32 widthPixels, u32 heightPixels, PngPixels format, std::span<const u8> pixels) {
    png_detail::checkEncodeSizes(widthPixels, heightPixels, format, pixels.size());
    const std::unique_ptr<spng_ctx, ContextDeleter> context(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!context) {
        throw std::runtime_error("spng_ctx_new failed");
    }
    throwIfFailed(spng_set_option(context.get(), SPNG_ENCODE_TO_BUFFER, 1), "spng_set_option");
    spng_ihdr header{};
    header.width = widthPixels;
    header.height = heightPixels;
    header.bit_depth = 8;
    header.color_type = format == PngPixels::rgba8 ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
    throwIfFailed(spng_set_ihdr(context.get(), &header), "spng_set_ihdr");
    throwIfFailed(spng_encode_image(context.get(), pixels.data(), pixels.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE),
                  "spng_encode_image");

    std::size_t sizeBytes = 0;
    int error = 0;
    const std::unique_ptr<void, BufferDeleter> buffer(spng_get_png_buffer(context.get(), &sizeBytes, &error));
    throwIfFailed(error, "spng_get_png_buffer");
    if (!buffer) {
        throw std::runtime_error("spng_get_png_buffer returned no buffer");
    }
    const auto* first = static_cast<const std::byte*>(buffer.get());
    return std::vector<std::byte>(first, first + sizeBytes);
}

}  // namespace kestrune::content
