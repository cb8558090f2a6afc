#pragma once
// A payload stream that serves its bytes at most `chunkBytes` per read, then reports the end,
// and records every request: the session payload's tests and fuzzer read through it, and expect
// its refusals word for word.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/session_payload.h"

namespace kestrune::app::testing {

inline const std::string kReadFailure = "Unable to read the launcher session pipe.";
inline const std::string kBadSignature = "The launcher session payload has an invalid signature.";
inline const std::string kOverLimits = "The launcher session payload exceeds its limits.";

class ChunkedStream final : public PayloadStream {
public:
    ChunkedStream(std::string bytes, std::size_t chunkBytes) : bytes(std::move(bytes)), chunkBytes(chunkBytes) {}

    std::size_t readSome(std::span<std::byte> buffer) override {
        requests.push_back(buffer.size());
        const std::size_t count = std::min({buffer.size(), chunkBytes, bytes.size() - consumed});
        std::memcpy(buffer.data(), bytes.data() + consumed, count);
        consumed += count;
        return count;
    }

    const std::string bytes;
    const std::size_t chunkBytes;
    std::vector<std::size_t> requests;
    std::size_t consumed = 0;
};

}  // namespace kestrune::app::testing
