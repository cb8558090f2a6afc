#pragma once
// A computer opponent for a player who waits alone. It plays through Duel::apply with its
// own command numbering, so it obeys exactly the rules a client does: it walks up to its
// opponent, opens with skill 1, follows with skill 2, and fills the gaps with basic
// attacks. It decides a few times per second, not every tick, to stay beatable.

#include "base/types.h"
#include "duel_rules.h"

namespace kestrune::duel {

inline constexpr u32 kBotDecisionMs = 200;
inline constexpr i64 kBotEngageRangeMm = 3000;  // closes in to well inside melee range
static_assert(kBotEngageRangeMm < kMeleeRangeMm);

class DuelBot {
public:
    // An idle bot only holds its seat: it stands where the round starts it and never acts.
    DuelBot(u8 characterClass, u16 tickRate, bool idle = false);

    u8 characterClass() const noexcept { return characterClass_; }
    // Called once per tick before Duel::step().
    void think(Duel& duel);

private:
    void command(Duel& duel, u8 kind, u32 targetEntityId, i32 a, i32 b, u16 c);

    u8 characterClass_;
    bool idle_;
    u32 decisionTicks_;
    u32 ticksUntilDecision_ = 0;
    u32 commandSequence_ = 0;
    i32 lastMoveA_ = 0;
    i32 lastMoveB_ = 0;
};

}  // namespace kestrune::duel
