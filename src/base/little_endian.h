#pragma once
// Little-endian loads and stores over raw bytes. Values are assembled byte by byte, so
// they are independent of the host's byte order and alignment.

#include <bit>
#include <cstddef>

#include "base/types.h"

namespace kestrune {

inline u16 loadU16le(const std::byte* p) noexcept {
    return static_cast<u16>(static_cast<u16>(p[0]) | static_cast<u16>(static_cast<u16>(p[1]) << 8));
}

inline u32 loadU32le(const std::byte* p) noexcept {
    return static_cast<u32>(p[0]) | (static_cast<u32>(p[1]) << 8) | (static_cast<u32>(p[2]) << 16) |
           (static_cast<u32>(p[3]) << 24);
}

inline u64 loadU64le(const std::byte* p) noexcept {
    return static_cast<u64>(loadU32le(p)) | (static_cast<u64>(loadU32le(p + 4)) << 32);
}

inline i32 loadI32le(const std::byte* p) noexcept { return std::bit_cast<i32>(loadU32le(p)); }
inline f32 loadF32le(const std::byte* p) noexcept { return std::bit_cast<f32>(loadU32le(p)); }

inline void storeU16le(std::byte* p, u16 v) noexcept {
    p[0] = static_cast<std::byte>(v);
    p[1] = static_cast<std::byte>(v >> 8);
}

inline void storeU32le(std::byte* p, u32 v) noexcept {
    p[0] = static_cast<std::byte>(v);
    p[1] = static_cast<std::byte>(v >> 8);
    p[2] = static_cast<std::byte>(v >> 16);
    p[3] = static_cast<std::byte>(v >> 24);
}

inline void storeU64le(std::byte* p, u64 v) noexcept {
    storeU32le(p, static_cast<u32>(v));
    storeU32le(p + 4, static_cast<u32>(v >> 32));
}

inline void storeI32le(std::byte* p, i32 v) noexcept { storeU32le(p, std::bit_cast<u32>(v)); }
inline void storeF32le(std::byte* p, f32 v) noexcept { storeU32le(p, std::bit_cast<u32>(v)); }

}  // namespace kestrune
