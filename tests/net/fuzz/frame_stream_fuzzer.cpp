// A raw byte stream as the receive thread sees it: split into frames by the incremental
// parser in chunks of varying size, each frame sequence-checked and decoded by type as the
// client does, until the first error ends the session. Every parsed frame must re-encode
// to exactly the bytes it was parsed from.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "fuzz_support.h"
#include "net/frame_codec.h"
#include "net/frame_sequence.h"

using namespace kestrune;
using namespace kestrune::net;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t chunkBytes = 1 + data[0] % 64;
    const std::span<const std::byte> stream = fuzz::payloadAfterSelector(data, size);
    FrameParser parser;
    std::size_t offset = 0;
    std::size_t frameStart = 0;
    bool haveSession = false;
    u64 sessionId = 0;
    u32 lastSequence = 0;
    std::vector<std::byte> reencoded;
    try {
        while (offset < stream.size()) {
            const std::size_t count = std::min(chunkBytes, stream.size() - offset);
            offset += parser.feed(stream.subspan(offset, count));
            if (!parser.hasFrame()) {
                continue;
            }
            const Frame frame = parser.takeFrame();
            encodeFrame(reencoded, frame.type, frame.sequence, frame.sessionId, frame.payload);
            fuzz::require(fuzz::sameBytes(reencoded, stream.subspan(frameStart, offset - frameStart)));
            frameStart = offset;
            fuzz::require(parser.atFrameBoundary());
            if (!haveSession) {
                sessionId = frame.sessionId;
                haveSession = true;
            }
            checkServerSequence(frame, sessionId, lastSequence);
            if (!fuzz::decodeServerFrame(frame) || frame.type == kServerError) {
                break;  // the session ends here
            }
        }
    } catch (const std::runtime_error&) {
        // The session would end here.
    }
    return 0;
}
