// Every message decoder of both directions over arbitrary payloads (the first byte picks the
// decoder): each throws std::runtime_error or returns a record that its encoder turns back
// into the same bytes; anything else is a crash.

#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_support.h"
#include "net/client_messages.h"
#include "net/server_messages.h"

namespace {

using namespace kestrune::net;
using fuzz::require;
using fuzz::sameBytes;

void decodeOne(std::uint8_t selector, std::span<const std::byte> payload) {
    switch (selector % 10) {
    case 0: {
        const ClientHelloMessage hello = decodeHello(payload);
        require(isValidGameTicket(hello.gameTicket));
        require(sameBytes(encodeHello(hello.gameTicket, hello.clientClockNs), payload));
        break;
    }
    case 1: {
        const ClientJoinMessage join = decodeJoin(payload);
        require(!join.characterName.empty() && join.characterName.size() <= kCharacterNameLimitBytes);
        require(sameBytes(encodeJoin(join.characterClass, join.characterName), payload));
        break;
    }
    case 2: {
        const ClientCommandMessage c = decodeCommand(payload);
        require(sameBytes(encodeCommand(c.commandSequence, c.kind, c.targetEntityId, c.a, c.b, c.c), payload));
        break;
    }
    case 3: require(sameBytes(encodeWelcome(decodeWelcome(payload)), payload)); break;
    case 4: require(sameBytes(encodeJoined(decodeJoined(payload)), payload)); break;
    case 5: {
        // Any non-zero accepted byte decodes as true, so compare records rather than bytes.
        const CommandResult result = decodeCommandResult(payload);
        require(payload.size() == 15 && decodeCommandResult(encodeCommandResult(result)) == result);
        break;
    }
    case 6: require(sameBytes(encodeSnapshot(decodeSnapshot(payload)), payload)); break;
    case 7: require(sameBytes(encodeCombatEvents(decodeCombatEvents(payload)), payload)); break;
    case 8: require(sameBytes(encodeTick(decodeTick(payload)), payload)); break;
    default: require(decodeServerError(payload).rfind("server error ", 0) == 0); break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::decodeSelected(data, size, decodeOne);
}
