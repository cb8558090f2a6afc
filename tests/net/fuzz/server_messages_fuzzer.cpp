// Every server message decoder over arbitrary payloads (the first byte picks the decoder).
// A decoder either throws std::runtime_error or returns a record that the server-side
// encoder turns back into the same bytes; anything else is a crash.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "fuzz_support.h"
#include "net/server_messages.h"

namespace {

using namespace kestrune::net;
using fuzz::require;
using fuzz::sameBytes;

void decodeOne(std::uint8_t selector, std::span<const std::byte> payload) {
    switch (selector % 7) {
    case 0:
        require(sameBytes(encodeWelcome(decodeWelcome(payload)), payload));
        break;
    case 1:
        require(sameBytes(encodeJoined(decodeJoined(payload)), payload));
        break;
    case 2: {
        // Any non-zero accepted byte decodes as true, so compare records rather than bytes.
        const CommandResult result = decodeCommandResult(payload);
        require(payload.size() == 15 && decodeCommandResult(encodeCommandResult(result)) == result);
        break;
    }
    case 3:
        require(sameBytes(encodeSnapshot(decodeSnapshot(payload)), payload));
        break;
    case 4:
        require(sameBytes(encodeCombatEvents(decodeCombatEvents(payload)), payload));
        break;
    case 5:
        require(sameBytes(encodeTick(decodeTick(payload)), payload));
        break;
    default:
        require(decodeServerError(payload).rfind("server error ", 0) == 0);
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::decodeSelected(data, size, decodeOne);
}
