#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "duel_rules.h"
#include "net/protocol.h"

namespace kestrune::duel {
namespace {

using net::kTemplar;
using net::kWarrior;

constexpr u32 kWarriorId = 11;
constexpr u32 kTemplarId = 22;

net::ClientCommandMessage command(u32 sequence, u8 kind, u32 target = 0, i32 a = 0, i32 b = 0, u16 c = 0) {
    return net::ClientCommandMessage{sequence, kind, target, static_cast<u16>(a), static_cast<u16>(b), c};
}

struct Arena {
    explicit Arena(u16 tickRate = 30) : duel(tickRate) {
        duel.seat(kWarrior, kWarriorId);
        duel.seat(kTemplar, kTemplarId);
    }
    // An order of one fighter, numbered in its sequence; attacks and skills target the other.
    u16 order(u8 characterClass, u8 kind, i32 a = 0, i32 b = 0, u16 c = 0) {
        const bool isWarrior = characterClass == kWarrior;
        const u32 sequence = ++(isWarrior ? warriorSequence : templarSequence);
        const u32 target = kind >= 3 ? (isWarrior ? kTemplarId : kWarriorId) : 0;
        return duel.apply(characterClass, command(sequence, kind, target, a, b, c));
    }
    u16 warrior(u8 kind, i32 a = 0, i32 b = 0, u16 c = 0) { return order(kWarrior, kind, a, b, c); }
    u16 templar(u8 kind, i32 a = 0, i32 b = 0, u16 c = 0) { return order(kTemplar, kind, a, b, c); }
    void steps(u32 count) { for (u32 i = 0; i < count; ++i) duel.step(); }
    // Moves one fighter `ticks` ticks along x with speed factor |a| and stops it.
    void walk(u8 characterClass, i32 a, u32 ticks) {
        EXPECT_EQ(order(characterClass, net::kCommandMove, a), kAccepted);
        steps(ticks);
        EXPECT_EQ(order(characterClass, net::kCommandStop), kAccepted);
    }
    // Walks the warrior `ticks` ticks towards +x and stops it.
    void closeIn(u32 ticks) { walk(kWarrior, 1000, ticks); }
    f64 distanceMm() const { return duel.fighter(kTemplar).xMm - duel.fighter(kWarrior).xMm; }
    std::vector<net::CombatEvent> takeEvents() {
        std::vector<net::CombatEvent> out(duel.events().begin(), duel.events().end());
        duel.clearEvents();
        return out;
    }
    Duel duel;
    u32 warriorSequence = 0, templarSequence = 0;
};

TEST(DuelRules, DurationsRoundToWholeTicksAndSpeedsAsTheClientRoundsThem) {
    const struct { u32 ms; u16 rate; u32 ticks; } cases[] = {
        {1100, 30, 33}, {288, 30, 9}, {850, 30, 26}, {1100, 60, 66},
        {0, 30, 1},     {16, 30, 1},  {1500, 1, 2},  {1400, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.ms) + " ms at " + std::to_string(c.rate));
        EXPECT_EQ(ticksFromMs(c.ms, c.rate), c.ticks);
    }

    const struct { u8 characterClass; i32 factor; i32 mmPerSecond; } speeds[] = {
        {kWarrior, 1000, 4650}, {kWarrior, 450, 2100}, {kTemplar, 1000, 4350}, {kTemplar, 450, 1950},
        {kWarrior, 3, 0},       {kWarrior, 4, 30},     {kTemplar, 0, 0}};
    for (const auto& c : speeds) {
        SCOPED_TRACE(std::to_string(c.characterClass) + " at factor " + std::to_string(c.factor));
        EXPECT_EQ(speedMmPerSecond(c.characterClass, c.factor), c.mmPerSecond);
    }
}

TEST(DuelRules, MovesByItsSpeedPerTickAndStaysInsideTheArena) {
    const struct { const char* name; u16 tickRate; u8 characterClass; i32 a, b; u32 ticks; i32 xMm, zMm; } cases[] = {
        {"warrior running +x", 30, kWarrior, 1000, 0, 10, -2000 + 1550, 0},
        {"templar walking -x", 30, kTemplar, -450, 0, 30, 2000 - 1950, 0},
        {"warrior running diagonally", 30, kWarrior, 707, 707, 10, -2000 + 1096, 1096},
        {"warrior at 60 ticks per second for 1 s", 60, kWarrior, 1000, 0, 60, -2000 + 4650, 0},
        {"templar running +z into the bound", 30, kTemplar, 0, 1000, 1000, 2000, kArenaBoundMm},
        {"warrior running -x into the bound", 30, kWarrior, -1000, 0, 1000, -kArenaBoundMm, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Duel duel(c.tickRate);
        duel.seat(c.characterClass, 5);
        ASSERT_EQ(duel.apply(c.characterClass, command(1, net::kCommandMove, 0, c.a, c.b)), kAccepted);
        for (u32 i = 0; i < c.ticks; ++i) duel.step();
        net::DuelSnapshot snapshot;
        duel.writeSnapshot(1, snapshot);
        ASSERT_EQ(snapshot.players.size(), 1u);
        EXPECT_EQ(std::pair(snapshot.players[0].positionXMm, snapshot.players[0].positionZMm), std::pair(c.xMm, c.zMm));
    }
}

// A move taken during a lock or an action waits for its end: the fighter sets off on the
// first tick it is free, so a client that sends it a little early loses nothing.
TEST(DuelRules, AnActionDropsTheMoveALockPausesItAndAMoveDuringEitherWaitsForItsEnd) {
    Arena arena;
    arena.closeIn(5);
    ASSERT_EQ(arena.templar(net::kCommandMove, 0, 450), kAccepted);
    arena.steps(1);
    const f64 zBeforeLock = arena.duel.fighter(kTemplar).zMm;
    ASSERT_EQ(arena.warrior(net::kCommandUseSkill, 0, 0, net::kSkillWarrior1), kAccepted);
    EXPECT_FALSE(arena.duel.fighter(kWarrior).moving);
    EXPECT_EQ(arena.warrior(net::kCommandMove, -1000, 0), kAccepted);
    // The templar walks on along z during the wind-up, slowly enough to stay in reach.
    arena.steps(ticksFromMs(kSkill1HitMs, 30));
    ASSERT_EQ(arena.duel.fighter(kTemplar).lockTicks, 33u);
    EXPECT_EQ(arena.templar(net::kCommandMove, 0, -450), kAccepted);
    const f64 zAtLock = arena.duel.fighter(kTemplar).zMm;
    EXPECT_GT(zAtLock, zBeforeLock);
    const f64 warriorX = arena.duel.fighter(kWarrior).xMm;
    arena.steps(ticksFromMs(kSkill1Ms, 30) - ticksFromMs(kSkill1HitMs, 30));
    EXPECT_EQ(arena.duel.fighter(kWarrior).xMm, warriorX) << "not before the skill's last tick";
    arena.steps(1);
    EXPECT_EQ(arena.duel.fighter(kWarrior).xMm, warriorX - 155) << "but on the tick after it";
    arena.steps(32 - 18 - 1);
    // A locked fighter stands, and the move it was given last starts on the tick the lock ends.
    const Fighter& templar = arena.duel.fighter(kTemplar);
    EXPECT_EQ(std::tuple(templar.zMm, templar.lockTicks, templar.moving), std::tuple(zAtLock, 1u, true));
    arena.steps(1);
    EXPECT_EQ(std::tuple(templar.zMm, templar.lockTicks), std::tuple(zAtLock - 65, 0u));
}

// One tick's step against the other fighter's body (0.9 m): into it stops where it first
// touches it, along or away from its edge goes on. The server's millimetres and the client's
// metres give the same answer.
TEST(DuelRules, FightersKeepABodysWidthApart) {
    const struct { const char* name; f64 fromX, fromZ, toX, toZ, x, z; } cases[] = {  // the other at (2000, 0)
        {"apart", 0, 0, 155, 0, 155, 0},
        {"straight at it: stops at its edge", 1000, 0, 1155, 0, 1100, 0},
        {"at its edge: stays there", 1100, 0, 1255, 0, 1100, 0},
        {"at an angle: stops where it touches", 1000, 200, 1155, 200, 2000 - std::sqrt(900.0 * 900 - 200 * 200), 200},
        {"away from its edge", 1100, 0, 945, 0, 945, 0},
        {"past it without touching", 1100, 901, 1255, 901, 1255, 901},
        // through a rim of it, ending outside: stopped where the rim begins, as shorter steps are
        {"through a rim of it", 1900, 898, 2100, 898, 2000 - std::sqrt(900.0 * 900 - 898 * 898), 898}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const net::GroundPoint<f64> mm =
            net::keepApart<f64>({c.fromX, c.fromZ}, {c.toX, c.toZ}, {2000.0, 0.0}, net::kBodyWidthMm);
        EXPECT_NEAR(mm.x, c.x, 1e-9);
        EXPECT_NEAR(mm.z, c.z, 1e-9);
        const auto metres = [](f64 mm) { return static_cast<f32>(mm / 1000.0); };
        const net::GroundPoint<f32> m = net::keepApart<f32>({metres(c.fromX), metres(c.fromZ)},
                                                            {metres(c.toX), metres(c.toZ)}, {2.0f, 0.0f}, 0.9f);
        EXPECT_NEAR(m.x, c.x / 1000.0, 1e-5);
        EXPECT_NEAR(m.z, c.z / 1000.0, 1e-5);
    }
    // Running at each other, either first, the two stop a body's width apart.
    for (const u8 runner : {kWarrior, kTemplar}) {
        Arena arena;
        ASSERT_EQ(arena.order(runner, net::kCommandMove, runner == kWarrior ? 1000 : -1000), kAccepted);
        ASSERT_EQ(arena.order(runner == kWarrior ? kTemplar : kWarrior, net::kCommandMove, runner == kWarrior ? -1000 : 1000),
                  kAccepted);
        arena.steps(30);
        EXPECT_NEAR(arena.distanceMm(), net::kBodyWidthMm, 1e-9);
    }
}

TEST(DuelRules, ACooldownRefusesOnItsLastTickAndAcceptsOnTheNext) {
    const struct { const char* name; u8 kind; u16 c; u32 cooldownTicks; } cases[] = {
        {"basic attack, 0.4 s", net::kCommandBasicAttack, 1, 12},
        {"skill 1, 4 s", net::kCommandUseSkill, net::kSkillWarrior1, 120},
        {"skill 2, 6 s", net::kCommandUseSkill, net::kSkillWarrior2, 180}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Arena arena;
        arena.closeIn(5);
        ASSERT_EQ(arena.warrior(c.kind, 0, 0, c.c), kAccepted);
        arena.steps(c.cooldownTicks - 1);
        EXPECT_EQ(arena.warrior(c.kind, 0, 0, c.c), kOnCooldown) << "on the last tick of the cooldown";
        arena.steps(1);
        EXPECT_EQ(arena.warrior(c.kind, 0, 0, c.c), kAccepted) << "on the tick after it";
    }
}

// Both fighters running close 300 mm a tick (155 + 145), so two ticks from the 4 m start leave
// them exactly 3.4 m apart; the templar walking off at factor 342 (50 mm a tick) for 20 ticks
// leaves them 5 m apart. Factor 7 moves either fighter 1 mm a tick.
TEST(DuelRules, ReachHoldsToTheMillimetreWhenTheCommandArrivesAndAtTheHit) {
    const struct Action { const char* name; u8 kind; u16 c; u32 reachMm, hitTicks; i32 damage; } actions[] = {
        {"basic attack", net::kCommandBasicAttack, 1, 3400, 9, kBasicAttackDamage},
        {"skill 1", net::kCommandUseSkill, net::kSkillWarrior1, 3400, 9, kSkill1Damage},
        {"skill 2", net::kCommandUseSkill, net::kSkillWarrior2, 5000, 26, kSkill2Damage}};
    // beyondAtCommandMm: the warrior backs off before the command; beyondAtHitMm: the templar
    // steps off during the wind-up.
    const struct { const char* name; u32 beyondAtCommandMm, beyondAtHitMm; u16 result; bool lands; } distances[] = {
        {"exactly at the reach", 0, 0, kAccepted, true},
        {"a millimetre beyond when the command arrives", 1, 0, kOutOfRange, false},
        {"a millimetre beyond at the hit", 0, 1, kAccepted, false}};
    for (const Action& action : actions) {
        for (const auto& d : distances) {
            SCOPED_TRACE(std::string(action.name) + ", " + d.name);
            Arena arena;
            if (action.reachMm == 3400) {
                arena.walk(kWarrior, 1000, 2);
                arena.walk(kTemplar, -1000, 2);
            } else {
                arena.walk(kTemplar, 342, 20);
            }
            arena.walk(kWarrior, -7, d.beyondAtCommandMm);
            ASSERT_EQ(arena.distanceMm(), action.reachMm + d.beyondAtCommandMm);
            ASSERT_EQ(arena.warrior(action.kind, 0, 0, action.c), d.result);
            arena.walk(kTemplar, 7, d.beyondAtHitMm);  // a tick per millimetre
            ASSERT_EQ(arena.distanceMm(), action.reachMm + d.beyondAtCommandMm + d.beyondAtHitMm);
            arena.steps(action.hitTicks - d.beyondAtHitMm - 1);  // the rest of the wind-up but its last tick
            EXPECT_EQ(arena.duel.fighter(kTemplar).health, kMaxHealth) << "not before its hit time";
            arena.steps(1);
            const i32 damage = d.lands ? action.damage : 0;
            EXPECT_EQ(arena.duel.fighter(kTemplar).health, kMaxHealth - damage);
            const std::vector<net::CombatEvent> events = arena.takeEvents();
            ASSERT_EQ(events.size(), d.result == kAccepted ? (d.lands ? 3u : 1u) : 0u);
            if (d.lands) {
                const u16 skill = action.kind == net::kCommandBasicAttack ? net::kSkillBasicAttack : action.c;
                const u64 hitId = events[1].eventId;
                EXPECT_EQ(std::tuple(events[0].kind, events[0].skill), std::tuple(net::kEventActionStarted, skill));
                EXPECT_EQ(events[1], (net::CombatEvent{hitId, kEventHitImpact, kWarriorId, kTemplarId, skill, damage}));
                EXPECT_EQ(events[2], (net::CombatEvent{hitId, kEventHitResult, kWarriorId, kTemplarId, skill,
                                                       kMaxHealth - damage})) << "both stages of one hit share its id";
                EXPECT_NE(hitId, events[0].eventId);
            }
        }
    }
}

TEST(DuelRules, BasicAttacksCycleTheComboAndCutASkillShort) {
    Arena arena;
    arena.closeIn(5);
    ASSERT_EQ(arena.warrior(net::kCommandUseSkill, 0, 0, net::kSkillWarrior2), kAccepted);
    arena.steps(1);
    std::vector<i32> steps;
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(arena.warrior(net::kCommandBasicAttack, 0, 0, 1), kAccepted);
        EXPECT_EQ(arena.warrior(net::kCommandBasicAttack, 0, 0, 1), kOnCooldown);
        arena.steps(ticksFromMs(kBasicAttackCooldownMs, 30));
    }
    for (const net::CombatEvent& event : arena.takeEvents()) {
        if (event.kind == net::kEventActionStarted && event.skill == net::kSkillBasicAttack) {
            steps.push_back(event.value);
        }
        EXPECT_NE(event.skill == net::kSkillWarrior2 && event.kind == kEventHitImpact, true)
            << "the interrupted skill never lands";
    }
    EXPECT_EQ(steps, (std::vector<i32>{1, 2, 3, 4, 1}));
}

TEST(DuelRules, RefusesByReasonAndCountsCommandsPerTick) {
    Arena arena;
    EXPECT_EQ(arena.warrior(net::kCommandMove, 0, 0), kNoDirection);
    const auto selfTarget = command(++arena.warriorSequence, net::kCommandBasicAttack, kWarriorId, 0, 0, 1);
    EXPECT_EQ(arena.duel.apply(kWarrior, selfTarget), kInvalidTarget);
    EXPECT_EQ(arena.warrior(net::kCommandUseSkill, 0, 0, net::kSkillTemplar1), kSkillOfOtherClass);
    EXPECT_EQ(arena.warrior(net::kCommandUseSkill, 0, 0, net::kSkillWarrior1), kOutOfRange);
    for (u32 i = 4; i < kCommandsPerTickLimit; ++i) EXPECT_EQ(arena.warrior(net::kCommandStop), kAccepted);
    EXPECT_EQ(arena.warrior(net::kCommandStop), kTooManyCommands);
    EXPECT_EQ(arena.duel.fighter(kWarrior).lastCommandSequence, kCommandsPerTickLimit + 1)
        << "refused commands count as processed";
    arena.steps(1);
    EXPECT_EQ(arena.warrior(net::kCommandStop), kAccepted) << "the count starts over each tick";
    ASSERT_EQ(arena.warrior(net::kCommandUseSkill, 0, 0, net::kSkillWarrior2), kAccepted) << "reach 5 m from 4 m";
    EXPECT_EQ(arena.warrior(net::kCommandUseSkill, 0, 0, net::kSkillWarrior1), kBusy);
    arena.steps(ticksFromMs(kSkill2Ms, 30));
    EXPECT_EQ(arena.warrior(net::kCommandUseSkill, 0, 0, net::kSkillWarrior2), kOnCooldown);

    Duel alone(30);
    alone.seat(kTemplar, kTemplarId);
    EXPECT_EQ(alone.apply(kTemplar, command(1, net::kCommandUseSkill, kWarriorId, 0, 0, net::kSkillTemplar2)),
              kNoOpponent);
}

TEST(DuelRules, AKnockoutEndsTheRoundAndANewOneStartsThreeSecondsLater) {
    Arena arena;
    arena.closeIn(5);
    u32 attacks = 0;
    while (arena.duel.fighter(kTemplar).health > 0 && attacks < 100) {
        if (arena.warrior(net::kCommandBasicAttack, 0, 0, 1) == kAccepted) ++attacks;
        arena.steps(1);
    }
    // Health never goes below 0: 12 hits of 80 leave 40, the 13th knocks out.
    ASSERT_EQ(std::tuple(arena.duel.fighter(kTemplar).health, attacks, arena.duel.roundOver()),
              std::tuple(0, 13u, true));
    net::DuelSnapshot snapshot;
    arena.duel.writeSnapshot(7, snapshot);
    EXPECT_EQ(std::tuple(snapshot.players[1].stateFlags & kStateDefeated, arena.templar(net::kCommandMove, 1000, 0)),
              std::tuple(kStateDefeated, kDefeated));
    arena.steps(ticksFromMs(kBasicAttackCooldownMs, 30));
    EXPECT_EQ(arena.warrior(net::kCommandBasicAttack, 0, 0, 1), kTargetDefeated);

    arena.steps(ticksFromMs(kRoundRestartMs, 30));
    // A new round keeps the command numbering.
    EXPECT_EQ(std::tuple(arena.duel.roundOver(), arena.duel.fighter(kTemplar).health, arena.duel.fighter(kWarrior).xMm,
                         arena.duel.fighter(kWarrior).lastCommandSequence),
              std::tuple(false, kMaxHealth, f64{-kStartOffsetMm}, arena.warriorSequence));
}

TEST(DuelRules, SnapshotListsSeatedFightersWarriorFirstWithTheirState) {
    Arena arena;
    arena.closeIn(5);
    ASSERT_EQ(arena.warrior(net::kCommandBasicAttack, 0, 0, 1), kAccepted);
    ASSERT_EQ(arena.templar(net::kCommandMove, 0, -450), kAccepted);
    arena.steps(1);
    net::DuelSnapshot snapshot;
    snapshot.projectiles.resize(3);
    arena.duel.writeSnapshot(42, snapshot);
    // The warrior ran 5 ticks of 155 mm and swings (combo step 1 in the opaque byte); the templar walks along -z.
    // The projectiles the snapshot held are gone.
    const net::SnapshotPlayer warrior{kWarriorId, kWarrior, -1225, 0, kMaxHealth, kMaxHealth, 0, 0, 1,
                                      net::kSkillBasicAttack, 3};
    const net::SnapshotPlayer templar{kTemplarId, kTemplar, 2000, -65, kMaxHealth, kMaxHealth, kStateMoving, 0, 0,
                                      net::kSkillNone, 1};
    EXPECT_EQ(snapshot, (net::DuelSnapshot{42, {warrior, templar}, {}}));
    arena.duel.vacate(kWarrior);
    arena.duel.writeSnapshot(43, snapshot);
    ASSERT_EQ(snapshot.players.size(), 1u);
    EXPECT_EQ(std::tuple(snapshot.players[0].entityId, snapshot.players[0].positionXMm),
              std::tuple(kTemplarId, kStartOffsetMm)) << "the one who stays starts a new round";
}

}  // namespace
}  // namespace kestrune::duel
