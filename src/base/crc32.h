#pragma once
// CRC-32 (reflected polynomial 0xEDB88320, the one of PNG chunks and ZIP), one table lookup
// per byte.

#include <array>
#include <cstddef>
#include <span>

#include "base/types.h"

namespace kestrune {

inline constexpr std::array<u32, 256> kCrc32Table = [] {
    std::array<u32, 256> table{};
    for (u32 n = 0; n < 256; ++n) {
        u32 c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

inline u32 crc32(std::span<const std::byte> bytes) noexcept {
    u32 crc = 0xFFFFFFFF;
    for (const std::byte b : bytes) {
        crc = kCrc32Table[(crc ^ static_cast<u32>(b)) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

}  // namespace kestrune
