#pragma once
// PNG textures decoded to tightly packed, straight-alpha RGBA8, rows top to bottom. The
// file is read whole under ImageLimits, optionally pinned by its SHA-256, its chunk CRCs
// are checked, and its size is checked from the header before the pixel array exists. Windows decodes through WIC,
// Linux through libspng; the checks, their order and the messages that name the file are
// the same on both. Every failure is a ContentError; each call is self-contained.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/types.h"

namespace kestrune::content {

struct ImageLimits {
    u64 maxFileBytes = 268'435'456;     // below 4 GiB regardless
    u32 maxWidth = 16'384;              // pixels
    u32 maxHeight = 16'384;             // pixels
    u64 maxDecodedBytes = 536'870'912;  // width x 4 x height
    std::optional<std::string> expectedSha256;
};

struct DecodedImage {
    u32 width = 0;
    u32 height = 0;
    u32 stride = 0;           // bytes per row, always width x 4
    std::vector<u8> pixels;   // stride x height bytes: R, G, B, A per pixel
};

DecodedImage loadPngImage(const std::filesystem::path& path, const ImageLimits& limits);

// Throws ContentError("<operation> failed with HRESULT 0x<HEX>"), the code as an unsigned
// 32-bit number in upper-case hexadecimal. The message does not name the file.
[[noreturn]] void throwHresult(std::string_view operation, i32 hresult);

}  // namespace kestrune::content
