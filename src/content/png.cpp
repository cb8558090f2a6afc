#include "content/png.h"

#include <array>
#include <cstdio>
#include <cstring>

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
    return bytes;
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
