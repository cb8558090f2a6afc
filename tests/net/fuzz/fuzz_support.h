#pragma once
// Shared by the net fuzz targets: a failed property traps, which libFuzzer reports with
// the input that caused it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrune::net::fuzz {

inline void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

template <class Bytes>
bool sameBytes(const Bytes& encoded, std::span<const std::byte> original) {
    return encoded.size() == original.size() && std::equal(encoded.begin(), encoded.end(), original.begin());
}

// The first input byte chooses what to run, the rest is the payload.
inline std::span<const std::byte> payloadAfterSelector(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const std::byte*>(data + 1), size - 1};
}

}  // namespace kestrune::net::fuzz
