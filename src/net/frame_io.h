#pragma once
// Frames over a connected blocking socket. Every failure is a std::runtime_error: the
// socket layer's "send"/"recv" texts, "duel server closed the connection" when the peer
// closes mid-read, and the frame header's texts. Nothing of a failed frame is kept.

#include <cstddef>
#include <span>
#include <vector>

#include "base/types.h"
#include "net/frame_codec.h"
#include "net/socket.h"

namespace kestrune::net {

// Sends every byte, continuing after partial sends; a send that returns 0 or fails throws.
void sendAll(Socket& socket, std::span<const std::byte> bytes);

// Builds the frame in `scratch` (reused between calls, so steady sending allocates
// nothing) and sends it from that one buffer.
void sendFrame(Socket& socket, std::vector<std::byte>& scratch, u16 type, u32 sequence, u64 sessionId,
               std::span<const std::byte> payload);

// Reads exactly bytes.size() bytes, continuing after short reads; an empty span reads
// nothing (a zero-length recv would look like a closed connection).
void receiveExactly(Socket& socket, std::span<std::byte> bytes);

// Reads and validates a header, then exactly its payload.
Frame receiveFrame(Socket& socket);

}  // namespace kestrune::net
