#include "image_decoding.h"

#include <cstring>

namespace kestrune::baker {

bool isPngSignature(std::span<const u8> bytes) noexcept {
    static constexpr u8 kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return bytes.size() >= 8 && std::memcmp(bytes.data(), kSignature, 8) == 0;
}

void checkImageSize(u64 width, u64 height, const std::string& name, const content::ImageLimits& limits) {
    if (width == 0 || height == 0 || width > limits.maxWidth || height > limits.maxHeight ||
        width * 4 * height > limits.maxDecodedBytes) {
        throw ImportError(name + ": " + std::to_string(width) + " x " + std::to_string(height) +
                          " pixels exceed the texture limits (" + std::to_string(limits.maxWidth) + " x " +
                          std::to_string(limits.maxHeight) + ", " + std::to_string(limits.maxDecodedBytes) +
                          " bytes)");
    }
}

bool isJpegSignature(std::span<const u8> bytes) noexcept {
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

}  // namespace kestrune::baker
