#pragma once
// The launcher's session payload: the ASCII magic "KSN1", the u16 ticket length T and the
// u16 name length N (little-endian), then T ticket bytes and N character-name bytes.
// Exactly 8 + T + N bytes are read and nothing after them. The ticket is a credential:
// no message thrown here or by the pipe readers contains any payload byte.

#include <cstddef>
#include <span>
#include <string>

#include "base/types.h"

namespace kestrune::app {

inline constexpr std::size_t kSessionPayloadHeaderBytes = 8;
inline constexpr u16 kMaximumTicketBytes = 256;
inline constexpr u16 kMaximumCharacterNameBytes = 24;
// One platform read asks for at most this many bytes (the width of ReadFile's count).
inline constexpr std::size_t kMaximumPipeReadBytes = 0xFFFFFFFFu;

struct SessionPayload {
    std::string gameTicket;
    std::string characterName;
};

// A blocking byte stream, such as the read end of the launcher's pipe.
class PayloadStream {
public:
    virtual ~PayloadStream() = default;
    // Reads at most buffer.size() bytes (never 0) and returns how many arrived; 0 means
    // the stream failed or ended.
    virtual std::size_t readSome(std::span<std::byte> buffer) = 0;
};

// Fills `buffer` completely, asking each time for the count still missing. A read that
// fails or ends early throws std::runtime_error "Unable to read the launcher session pipe.".
void readExactly(PayloadStream& stream, std::span<std::byte> buffer);

// Reads and checks the header, then reads the body. Throws std::runtime_error: the read
// error above, "The launcher session payload has an invalid signature." or "The launcher
// session payload exceeds its limits." (before any body byte is read).
SessionPayload readSessionPayload(PayloadStream& stream);

// Reads the payload from the launcher's inherited pipe, given the numeric value of its
// read handle (a HANDLE on Windows, a file descriptor on Linux), and closes it. The caller
// has already checked that a server was given: from this call on the handle belongs to
// the program and is closed exactly once, whatever the outcome, unless its value cannot
// name one (0, all bits set, or on Linux a value beyond the descriptor range). Throws
// std::invalid_argument "--session-pipe does not reference an inherited pipe." when the
// handle is not a pipe, and the payload's errors above.
SessionPayload readLauncherSessionPipe(u64 handleValue);

// The refusal of a handle that is not a pipe, shared by the two platform readers.
[[noreturn]] void throwNotAnInheritedPipe();

}  // namespace kestrune::app
