#pragma once
// The duel's rules in numbers, and its rule of movement, read both by the duel server that
// runs them and by the client that predicts them: an action's window, a lock, a cooldown, a
// step and a body's width mean the same on both sides because they come from here. Times are
// milliseconds, which each side turns into whole ticks of the server's rate with ticksFromMs;
// distances are millimetres on the ground plane.

#include <algorithm>
#include <cmath>

#include "base/types.h"
#include "net/protocol.h"

namespace kestrune::net {

// ---- Arena and fighters ----
inline constexpr i32 kArenaBoundMm = 20000;  // x and z stay within -20 m to 20 m
inline constexpr i32 kStartOffsetMm = 2000;  // each round: the warrior at x = -2 m, the templar at +2 m
inline constexpr i32 kMaxHealth = 1000;
// Millimetres per tick at 30 ticks per second and full speed factor.
inline constexpr i32 kWarriorSpeedBase = 155;
inline constexpr i32 kTemplarSpeedBase = 145;
inline constexpr i32 kSpeedBaseTicksPerSecond = 30;
// Two fighters' centres never come closer than a body's width: a step into the other slides
// along it or stops.
inline constexpr i32 kBodyWidthMm = 900;
static_assert(2 * kStartOffsetMm > kBodyWidthMm, "a round starts with the fighters apart");

// ---- Actions ----
// From the command: the hit lands `hitMs` in, the fighter is busy for `durationMs` (skills and
// nothing else wait for it; a basic attack cuts it short), and the action is refused again for
// `cooldownMs`. Reach is compared between the fighters' positions when the command arrives and
// at the hit.
struct ActionRule {
    u32 durationMs;
    u32 hitMs;
    u32 cooldownMs;
    i64 reachMm;
    i32 damage;
    bool locks;  // locks the target for kSkill1LockMs
};
inline constexpr ActionRule kBasicAttackRule{600, 288, 400, 3400, 80, false};
inline constexpr ActionRule kSkill1Rule{900, 300, 4000, 3400, 125, true};
inline constexpr ActionRule kSkill2Rule{1400, 850, 6000, 5000, 155, false};
inline constexpr u32 kSkill1LockMs = 1100;
inline constexpr u32 kRoundRestartMs = 3000;
inline constexpr u32 kComboSteps = 4;
static_assert(kBasicAttackRule.hitMs < kBasicAttackRule.durationMs && kSkill1Rule.hitMs < kSkill1Rule.durationMs &&
                  kSkill2Rule.hitMs < kSkill2Rule.durationMs,
              "every action lands its hit before it ends");
static_assert(kBasicAttackRule.cooldownMs < kBasicAttackRule.durationMs, "a basic attack may cut the last swing short");

// The rule of a skill id: the basic attack's for kSkillBasicAttack and any id that is no skill.
constexpr const ActionRule& actionRule(u16 skill) noexcept {
    switch (skill) {
        case kSkillWarrior1: case kSkillTemplar1: return kSkill1Rule;
        case kSkillWarrior2: case kSkillTemplar2: return kSkill2Rule;
        default: return kBasicAttackRule;
    }
}

// A duration in whole ticks of `tickRate` (1 or more), rounded to the nearest tick, at least one.
constexpr u32 ticksFromMs(u32 durationMs, u16 tickRate) noexcept {
    const u64 ticks = (u64{durationMs} * (tickRate == 0 ? 1 : tickRate) + 500) / 1000;
    return static_cast<u32>(std::max<u64>(ticks, 1));
}

// floor((base x factor + 500) / 1000) x 30 millimetres per second.
constexpr i32 speedMmPerSecond(u8 characterClass, i32 speedFactor) noexcept {
    const i32 base = characterClass == kTemplar ? kTemplarSpeedBase : kWarriorSpeedBase;
    return (base * speedFactor + 500) / 1000 * kSpeedBaseTicksPerSecond;
}

// Where each round starts a fighter of `characterClass` (x; z is 0).
constexpr i32 startXMm(u8 characterClass) noexcept {
    return characterClass == kWarrior ? -kStartOffsetMm : kStartOffsetMm;
}

// ---- Movement ----
// One step of a fighter from `from` to `to` (the step already kept inside the arena) against the
// other fighter at `other`: a step that would enter the other's body, even through a rim of it,
// stops where it first touches the body's edge, so that a fighter that runs into the other
// stands at its edge until it turns away. A stop, not a slide: the point where a straight run
// meets the edge is the same in one step or in many, so the server's ticks and the client's
// shorter steps agree on it. T is the unit's number type: the server steps in millimetres as
// double, the client predicts in metres as float, with `bodyWidth` in the same unit.
template <typename T>
struct GroundPoint {
    T x;
    T z;
};

template <typename T>
GroundPoint<T> keepApart(GroundPoint<T> from, GroundPoint<T> to, GroundPoint<T> other, T bodyWidth) noexcept {
    const T toX = to.x - other.x;
    const T toZ = to.z - other.z;
    const bool endsOutside = toX * toX + toZ * toZ >= bodyWidth * bodyWidth;
    const T fromX = from.x - other.x;
    const T fromZ = from.z - other.z;
    const T c = fromX * fromX + fromZ * fromZ - bodyWidth * bodyWidth;
    if (c <= 0) {
        return endsOutside ? to : from;  // on the edge (or inside): only a step out of the body
    }
    // from + t (to - from) on the edge, for the first t: a step that only grazes the body is
    // stopped as well, or a long step would pass where short ones stop.
    const T stepX = to.x - from.x;
    const T stepZ = to.z - from.z;
    const T a = stepX * stepX + stepZ * stepZ;
    const T halfB = fromX * stepX + fromZ * stepZ;
    const T discriminant = halfB * halfB - a * c;
    if (a <= 0 || halfB >= 0 || discriminant <= 0) {
        return to;  // standing, going away, or passing by
    }
    const T t = (-halfB - std::sqrt(discriminant)) / a;
    if (t >= 1) {
        return to;  // meets the edge only after this step
    }
    return {from.x + stepX * t, from.z + stepZ * t};
}

}  // namespace kestrune::net
