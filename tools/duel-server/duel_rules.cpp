#include "duel_rules.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrune::duel {
namespace {

using net::ClientCommandMessage;
using net::CombatEvent;

bool isFirstSkill(u16 skill) noexcept { return skill == net::kSkillWarrior1 || skill == net::kSkillTemplar1; }

u8 classOfSkill(u16 skill) noexcept { return skill < net::kSkillTemplar1 ? net::kWarrior : net::kTemplar; }

u8 otherClass(u8 characterClass) noexcept {
    return characterClass == net::kWarrior ? net::kTemplar : net::kWarrior;
}

// Squared distances in f64 are exact for anything inside the arena.
bool withinRange(const Fighter& a, const Fighter& b, i64 rangeMm) noexcept {
    const f64 dx = a.xMm - b.xMm;
    const f64 dz = a.zMm - b.zMm;
    return dx * dx + dz * dz <= static_cast<f64>(rangeMm * rangeMm);
}

void countDown(u32& ticks) noexcept {
    if (ticks > 0) {
        --ticks;
    }
}

i32 roundedMm(f64 valueMm) noexcept { return static_cast<i32>(std::lround(valueMm)); }

}  // namespace

Duel::Duel(u16 tickRate) : tickRate_(tickRate == 0 ? 1 : tickRate) {
    fighters_[0].characterClass = net::kWarrior;
    fighters_[1].characterClass = net::kTemplar;
}

void Duel::seat(u8 characterClass, u32 entityId) {
    Fighter& fighter = fighters_[seatOf(characterClass)];
    fighter = Fighter{};
    fighter.seated = true;
    fighter.entityId = entityId;
    fighter.characterClass = characterClass;
    startRound();
}

void Duel::vacate(u8 characterClass) {
    Fighter& fighter = fighters_[seatOf(characterClass)];
    fighter = Fighter{};
    fighter.characterClass = characterClass;
    startRound();  // whoever stays is back on its feet for the next opponent
}

void Duel::startRound() {
    for (Fighter& fighter : fighters_) {
        fighter.xMm = net::startXMm(fighter.characterClass);
        fighter.zMm = 0;
        fighter.health = kMaxHealth;
        fighter.moving = false;
        fighter.actionSkill = net::kSkillNone;
        fighter.lockTicks = 0;
        fighter.basicCooldownTicks = 0;
        fighter.skill1CooldownTicks = 0;
        fighter.skill2CooldownTicks = 0;
    }
    roundRestartTicks_ = 0;
}

u16 Duel::apply(u8 characterClass, const ClientCommandMessage& command) {
    Fighter& self = fighters_[seatOf(characterClass)];
    const Fighter& other = fighters_[seatOf(otherClass(characterClass))];
    self.lastCommandSequence = command.commandSequence;
    if (++self.commandsThisTick > kCommandsPerTickLimit) {
        return kTooManyCommands;
    }
    switch (command.kind) {
    case net::kCommandStop:
        self.moving = false;
        return kAccepted;
    case net::kCommandMove:
        if (self.health <= 0) {
            return kDefeated;
        }
        if (command.a == 0 && command.b == 0) {
            return kNoDirection;
        }
        // Taken during a lock or an action too: the fighter sets off with it in the first tick
        // it is free, so a client need not guess that tick to the millisecond.
        self.moving = true;
        self.moveA = static_cast<i16>(command.a);
        self.moveB = static_cast<i16>(command.b);
        return kAccepted;
    default:
        return startAction(self, other, command);
    }
}

u16 Duel::startAction(Fighter& self, const Fighter& other, const ClientCommandMessage& command) {
    const bool basic = command.kind == net::kCommandBasicAttack;
    const u16 skill = basic ? net::kSkillBasicAttack : command.c;
    if (self.health <= 0) {
        return kDefeated;
    }
    if (!other.seated) {
        return kNoOpponent;
    }
    if (command.targetEntityId != other.entityId) {
        return kInvalidTarget;
    }
    if (other.health <= 0) {
        return kTargetDefeated;
    }
    if (!basic && classOfSkill(skill) != self.characterClass) {
        return kSkillOfOtherClass;
    }
    if (self.lockTicks > 0) {
        return kLocked;
    }
    // A basic attack cuts any running action short; a skill waits for it.
    if (!basic && self.actionSkill != net::kSkillNone) {
        return kBusy;
    }
    u32& cooldown = basic ? self.basicCooldownTicks
                          : (isFirstSkill(skill) ? self.skill1CooldownTicks : self.skill2CooldownTicks);
    if (cooldown > 0) {
        return kOnCooldown;
    }
    const net::ActionRule& timing = net::actionRule(skill);
    if (!withinRange(self, other, timing.reachMm)) {
        return kOutOfRange;
    }
    self.moving = false;
    self.actionSkill = skill;
    self.actionTicks = 0;
    self.actionHitTicks = ticksFromMs(timing.hitMs, tickRate_);
    self.actionEndTicks = ticksFromMs(timing.durationMs, tickRate_);
    self.hitDone = false;
    cooldown = ticksFromMs(timing.cooldownMs, tickRate_);
    i32 value = 0;
    if (basic) {
        self.comboStep = static_cast<u8>(self.comboStep % kComboSteps + 1);
        value = self.comboStep;
    }
    events_.push_back(CombatEvent{nextEventId_++, net::kEventActionStarted, self.entityId, other.entityId, skill,
                                  value, 0});
    return kAccepted;
}

void Duel::moveFighter(Fighter& fighter, const Fighter& other) const {
    const f64 a = fighter.moveA;
    const f64 b = fighter.moveB;
    const f64 length = std::hypot(a, b);
    const i32 factor = std::min(net::kRunSpeedFactor, static_cast<i32>(std::lround(length)));
    const f64 stepMm = static_cast<f64>(speedMmPerSecond(fighter.characterClass, factor)) / tickRate_;
    const f64 boundMm = kArenaBoundMm;
    net::GroundPoint<f64> to{std::clamp(fighter.xMm + a / length * stepMm, -boundMm, boundMm),
                             std::clamp(fighter.zMm + b / length * stepMm, -boundMm, boundMm)};
    if (other.seated) {
        to = net::keepApart<f64>({fighter.xMm, fighter.zMm}, to, {other.xMm, other.zMm}, net::kBodyWidthMm);
    }
    fighter.xMm = to.x;
    fighter.zMm = to.z;
}

void Duel::resolveHit(Fighter& attacker, Fighter& target) {
    const net::ActionRule& timing = net::actionRule(attacker.actionSkill);
    if (!target.seated || target.health <= 0 || !withinRange(attacker, target, timing.reachMm)) {
        return;  // the target walked out of reach during the wind-up
    }
    const i32 damage = std::min(timing.damage, target.health);
    target.health -= damage;
    if (timing.locks) {
        target.lockTicks = ticksFromMs(kSkill1LockMs, tickRate_);
    }
    // Both stages of one hit share its id, as the client's own hit resolution does.
    const u64 hitId = nextEventId_++;
    events_.push_back(
        CombatEvent{hitId, kEventHitImpact, attacker.entityId, target.entityId, attacker.actionSkill, damage, 0});
    events_.push_back(CombatEvent{hitId, kEventHitResult, attacker.entityId, target.entityId, attacker.actionSkill,
                                  target.health, 0});
    if (target.health == 0) {
        target.moving = false;
        target.actionSkill = net::kSkillNone;
        roundRestartTicks_ = ticksFromMs(kRoundRestartMs, tickRate_);
    }
}

void Duel::step() {
    for (Fighter& fighter : fighters_) {
        fighter.commandsThisTick = 0;
        countDown(fighter.lockTicks);
        countDown(fighter.basicCooldownTicks);
        countDown(fighter.skill1CooldownTicks);
        countDown(fighter.skill2CooldownTicks);
    }
    if (roundRestartTicks_ > 0 && --roundRestartTicks_ == 0) {
        startRound();
        return;
    }
    for (std::size_t seat = 0; seat < fighters_.size(); ++seat) {
        Fighter& fighter = fighters_[seat];
        if (fighter.seated && fighter.moving && fighter.lockTicks == 0 && fighter.actionSkill == net::kSkillNone &&
            fighter.health > 0) {
            moveFighter(fighter, fighters_[1 - seat]);
        }
    }
    for (std::size_t seat = 0; seat < fighters_.size(); ++seat) {
        Fighter& fighter = fighters_[seat];
        if (fighter.actionSkill == net::kSkillNone) {
            continue;
        }
        ++fighter.actionTicks;
        if (!fighter.hitDone && fighter.actionTicks >= fighter.actionHitTicks) {
            fighter.hitDone = true;
            resolveHit(fighter, fighters_[1 - seat]);
        }
        if (fighter.actionTicks >= fighter.actionEndTicks) {
            fighter.actionSkill = net::kSkillNone;
        }
    }
}

void Duel::writeSnapshot(u64 tick, net::DuelSnapshot& out) const {
    out.tick = tick;
    out.players.clear();
    out.projectiles.clear();
    for (const Fighter& fighter : fighters_) {
        if (!fighter.seated) {
            continue;
        }
        net::SnapshotPlayer player;
        player.entityId = fighter.entityId;
        player.characterClass = fighter.characterClass;
        player.positionXMm = roundedMm(fighter.xMm);
        player.positionZMm = roundedMm(fighter.zMm);
        player.health = fighter.health;
        player.maxHealth = kMaxHealth;
        player.stateFlags = static_cast<u16>((fighter.moving ? kStateMoving : 0) |
                                             (fighter.lockTicks > 0 ? kStateLocked : 0) |
                                             (fighter.health <= 0 ? kStateDefeated : 0));
        player.lockTicks = static_cast<u16>(std::min<u32>(fighter.lockTicks, std::numeric_limits<u16>::max()));
        player.opaque = fighter.actionSkill == net::kSkillBasicAttack ? fighter.comboStep : 0;
        player.skill = fighter.actionSkill;
        player.lastCommandSequence = fighter.lastCommandSequence;
        out.players.push_back(player);
    }
}

}  // namespace kestrune::duel
