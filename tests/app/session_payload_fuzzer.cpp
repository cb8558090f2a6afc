// Fuzzes the session payload reader. Input: one byte that sets how many bytes each read
// returns at most, then the pipe's contents. An accepted payload must be exactly the
// record at the start of the stream; a refusal must carry one of the known messages.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "app/chunked_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrune::app;
    if (size == 0) return 0;
    testing::ChunkedStream stream(std::string(reinterpret_cast<const char*>(data) + 1, size - 1),
                                  static_cast<std::size_t>(data[0] % 64) + 1);
    try {
        const SessionPayload payload = readSessionPayload(stream);
        const std::size_t ticketBytes = payload.gameTicket.size();
        const std::size_t nameBytes = payload.characterName.size();
        const auto* body = reinterpret_cast<const char*>(data + 1 + kSessionPayloadHeaderBytes);
        if (std::memcmp(data + 1, "KSN1", 4) != 0 || ticketBytes < 1 || ticketBytes > kMaximumTicketBytes ||
            nameBytes < 1 || nameBytes > kMaximumCharacterNameBytes ||
            stream.consumed != kSessionPayloadHeaderBytes + ticketBytes + nameBytes ||
            data[5] + data[6] * 256u != ticketBytes || data[7] + data[8] * 256u != nameBytes ||
            payload.gameTicket != std::string_view(body, ticketBytes) ||
            payload.characterName != std::string_view(body + ticketBytes, nameBytes)) {
            __builtin_trap();
        }
    } catch (const std::runtime_error& error) {
        const std::string_view message = error.what();
        if (message != testing::kReadFailure && message != testing::kBadSignature && message != testing::kOverLimits) {
            __builtin_trap();
        }
    }
    if (std::ranges::count(stream.requests, 0u) != 0) __builtin_trap();  // the exact read never asks for nothing
    return 0;
}
