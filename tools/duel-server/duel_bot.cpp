#include "duel_bot.h"

#include <cmath>

namespace kestrune::duel {

DuelBot::DuelBot(u8 characterClass, u16 tickRate, bool idle)
    : characterClass_(characterClass), idle_(idle), decisionTicks_(ticksFromMs(kBotDecisionMs, tickRate)) {}

void DuelBot::command(Duel& duel, u8 kind, u32 targetEntityId, i32 a, i32 b, u16 c) {
    net::ClientCommandMessage message;
    message.commandSequence = ++commandSequence_;
    message.kind = kind;
    message.targetEntityId = targetEntityId;
    message.a = static_cast<u16>(a);
    message.b = static_cast<u16>(b);
    message.c = c;
    duel.apply(characterClass_, message);
}

void DuelBot::think(Duel& duel) {
    if (idle_) {
        return;
    }
    if (ticksUntilDecision_ > 0) {
        --ticksUntilDecision_;
        return;
    }
    ticksUntilDecision_ = decisionTicks_ - 1;
    const u8 opponentClass = characterClass_ == net::kWarrior ? net::kTemplar : net::kWarrior;
    const Fighter& self = duel.fighter(characterClass_);
    const Fighter& opponent = duel.fighter(opponentClass);
    if (!opponent.seated || duel.roundOver()) {
        if (self.moving) {
            command(duel, net::kCommandStop, 0, 0, 0, 0);
        }
        return;
    }
    if (self.lockTicks > 0 || self.actionSkill != net::kSkillNone) {
        return;
    }
    const f64 dx = opponent.xMm - self.xMm;
    const f64 dz = opponent.zMm - self.zMm;
    const f64 distanceMm = std::hypot(dx, dz);
    if (distanceMm > static_cast<f64>(kBotEngageRangeMm)) {
        // Quantised as a client quantises its stick: each component times the run factor.
        const i32 a = static_cast<i32>(std::lround(dx / distanceMm * net::kRunSpeedFactor));
        const i32 b = static_cast<i32>(std::lround(dz / distanceMm * net::kRunSpeedFactor));
        if (!self.moving || a != lastMoveA_ || b != lastMoveB_) {
            command(duel, net::kCommandMove, 0, a, b, 0);
            lastMoveA_ = a;
            lastMoveB_ = b;
        }
        return;
    }
    if (self.moving) {
        command(duel, net::kCommandStop, 0, 0, 0, 0);
    }
    const u16 firstSkill = characterClass_ == net::kWarrior ? net::kSkillWarrior1 : net::kSkillTemplar1;
    const u16 secondSkill = characterClass_ == net::kWarrior ? net::kSkillWarrior2 : net::kSkillTemplar2;
    if (self.skill1CooldownTicks == 0) {
        command(duel, net::kCommandUseSkill, opponent.entityId, 0, 0, firstSkill);
    } else if (self.skill2CooldownTicks == 0) {
        command(duel, net::kCommandUseSkill, opponent.entityId, 0, 0, secondSkill);
    } else if (self.basicCooldownTicks == 0) {
        command(duel, net::kCommandBasicAttack, opponent.entityId, 0, 0, net::kSkillBasicAttack);
    }
}

}  // namespace kestrune::duel
