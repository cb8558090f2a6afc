// The server's decoders of client messages over arbitrary payloads (the first byte picks
// the decoder): each throws std::runtime_error or returns what the client encoder writes
// back byte for byte.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "fuzz_support.h"
#include "net/client_messages.h"

namespace {

using namespace kestrune::net;
using fuzz::require;
using fuzz::sameBytes;

void decodeOne(std::uint8_t selector, std::span<const std::byte> payload) {
    switch (selector % 3) {
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
    default: {
        const ClientCommandMessage command = decodeCommand(payload);
        require(sameBytes(encodeCommand(command.commandSequence, command.kind, command.targetEntityId, command.a,
                                   command.b, command.c),
                     payload));
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::decodeSelected(data, size, decodeOne);
}
