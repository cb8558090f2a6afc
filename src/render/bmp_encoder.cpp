#include "render/bmp_encoder.h"

#include <fstream>
#include <limits>
#include <stdexcept>

#include "base/byte_writer.h"

namespace kestrune::render {

namespace {
constexpr u16 kBmpSignature = 0x4D42;  // "BM"
constexpr u32 kInfoHeaderBytes = 40;
constexpr u16 kBitsPerPixel = 24;
constexpr u64 kMaxImageBytes = std::numeric_limits<u32>::max();
}  // namespace

u64 bmpRowBytes(u32 widthPixels) noexcept { return (static_cast<u64>(widthPixels) * 3 + 3) & ~u64{3}; }

std::vector<std::byte> encodeBmp(const ReadbackImage& image) {
    const u64 rowBytes = bmpRowBytes(image.widthPixels);
    const u64 imageBytes = rowBytes * image.heightPixels;
    // The file size field holds headers plus pixels, so the pixels must leave room for the headers too.
    if (imageBytes > kMaxImageBytes - kBmpHeaderBytes) {
        throw std::overflow_error("Screenshot is too large for BMP v3.");
    }
    ByteWriter out(static_cast<std::size_t>(kBmpHeaderBytes + imageBytes));
    out.u16le(kBmpSignature);
    out.u32le(static_cast<u32>(kBmpHeaderBytes + imageBytes));
    out.u16le(0);
    out.u16le(0);
    out.u32le(kBmpHeaderBytes);
    out.u32le(kInfoHeaderBytes);
    out.i32le(static_cast<i32>(image.widthPixels));
    out.i32le(-static_cast<i32>(image.heightPixels));
    out.u16le(1);
    out.u16le(kBitsPerPixel);
    out.u32le(0);
    out.u32le(static_cast<u32>(imageBytes));
    out.u32le(kBmpPixelsPerMetre);
    out.u32le(kBmpPixelsPerMetre);
    out.u32le(0);
    out.u32le(0);

    std::vector<std::byte>& bytes = out.buffer();
    bytes.resize(static_cast<std::size_t>(kBmpHeaderBytes + imageBytes), std::byte{0});
    for (u32 y = 0; y < image.heightPixels; ++y) {
        const std::byte* source = image.rgba.data() + image.rowPitchBytes * y;
        std::byte* target = bytes.data() + kBmpHeaderBytes + rowBytes * y;
        for (u32 x = 0; x < image.widthPixels; ++x) {
            target[3 * x + 0] = source[4 * x + 2];
            target[3 * x + 1] = source[4 * x + 1];
            target[3 * x + 2] = source[4 * x + 0];
        }
    }
    return out.release();
}

void writeFileBytes(const std::filesystem::path& path, const std::vector<std::byte>& bytes) {
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path());
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        throw std::runtime_error("Unable to create screenshot file.");
    }
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace kestrune::render
