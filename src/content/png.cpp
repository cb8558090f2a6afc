#include "content/png.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>

#include "base/crc32.h"
#include "content/content_file.h"
#include "content/model.h"
#include "content/png_checks.h"

namespace kestrune::content {

namespace png_detail {
namespace {

constexpr std::array<unsigned char, 8> kPngSignature = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr u32 kBytesPerPixel = 4;
constexpr u64 kMaxWidthPixels = u64{1} << 30;   // width x 4 must stay a 32-bit stride
constexpr u64 kMaxDecodedBytes = u64{1} << 32;  // the pixel copy takes a 32-bit size
constexpr std::size_t kChunkFrameBytes = 12;     // length, type, CRC around the data

u32 loadU32be(const std::byte* p) noexcept {
    return (static_cast<u32>(p[0]) << 24) | (static_cast<u32>(p[1]) << 16) | (static_cast<u32>(p[2]) << 8) |
           static_cast<u32>(p[3]);
}

// Every complete chunk up to IEND must carry its CRC. Some WIC implementations decode
// past damaged chunks; checking here makes a corrupt file fail the same on every
// platform. What a chunk means, and a file cut short, stay the decoder's business.
void checkChunkCrcs(std::span<const std::byte> file, const std::filesystem::path& path) {
    std::size_t at = kPngSignature.size();
    while (file.size() - at >= kChunkFrameBytes) {
        const u32 dataBytes = loadU32be(file.data() + at);
        if (dataBytes > file.size() - at - kChunkFrameBytes) {
            return;
        }
        const std::byte* typeAndData = file.data() + at + 4;
        if (crc32({typeAndData, 4 + std::size_t{dataBytes}}) != loadU32be(typeAndData + 4 + dataBytes)) {
            failForFile("PNG chunk CRC mismatch: ", path);
        }
        if (std::memcmp(typeAndData, "IEND", 4) == 0) {
            return;
        }
        at += kChunkFrameBytes + dataBytes;
    }
}

}  // namespace

void failForFile(const char* message, const std::filesystem::path& path) {
    throw ContentError(message + path.string());
}

std::vector<std::byte> readCheckedPngFile(const std::filesystem::path& path, const ImageLimits& limits) {
    std::vector<std::byte> bytes = readWholeFile(path, limits.maxFileBytes, ContentFileKind::Png);
    if (bytes.size() < kPngSignature.size() ||
        std::memcmp(bytes.data(), kPngSignature.data(), kPngSignature.size()) != 0) {
        failForFile("file is not a PNG: ", path);
    }
    if (limits.expectedSha256) {
        checkPngDigest(*limits.expectedSha256, bytes, path);
    }
    checkChunkCrcs(bytes, path);
    return bytes;
}

// PNG sizes are 31-bit; a zero side has no image.
void checkEncodeSizes(u32 widthPixels, u32 heightPixels, PngPixels format, std::size_t pixelBytes) {
    constexpr u32 kMaxSidePixels = 0x7FFF'FFFF;
    const u64 expectedBytes = u64{widthPixels} * static_cast<u64>(format) * heightPixels;
    if (widthPixels == 0 || heightPixels == 0 || widthPixels > kMaxSidePixels || heightPixels > kMaxSidePixels ||
        expectedBytes != pixelBytes) {
        throw std::invalid_argument("PNG encoding of " + std::to_string(widthPixels) + " x " +
                                    std::to_string(heightPixels) + " pixels needs " + std::to_string(expectedBytes) +
                                    " bytes, not " + std::to_string(pixelBytes));
    }
}

std::size_t checkedDecodedBytes(u32 width, u32 height, const ImageLimits& limits,
                                const std::filesystem::path& path) {
    if (width == 0 || height == 0 || width > limits.maxWidth || height > limits.maxHeight) {
        failForFile("PNG dimensions exceed configured limits: ", path);
    }
    if (width >= kMaxWidthPixels) {
        failForFile("decoded PNG size exceeds configured limits: ", path);
    }
    const u64 totalBytes = u64{width} * kBytesPerPixel * height;
    if (totalBytes >= kMaxDecodedBytes || totalBytes > limits.maxDecodedBytes) {
        failForFile("decoded PNG size exceeds configured limits: ", path);
    }
    return static_cast<std::size_t>(totalBytes);
}

}  // namespace png_detail

void throwHresult(std::string_view operation, i32 hresult) {
    char code[16];
    std::snprintf(code, sizeof code, "%X", static_cast<unsigned>(static_cast<u32>(hresult)));
    std::string message(operation);
    message += " failed with HRESULT 0x";
    message += code;
    throw ContentError(message);
}

}  // namespace kestrune::content
