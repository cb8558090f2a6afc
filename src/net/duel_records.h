#pragma once
// The decoded duel messages: what the receive thread queues and the presentation consumes
// (server to client), and what the server decodes from a client (client to server). Plain
// value types; fields marked opaque are carried for the server and not interpreted here.

#include <array>
#include <string>
#include <vector>

#include "base/types.h"

namespace kestrune::net {

// ---- Server to client ----

struct SnapshotPlayer {
    u32 entityId = 0;
    u8 characterClass = 0;
    i32 positionXMm = 0;
    i32 positionZMm = 0;
    i32 health = 0;
    i32 maxHealth = 0;
    u16 stateFlags = 0;
    u16 lockTicks = 0;  // server ticks left in the locked state
    u8 opaque = 0;
    u16 skill = 0;
    u32 lastCommandSequence = 0;

    friend bool operator==(const SnapshotPlayer&, const SnapshotPlayer&) = default;
};

struct SnapshotProjectile {
    std::array<u32, 5> opaqueWords{};
    u16 opaqueHalf = 0;
    u16 skill = 0;

    friend bool operator==(const SnapshotProjectile&, const SnapshotProjectile&) = default;
};

struct DuelSnapshot {
    u64 tick = 0;
    std::vector<SnapshotPlayer> players;
    std::vector<SnapshotProjectile> projectiles;

    friend bool operator==(const DuelSnapshot&, const DuelSnapshot&) = default;
};

struct CombatEvent {
    u64 eventId = 0;
    u8 kind = 0;
    u32 sourceEntityId = 0;
    u32 targetEntityId = 0;
    u16 skill = 0;
    i32 value = 0;
    u16 extra = 0;  // opaque

    friend bool operator==(const CombatEvent&, const CombatEvent&) = default;
};

struct CommandResult {
    u32 commandSequence = 0;
    bool accepted = false;
    u16 reason = 0;
    u64 tick = 0;

    friend bool operator==(const CommandResult&, const CommandResult&) = default;
};

struct ServerWelcomeMessage {
    u64 sessionId = 0;
    u16 tickRate = 0;  // server ticks per second
    u32 opaque = 0;

    friend bool operator==(const ServerWelcomeMessage&, const ServerWelcomeMessage&) = default;
};

struct ServerJoinedMessage {
    u32 entityId = 0;
    u8 characterClass = 0;
    u32 opaqueFirst = 0;
    u32 opaqueSecond = 0;

    friend bool operator==(const ServerJoinedMessage&, const ServerJoinedMessage&) = default;
};

// ---- Client to server ----

struct ClientHelloMessage {
    u64 clientClockNs = 0;  // the client's steady clock when it sent the hello
    std::string gameTicket;

    friend bool operator==(const ClientHelloMessage&, const ClientHelloMessage&) = default;
};

struct ClientJoinMessage {
    u8 characterClass = 0;
    std::string characterName;

    friend bool operator==(const ClientJoinMessage&, const ClientJoinMessage&) = default;
};

struct ClientCommandMessage {
    u32 commandSequence = 0;
    u8 kind = 0;
    u32 targetEntityId = 0;
    u16 a = 0;  // move: x direction times speed factor, two's complement
    u16 b = 0;  // move: z direction, same scale
    u16 c = 0;  // basic attack: 1; use skill: the skill id

    friend bool operator==(const ClientCommandMessage&, const ClientCommandMessage&) = default;
};

}  // namespace kestrune::net
