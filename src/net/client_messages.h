#pragma once
// Bodies of the client's messages: hello (type 1), join (type 2) and command (type 3).
// The client encodes them; the duel server decodes them with the same limits, so a server
// accepts exactly what a correct client sends. Encoders throw std::invalid_argument
// (the caller's strings); decoders throw std::runtime_error (the peer's bytes).

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "base/types.h"
#include "net/duel_records.h"
#include "net/protocol.h"

namespace kestrune::net {

// A game ticket is 0 to 256 bytes of ASCII letters, digits, '_' and '-'.
bool isValidGameTicket(std::string_view ticket) noexcept;

// One component of a move argument: the direction component clamped to -1..1 (NaN counts
// as 0) times the speed factor, rounded to the nearest integer.
i16 moveArgument(f32 directionComponent, i32 speedFactor) noexcept;

// ---- Client side ----
std::vector<std::byte> encodeHello(std::string_view gameTicket, u64 clientClockNs);
std::vector<std::byte> encodeJoin(u8 characterClass, std::string_view characterName);
std::array<std::byte, kCommandBytes> encodeCommand(u32 commandSequence, u8 kind, u32 targetEntityId, u16 a,
                                                   u16 b, u16 c) noexcept;

// ---- Server side ----
// Hello: the version word must be 1 ("invalid client hello"), the ticket as above
// ("game ticket is invalid").
ClientHelloMessage decodeHello(std::span<const std::byte> payload);
// Join: class 1 or 2 ("invalid duel character class"), a name of 1 to 24 bytes
// ("character name cannot be empty").
ClientJoinMessage decodeJoin(std::span<const std::byte> payload);
// Command: a kind of 1 to 4 and, for use skill, a class skill ("client command contains
// an invalid enum value"); reserved word 0 and the fields each kind leaves unused 0, move
// arguments within the speed factor ("client command is internally inconsistent").
ClientCommandMessage decodeCommand(std::span<const std::byte> payload);

}  // namespace kestrune::net
