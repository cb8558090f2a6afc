#pragma once
// The rules of one duel, run by the server at its tick rate: one warrior seat and one
// templar seat, movement from move commands, the basic-attack combo and the four class
// skills with their ranges, damage, lock and cooldowns, rounds that restart after a
// knockout. No I/O and no clock: the server feeds validated commands between ticks and
// calls step() once per tick; what happened comes out as combat events and snapshots.
// Positions are millimetres on the ground plane.

#include <array>
#include <span>
#include <vector>

#include "base/types.h"
#include "net/duel_records.h"
#include "net/protocol.h"
#include "net/rule_book.h"

namespace kestrune::duel {

// ---- Numbers ----
// Every number of the rules is the rule book's (net/rule_book.h), which the client predicts
// with; the names here are the server's own for them.
using net::kArenaBoundMm;
using net::kStartOffsetMm;
using net::kMaxHealth;
using net::kWarriorSpeedBase;
using net::kTemplarSpeedBase;
using net::kSpeedBaseTicksPerSecond;
using net::kSkill1LockMs;
using net::kRoundRestartMs;
using net::ticksFromMs;
using net::speedMmPerSecond;
inline constexpr i64 kMeleeRangeMm = net::kBasicAttackRule.reachMm;  // basic attack and skill 1
inline constexpr i64 kSkill2RangeMm = net::kSkill2Rule.reachMm;
inline constexpr i32 kBasicAttackDamage = net::kBasicAttackRule.damage;
inline constexpr i32 kSkill1Damage = net::kSkill1Rule.damage;
inline constexpr i32 kSkill2Damage = net::kSkill2Rule.damage;
inline constexpr u32 kBasicAttackMs = net::kBasicAttackRule.durationMs;
inline constexpr u32 kBasicAttackHitMs = net::kBasicAttackRule.hitMs;
inline constexpr u32 kSkill1Ms = net::kSkill1Rule.durationMs;
inline constexpr u32 kSkill1HitMs = net::kSkill1Rule.hitMs;
inline constexpr u32 kSkill2Ms = net::kSkill2Rule.durationMs;
inline constexpr u32 kSkill2HitMs = net::kSkill2Rule.hitMs;
inline constexpr u32 kBasicAttackCooldownMs = net::kBasicAttackRule.cooldownMs;
inline constexpr u32 kSkill1CooldownMs = net::kSkill1Rule.cooldownMs;
inline constexpr u32 kSkill2CooldownMs = net::kSkill2Rule.cooldownMs;
inline constexpr u8 kComboSteps = static_cast<u8>(net::kComboSteps);
inline constexpr u32 kCommandsPerTickLimit = 8;  // per fighter; more are refused

// Combat event kinds the server sends: an action starts, and the two stages of a hit.
inline constexpr u8 kEventHitImpact = 2;   // value: damage dealt
inline constexpr u8 kEventHitResult = 3;   // value: the target's health after the hit

// Snapshot state flags (the locked bit is the one the client reads).
inline constexpr u16 kStateMoving = net::kStateMoving;
inline constexpr u16 kStateLocked = net::kStateLocked;
inline constexpr u16 kStateDefeated = 4;

// Command result reasons; 0 is accepted. Documented for players in the tool's README.
enum RejectReason : u16 {
    kAccepted = 0,
    kNoOpponent = 1,         // the duel has no opponent yet
    kInvalidTarget = 2,      // the target is not the opponent's entity id
    kSkillOfOtherClass = 3,  // a skill of the other class
    kLocked = 4,             // the fighter is locked by the opponent's skill 1
    kBusy = 5,               // another action is running (skills and moves wait for it)
    kOnCooldown = 6,
    kOutOfRange = 7,
    kDefeated = 8,           // the fighter is down until the round restarts
    kNoDirection = 9,        // a move with A = B = 0
    kTooManyCommands = 10,   // more than kCommandsPerTickLimit commands in one tick
    kTargetDefeated = 11,    // the opponent is down until the round restarts
};
static_assert(kTargetDefeated == net::kLastRejectReason);

struct Fighter {
    bool seated = false;
    u32 entityId = 0;
    u8 characterClass = 0;
    f64 xMm = 0;
    f64 zMm = 0;
    i32 health = kMaxHealth;
    // Movement intent of the last accepted move; kept through a lock, dropped by an action. A
    // move taken during a lock or an action waits for its end.
    bool moving = false;
    i32 moveA = 0;
    i32 moveB = 0;
    // The running action: skill 0 when free.
    u16 actionSkill = net::kSkillNone;
    u8 comboStep = 0;  // of the last basic attack, 1 to 4
    u32 actionTicks = 0;
    u32 actionHitTicks = 0;
    u32 actionEndTicks = 0;
    bool hitDone = false;
    u32 lockTicks = 0;
    u32 basicCooldownTicks = 0;
    u32 skill1CooldownTicks = 0;
    u32 skill2CooldownTicks = 0;
    u32 lastCommandSequence = 0;
    u32 commandsThisTick = 0;
};

class Duel {
public:
    explicit Duel(u16 tickRate);

    u16 tickRate() const noexcept { return tickRate_; }
    // Seats a fighter in its class's seat and starts a new round for both.
    void seat(u8 characterClass, u32 entityId);
    void vacate(u8 characterClass);
    const Fighter& fighter(u8 characterClass) const { return fighters_[seatOf(characterClass)]; }
    bool roundOver() const noexcept { return roundRestartTicks_ > 0; }

    // Applies one decoded command of the seated fighter of `characterClass` and returns
    // kAccepted or the reason it was refused. An action that starts adds its event.
    u16 apply(u8 characterClass, const net::ClientCommandMessage& command);
    // One tick: timers, movement, hits, round restart.
    void step();

    std::span<const net::CombatEvent> events() const noexcept { return events_; }
    void clearEvents() noexcept { events_.clear(); }
    // Fills `out` (reusing its storage) with the seated fighters, warrior first.
    void writeSnapshot(u64 tick, net::DuelSnapshot& out) const;

private:
    static std::size_t seatOf(u8 characterClass) noexcept { return characterClass == net::kTemplar ? 1 : 0; }
    u16 startAction(Fighter& self, const Fighter& other, const net::ClientCommandMessage& command);
    void resolveHit(Fighter& attacker, Fighter& target);
    void startRound();
    void moveFighter(Fighter& fighter, const Fighter& other) const;

    u16 tickRate_;
    std::array<Fighter, 2> fighters_{};
    std::vector<net::CombatEvent> events_;
    u64 nextEventId_ = 1;
    u32 roundRestartTicks_ = 0;
};

}  // namespace kestrune::duel
