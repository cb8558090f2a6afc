#pragma once
// Duel protocol frames as bytes: the 24-byte header (magic "KDUL", version 2, u16 type,
// u32 payload size up to 64 KiB, u32 sequence, u64 session id) and its payload. Pure
// functions over buffers, plus an incremental parser that a non-blocking reader (the duel
// server) feeds with whatever arrived. Throws std::runtime_error with the protocol's texts.

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "base/types.h"
#include "net/protocol.h"

namespace kestrune::net {

struct FrameHeader {
    u16 type = 0;
    u32 payloadSizeBytes = 0;
    u32 sequence = 0;
    u64 sessionId = 0;
};

// A received frame: the header fields that matter after validation and the owned payload.
struct Frame {
    u16 type = 0;
    u32 sequence = 0;
    u64 sessionId = 0;
    std::vector<std::byte> payload;
};

// Replaces the contents of `out` with one frame (header, then payload), reusing its
// capacity. Throws "protocol payload exceeds 64 KiB" above 65536 payload bytes, leaving
// `out` untouched.
void encodeFrame(std::vector<std::byte>& out, u16 type, u32 sequence, u64 sessionId,
                 std::span<const std::byte> payload);

// Appends one frame after the bytes already in `out` (a server's write queue collects a
// tick's frames for one send). Same refusal as encodeFrame, `out` then unchanged.
void appendFrame(std::vector<std::byte>& out, u16 type, u32 sequence, u64 sessionId,
                 std::span<const std::byte> payload);

// Checks magic, version and payload size, in that order.
FrameHeader decodeFrameHeader(std::span<const std::byte, kFrameHeaderBytes> header);

// Splits a byte stream into frames. feed() consumes input only up to the end of the frame
// being assembled, so at most one complete frame is held (memory is bounded by one
// header plus 64 KiB); take it before feeding more. A bad header throws as soon as its
// 24 bytes are in, before any payload is buffered; after a throw the stream cannot be
// resynchronised and the parser must be discarded with its connection.
class FrameParser {
public:
    // Returns the number of bytes consumed (0 while a complete frame waits to be taken).
    std::size_t feed(std::span<const std::byte> bytes);
    bool hasFrame() const noexcept { return complete_; }
    Frame takeFrame();
    // True between frames: a stream that ends here ended cleanly.
    bool atFrameBoundary() const noexcept { return headerBytes_ == 0 && !complete_; }

private:
    std::array<std::byte, kFrameHeaderBytes> header_{};
    std::size_t headerBytes_ = 0;
    std::size_t payloadBytes_ = 0;
    bool complete_ = false;
    Frame frame_;
};

}  // namespace kestrune::net
