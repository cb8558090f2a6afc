#pragma once
// Fixed-width number names used across the runtime.

#include <cstddef>
#include <cstdint>

namespace kestrune {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using i16 = std::int16_t;
using i32 = std::int32_t;
using i64 = std::int64_t;
using f32 = float;
using f64 = double;

static_assert(sizeof(f32) == 4 && sizeof(f64) == 8, "IEEE-754 single and double precision expected");

}  // namespace kestrune
