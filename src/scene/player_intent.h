#pragma once
// What the duel scene wants sent for the local player. The scene queues them during its
// fixed steps and input handling; the duel tick takes and sends them at the start of the
// next frame. Unknown kinds are skipped by the sender.

#include "base/types.h"

namespace kestrune::scene {

inline constexpr u32 kIntentMove = 0;
inline constexpr u32 kIntentStop = 1;
inline constexpr u32 kIntentBasicAttack = 2;
inline constexpr u32 kIntentUseSkill = 3;

struct PlayerIntent {
    u32 kind = kIntentMove;
    i16 moveX = 0;  // move: wanted x direction times the speed factor
    i16 moveZ = 0;  // move: wanted z direction times the speed factor
    u32 targetEntityId = 0;  // basic attack and skill
    u16 skill = 0;           // skill only

    friend bool operator==(const PlayerIntent&, const PlayerIntent&) = default;
};

// The scene never holds more; later intents of a frame are dropped.
inline constexpr u32 kMaxQueuedIntents = 256;

}  // namespace kestrune::scene
