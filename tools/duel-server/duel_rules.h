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

namespace kestrune::duel {

// ---- Arena and fighters ----
inline constexpr i32 kArenaBoundMm = 20000;
inline constexpr i32 kStartOffsetMm = 2000;  // warrior at x = -2 m, templar at +2 m
inline constexpr i32 kMaxHealth = 1000;
// Speed bases are millimetres per tick at 30 ticks per second and full speed factor.
inline constexpr i32 kWarriorSpeedBase = 155;
inline constexpr i32 kTemplarSpeedBase = 145;
inline constexpr i32 kSpeedBaseTicksPerSecond = 30;

// ---- Actions ----
inline constexpr i64 kMeleeRangeMm = 3400;    // basic attack and skill 1
inline constexpr i64 kSkill2RangeMm = 5000;
inline constexpr i32 kBasicAttackDamage = 80;
inline constexpr i32 kSkill1Damage = 125;
inline constexpr i32 kSkill2Damage = 155;
inline constexpr u32 kSkill1LockMs = 1100;
inline constexpr u32 kBasicAttackMs = 600;
inline constexpr u32 kBasicAttackHitMs = 288;  // 0.48 of the swing, as the client's clip
inline constexpr u32 kSkill1Ms = 900;
inline constexpr u32 kSkill1HitMs = 300;
inline constexpr u32 kSkill2Ms = 1400;
inline constexpr u32 kSkill2HitMs = 850;
inline constexpr u32 kBasicAttackCooldownMs = 400;
inline constexpr u32 kSkill1CooldownMs = 4000;
inline constexpr u32 kSkill2CooldownMs = 6000;
inline constexpr u32 kRoundRestartMs = 3000;
inline constexpr u8 kComboSteps = 4;
inline constexpr u32 kCommandsPerTickLimit = 8;  // per fighter; more are refused
static_assert(kBasicAttackHitMs < kBasicAttackMs && kSkill1HitMs < kSkill1Ms && kSkill2HitMs < kSkill2Ms,
              "every action lands its hit before it ends");
static_assert(kBasicAttackCooldownMs < kBasicAttackMs, "a basic attack may cut the previous swing short");

// Combat event kinds the server sends: an action starts, and the two stages of a hit.
inline constexpr u8 kEventHitImpact = 2;   // value: damage dealt
inline constexpr u8 kEventHitResult = 3;   // value: the target's health after the hit

// Snapshot state flags (the locked bit is the one the client reads).
inline constexpr u16 kStateMoving = 1;
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

// Rounds a duration to whole ticks, at least one.
u32 ticksFromMs(u32 durationMs, u16 tickRate) noexcept;
// The client's speed rule: floor((base x factor + 500) / 1000) x 30 millimetres per second.
i32 speedMmPerSecond(u8 characterClass, i32 speedFactor) noexcept;

struct Fighter {
    bool seated = false;
    u32 entityId = 0;
    u8 characterClass = 0;
    f64 xMm = 0;
    f64 zMm = 0;
    i32 health = kMaxHealth;
    // Movement intent of the last accepted move; kept through a lock, dropped by an action.
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
    void moveFighter(Fighter& fighter) const;

    u16 tickRate_;
    std::array<Fighter, 2> fighters_{};
    std::vector<net::CombatEvent> events_;
    u64 nextEventId_ = 1;
    u32 roundRestartTicks_ = 0;
};

}  // namespace kestrune::duel
