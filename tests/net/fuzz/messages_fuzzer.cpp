// Every message decoder of both directions over arbitrary payloads, and a raw server byte
// stream; the first byte picks which. A decoder throws std::runtime_error or returns a record
// that its encoder turns back into the same bytes. The stream is split into frames by the
// incremental parser in chunks of varying size, each frame sequence-checked and decoded by
// type as the client's receive thread does, until the first error ends the session; every
// parsed frame must re-encode to exactly the bytes it was parsed from. Anything else is a crash.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "fuzz_support.h"
#include "net/client_messages.h"
#include "net/frame_codec.h"
#include "net/frame_sequence.h"
#include "net/server_messages.h"

namespace {

using namespace kestrune;
using namespace kestrune::net;
using fuzz::require;
using fuzz::sameBytes;

void parseServerStream(std::size_t chunkBytes, std::span<const std::byte> stream) {
    FrameParser parser;
    std::size_t offset = 0;
    std::size_t frameStart = 0;
    std::optional<u64> sessionId;  // the first frame names the session
    u32 lastSequence = 0;
    std::vector<std::byte> reencoded;
    while (offset < stream.size()) {
        offset += parser.feed(stream.subspan(offset, std::min(chunkBytes, stream.size() - offset)));
        if (!parser.hasFrame()) continue;
        const Frame frame = parser.takeFrame();
        encodeFrame(reencoded, frame.type, frame.sequence, frame.sessionId, frame.payload);
        require(sameBytes(reencoded, stream.subspan(frameStart, offset - frameStart)));
        frameStart = offset;
        require(parser.atFrameBoundary());
        if (!sessionId) sessionId = frame.sessionId;
        checkServerSequence(frame, *sessionId, lastSequence);
        if (!fuzz::decodeServerFrame(frame) || frame.type == kServerError) return;  // the session ends here
    }
}

void decodeOne(std::uint8_t selector, std::span<const std::byte> payload) {
    switch (selector % 11) {
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
    case 9: require(decodeServerError(payload).rfind("server error ", 0) == 0); break;
    default: {  // a stream fed in chunks of 1 to 64 bytes, the size taken from its first byte
        parseServerStream(payload.empty() ? 1 : 1 + std::to_integer<std::size_t>(payload[0]) % 64, payload);
        break;
    }
    }
}

}  // namespace

// A refused message or stream (std::runtime_error) is the expected outcome for most inputs;
// any other exception escapes and is reported as a crash.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    try {
        decodeOne(data[0], fuzz::payloadAfterSelector(data, size));
    } catch (const std::runtime_error&) {
    }
    return 0;
}
