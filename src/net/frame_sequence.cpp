#include "net/frame_sequence.h"

#include <stdexcept>
#include <string>

#include "net/protocol.h"

namespace kestrune::net {
namespace {

void checkSequence(const Frame& frame, u64 sessionId, u32& lastAccepted, const char* exhaustedText,
                   const char* expectedPrefix) {
    if (frame.sessionId != sessionId) {
        throw std::runtime_error("received a frame for another session");
    }
    if (lastAccepted == kLastSequence) {
        throw std::runtime_error(exhaustedText);
    }
    const u32 expected = lastAccepted + 1;
    if (frame.sequence != expected) {
        throw std::runtime_error(std::string(expectedPrefix) + std::to_string(expected) + ", received " +
                                 std::to_string(frame.sequence));
    }
    lastAccepted = frame.sequence;
}

}  // namespace

void checkServerSequence(const Frame& frame, u64 sessionId, u32& lastServerSequence) {
    checkSequence(frame, sessionId, lastServerSequence, "duel server frame sequence is exhausted",
                  "expected duel server frame sequence ");
}

void checkClientSequence(const Frame& frame, u64 sessionId, u32& lastClientSequence) {
    checkSequence(frame, sessionId, lastClientSequence, "duel client frame sequence is exhausted",
                  "expected duel client frame sequence ");
}

CommandNumbers takeCommandNumbers(u32& commandCounter, u32& nextFrameSequence) {
    if (commandCounter == kLastSequence || nextFrameSequence == kLastSequence) {
        throw std::runtime_error("duel client sequence is exhausted");
    }
    commandCounter += 1;
    const CommandNumbers out{commandCounter, nextFrameSequence};
    nextFrameSequence += 1;
    return out;
}

}  // namespace kestrune::net
