#pragma once
// Session id and sequence rules. Each side numbers its frames per connection from 1 and
// never wraps; the receiver accepts exactly one more than the last accepted sequence, in
// the session it knows. There is no reordering or retransmission: any deviation throws
// std::runtime_error and the session ends.

#include "base/types.h"
#include "net/frame_codec.h"

namespace kestrune::net {

// The client's check of every server frame from the welcome on; advances the last
// accepted sequence (0 after connecting, so the first server frame must carry 1).
void checkServerSequence(const Frame& frame, u64 sessionId, u32& lastServerSequence);

// The server's check of every client frame; the hello is checked against session id 0.
void checkClientSequence(const Frame& frame, u64 sessionId, u32& lastClientSequence);

struct CommandNumbers {
    u32 commandSequence = 0;
    u32 frameSequence = 0;
};

// Numbers the next command and the frame that carries it, advancing both counters
// (`commandCounter` is the last command sequence handed out, `nextFrameSequence` the
// sequence of the next client frame). Throws "duel client sequence is exhausted" instead
// of wrapping, leaving both counters as they were.
CommandNumbers takeCommandNumbers(u32& commandCounter, u32& nextFrameSequence);

}  // namespace kestrune::net
