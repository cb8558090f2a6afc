#pragma once
// Shared by the net fuzz targets: a failed property traps, which libFuzzer reports with
// the input that caused it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

#include "net/frame_codec.h"
#include "net/server_messages.h"

namespace kestrune::net::fuzz {

inline void require(bool condition) { if (!condition) __builtin_trap(); }

template <class Bytes>
bool sameBytes(const Bytes& encoded, std::span<const std::byte> original) {
    return encoded.size() == original.size() && std::equal(encoded.begin(), encoded.end(), original.begin());
}

// The first input byte chooses what to run, the rest is the payload.
inline std::span<const std::byte> payloadAfterSelector(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const std::byte*>(data + 1), size - 1};
}

// Decodes a server frame by its type as the client's receive thread does (std::runtime_error
// for a refused payload); false for a type the client does not know.
inline bool decodeServerFrame(const Frame& frame) {
    switch (frame.type) {
    case kServerWelcome: decodeWelcome(frame.payload); return true;
    case kServerJoined: decodeJoined(frame.payload); return true;
    case kServerCommandResult: decodeCommandResult(frame.payload); return true;
    case kServerSnapshot: decodeSnapshot(frame.payload); return true;
    case kServerCombatEvents: decodeCombatEvents(frame.payload); return true;
    case kServerTick: decodeTick(frame.payload); return true;
    case kServerError: decodeServerError(frame.payload); return true;
    default: return false;
    }
}

}  // namespace kestrune::net::fuzz
