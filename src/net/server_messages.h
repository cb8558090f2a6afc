#pragma once
// Bodies of the server's messages: welcome (101), joined (102), command result (103),
// snapshot (104), combat events (105), tick (106) and error (199). The client decodes them
// and throws std::runtime_error with the protocol's texts; the duel server encodes them,
// and the encoders refuse (std::invalid_argument, same texts) anything the client would
// refuse, so a server bug shows at its source instead of as a dropped client.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/types.h"
#include "net/duel_records.h"

namespace kestrune::net {

// ---- Value rules shared by both directions ----
bool isValidSnapshotPlayer(const SnapshotPlayer& player) noexcept;
bool isValidCombatEvent(const CombatEvent& event) noexcept;
bool isConsistentCommandResult(const CommandResult& result) noexcept;

// ---- Client side ----
// Welcome and joined are decoded by layout only; whether their values are acceptable
// depends on the session (the client checks them during the join).
ServerWelcomeMessage decodeWelcome(std::span<const std::byte> payload);
ServerJoinedMessage decodeJoined(std::span<const std::byte> payload);
CommandResult decodeCommandResult(std::span<const std::byte> payload);
// Counts are checked against their limits before anything is reserved, and an entry's
// values only after the whole entry was read (so truncation is reported first).
DuelSnapshot decodeSnapshot(std::span<const std::byte> payload);
std::vector<CombatEvent> decodeCombatEvents(std::span<const std::byte> payload);
u64 decodeTick(std::span<const std::byte> payload);
// Returns the error as one text: "server error " code ": " text.
std::string decodeServerError(std::span<const std::byte> payload);

// ---- Server side ----
std::vector<std::byte> encodeWelcome(const ServerWelcomeMessage& welcome);
std::vector<std::byte> encodeJoined(const ServerJoinedMessage& joined);
std::vector<std::byte> encodeCommandResult(const CommandResult& result);
std::vector<std::byte> encodeSnapshot(const DuelSnapshot& snapshot);
std::vector<std::byte> encodeCombatEvents(std::span<const CombatEvent> events);
// The same two into `out`, replacing what it held and reusing its storage (the server
// encodes every room's snapshot each tick). A refused message leaves `out` empty.
void encodeSnapshot(const DuelSnapshot& snapshot, std::vector<std::byte>& out);
void encodeCombatEvents(std::span<const CombatEvent> events, std::vector<std::byte>& out);
std::vector<std::byte> encodeTick(u64 tick);
std::vector<std::byte> encodeServerError(u16 errorCode, std::string_view text);

}  // namespace kestrune::net
