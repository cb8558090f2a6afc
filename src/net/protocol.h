#pragma once
// Constants and enumeration rules of the duel protocol: frame layout, message type numbers,
// limits, and the wire values of classes, skills, command kinds and event kinds. Shared by
// the client and the server side of every codec.

#include <cstddef>

#include "base/types.h"

namespace kestrune::net {

// ---- Frames ----
inline constexpr std::size_t kFrameHeaderBytes = 24;
inline constexpr u32 kMaxPayloadBytes = 65536;
inline constexpr u16 kProtocolVersion = 2;
inline constexpr u32 kLastSequence = 0xFFFFFFFF;  // sequences never wrap

// Message type numbers (u16 at header offset 6).
inline constexpr u16 kClientHello = 1;
inline constexpr u16 kClientJoin = 2;
inline constexpr u16 kClientCommand = 3;
inline constexpr u16 kServerWelcome = 101;
inline constexpr u16 kServerJoined = 102;
inline constexpr u16 kServerCommandResult = 103;
inline constexpr u16 kServerSnapshot = 104;
inline constexpr u16 kServerCombatEvents = 105;
inline constexpr u16 kServerTick = 106;
inline constexpr u16 kServerError = 199;

// ---- String limits (bytes, not characters) ----
inline constexpr std::size_t kCharacterNameLimitBytes = 24;
inline constexpr std::size_t kGameTicketLimitBytes = 256;
inline constexpr std::size_t kServerErrorTextLimitBytes = 256;

// ---- Message sizes and list limits ----
inline constexpr u32 kHelloVersion = 1;
inline constexpr std::size_t kCommandBytes = 23;
inline constexpr std::size_t kWelcomeBytes = 14;
inline constexpr std::size_t kJoinedBytes = 13;
inline constexpr std::size_t kCommandResultBytes = 15;
inline constexpr std::size_t kSnapshotPlayerBytes = 32;
inline constexpr std::size_t kSnapshotProjectileBytes = 24;
inline constexpr std::size_t kCombatEventBytes = 25;
inline constexpr std::size_t kMaxSnapshotPlayers = 256;
inline constexpr std::size_t kMaxSnapshotProjectiles = 2048;
inline constexpr std::size_t kMaxCombatEvents = 4096;

// The largest snapshot still fits one frame; a full event list does not (a server sends
// at most (65536 - 2) / 25 = 2621 events per frame), the decoder still honours the limit.
static_assert(8 + 2 + kMaxSnapshotPlayers * kSnapshotPlayerBytes + 2 +
                      kMaxSnapshotProjectiles * kSnapshotProjectileBytes <=
                  kMaxPayloadBytes,
              "a full snapshot fits one frame");

// ---- Enumerations (wire values) ----
inline constexpr u8 kWarrior = 1;
inline constexpr u8 kTemplar = 2;

inline constexpr u16 kSkillNone = 0;
inline constexpr u16 kSkillBasicAttack = 1;
inline constexpr u16 kSkillWarrior1 = 1001;
inline constexpr u16 kSkillWarrior2 = 1002;
inline constexpr u16 kSkillTemplar1 = 2001;
inline constexpr u16 kSkillTemplar2 = 2002;

inline constexpr u8 kCommandMove = 1;
inline constexpr u8 kCommandStop = 2;
inline constexpr u8 kCommandBasicAttack = 3;
inline constexpr u8 kCommandUseSkill = 4;

inline constexpr u8 kEventActionStarted = 1;
inline constexpr u8 kLastEventKind = 7;

inline constexpr u16 kStateFlagLimit = 32;  // five flag bits
inline constexpr u16 kStateMoving = 1;  // the fighter has a move (paused while locked or acting)
inline constexpr u16 kStateLocked = 2;
inline constexpr u16 kLastRejectReason = 11;

// Move arguments are a unit direction component times the speed factor.
inline constexpr i32 kRunSpeedFactor = 1000;
inline constexpr i32 kWalkSpeedFactor = 450;

constexpr bool isValidCharacterClass(u32 value) noexcept { return value == kWarrior || value == kTemplar; }

constexpr bool isValidSkill(u32 value) noexcept {
    return value == kSkillNone || value == kSkillBasicAttack || value == kSkillWarrior1 ||
           value == kSkillWarrior2 || value == kSkillTemplar1 || value == kSkillTemplar2;
}

// The skills that a use-skill command may name (each class's two).
constexpr bool isClassSkill(u32 value) noexcept {
    return value == kSkillWarrior1 || value == kSkillWarrior2 || value == kSkillTemplar1 ||
           value == kSkillTemplar2;
}

constexpr bool isValidEventKind(u32 value) noexcept { return value >= 1 && value <= kLastEventKind; }

}  // namespace kestrune::net
