// The server against the project's own DuelClient on loopback: joining, movement,
// attacks in and out of range, the skill-1 lock, refusals, seats, tickets, the duel
// limit, a bot opponent, and shutdown.

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "duel_rules.h"
#include "net/protocol.h"
#include "net/net_test_support.h"
#include "net/test_peer.h"
#include "server_harness.h"

namespace kestrune::duel {
namespace {

using net::kTemplar;
using net::kWarrior;
using net::test::expectRuntimeError;
using test::loopbackConfig;
using test::Player;
using test::playerOfClass;
using test::ServerHarness;

constexpr u32 kTicksPerSecond = 30;
constexpr i32 kWarriorRunMmPerTick = 155;  // 4.65 m/s at 30 ticks per second

// Walks the warrior `ticks` ticks towards +x and stops it; returns the tick reached.
u64 walkWarrior(ServerHarness& server, Player& warrior, u32 ticks) {
    EXPECT_TRUE(warrior.client.sendMove(1000, 0));
    EXPECT_EQ(warrior.resultFor(warrior.client.lastSentCommandSequence()).reason, kAccepted);
    server.advance(ticks);
    EXPECT_TRUE(warrior.client.sendStop());
    EXPECT_EQ(warrior.resultFor(warrior.client.lastSentCommandSequence()).reason, kAccepted);
    return server.advance(1);
}

TEST(DuelServerLoopback, PairsTwoClientsAndMovesTheWarriorAtItsRunSpeed) {
    ServerHarness server;
    Player warrior(server.port(), kWarrior, "Wulf");
    Player templar(server.port(), kTemplar, "Tess");
    EXPECT_NE(warrior.client.localEntityId(), 0u);
    EXPECT_NE(templar.client.localEntityId(), warrior.client.localEntityId());
    EXPECT_EQ(warrior.client.tickRate(), kTicksPerSecond);

    u64 tick = server.advance(1);
    net::DuelSnapshot snapshot = warrior.snapshotAt(tick);
    ASSERT_EQ(snapshot.players.size(), 2u);
    EXPECT_EQ(playerOfClass(snapshot, kWarrior).entityId, warrior.client.localEntityId());
    EXPECT_EQ(playerOfClass(snapshot, kWarrior).positionXMm, -kStartOffsetMm);
    EXPECT_EQ(playerOfClass(snapshot, kTemplar).positionXMm, kStartOffsetMm);
    EXPECT_EQ(playerOfClass(snapshot, kTemplar).health, kMaxHealth);
    EXPECT_EQ(playerOfClass(snapshot, kTemplar).maxHealth, kMaxHealth);

    ASSERT_TRUE(warrior.client.sendMove(1000, 0));
    const net::CommandResult moved = warrior.resultFor(1);
    EXPECT_TRUE(moved.accepted);
    EXPECT_EQ(moved.reason, 0u);
    tick = server.advance(10);
    for (Player* viewer : {&warrior, &templar}) {
        const net::SnapshotPlayer seen = playerOfClass(viewer->snapshotAt(tick), kWarrior);
        EXPECT_EQ(seen.positionXMm, -kStartOffsetMm + 10 * kWarriorRunMmPerTick);
        EXPECT_EQ(seen.positionZMm, 0);
        EXPECT_EQ(seen.lastCommandSequence, 1u);
        EXPECT_EQ(seen.stateFlags & kStateMoving, kStateMoving);
    }

    ASSERT_TRUE(warrior.client.sendStop());
    EXPECT_TRUE(warrior.resultFor(2).accepted);
    tick = server.advance(5);
    const net::SnapshotPlayer stopped = playerOfClass(templar.snapshotAt(tick), kWarrior);
    EXPECT_EQ(stopped.positionXMm, -kStartOffsetMm + 10 * kWarriorRunMmPerTick);
    EXPECT_EQ(stopped.lastCommandSequence, 2u);
    EXPECT_EQ(stopped.stateFlags & kStateMoving, 0);
}

TEST(DuelServerLoopback, BasicAttackIsRefusedOutOfRangeAndLandsInRange) {
    ServerHarness server;
    Player warrior(server.port(), kWarrior);
    Player templar(server.port(), kTemplar);
    const u32 templarId = templar.client.localEntityId();

    ASSERT_TRUE(warrior.client.sendBasicAttack(templarId));  // 4 m apart, reach 3.4 m
    const net::CommandResult refused = warrior.resultFor(1);
    EXPECT_FALSE(refused.accepted);
    EXPECT_EQ(refused.reason, kOutOfRange);

    walkWarrior(server, warrior, 5);  // 3.225 m apart
    ASSERT_TRUE(warrior.client.sendBasicAttack(templarId));
    EXPECT_TRUE(warrior.resultFor(4).accepted);
    server.advance(1);
    for (Player* viewer : {&warrior, &templar}) {
        const net::CombatEvent started = viewer->eventsOfKind(net::kEventActionStarted, 1).front();
        EXPECT_EQ(started.sourceEntityId, warrior.client.localEntityId());
        EXPECT_EQ(started.targetEntityId, templarId);
        EXPECT_EQ(started.skill, net::kSkillBasicAttack);
        EXPECT_EQ(started.value, 1) << "first step of the combo";
    }
    const u64 tick = server.advance(ticksFromMs(kBasicAttackHitMs, kTicksPerSecond));
    const auto impacts = templar.eventsOfKind(kEventHitImpact, 1);
    const auto results = templar.eventsOfKind(kEventHitResult, 1);
    EXPECT_EQ(impacts.front().value, kBasicAttackDamage);
    EXPECT_EQ(results.front().value, kMaxHealth - kBasicAttackDamage);
    EXPECT_EQ(impacts.front().eventId, results.front().eventId) << "two stages of one hit";
    EXPECT_EQ(playerOfClass(templar.snapshotAt(tick), kTemplar).health, kMaxHealth - kBasicAttackDamage);

    server.advance(ticksFromMs(kBasicAttackMs, kTicksPerSecond));
    ASSERT_TRUE(warrior.client.sendBasicAttack(templarId));
    EXPECT_TRUE(warrior.resultFor(5).accepted);
    server.advance(1);
    EXPECT_EQ(templar.eventsOfKind(net::kEventActionStarted, 2).back().value, 2) << "second step of the combo";
}

TEST(DuelServerLoopback, SkillOneLocksTheTargetFor33TicksAndRefusesItsMoves) {
    ServerHarness server;
    Player warrior(server.port(), kWarrior);
    Player templar(server.port(), kTemplar);
    walkWarrior(server, warrior, 5);
    ASSERT_TRUE(warrior.client.sendSkill(templar.client.localEntityId(), net::kSkillWarrior1));
    EXPECT_TRUE(warrior.resultFor(3).accepted);

    u64 tick = server.advance(ticksFromMs(kSkill1HitMs, kTicksPerSecond));
    const net::SnapshotPlayer locked = playerOfClass(templar.snapshotAt(tick), kTemplar);
    EXPECT_EQ(locked.stateFlags & net::kStateLocked, net::kStateLocked);
    EXPECT_EQ(locked.lockTicks, 33u);
    EXPECT_EQ(locked.health, kMaxHealth - kSkill1Damage);
    EXPECT_EQ(templar.eventsOfKind(kEventHitImpact, 1).front().skill, net::kSkillWarrior1);

    ASSERT_TRUE(templar.client.sendMove(-1000, 0));
    EXPECT_EQ(templar.resultFor(1).reason, kLocked);
    tick = server.advance(32);
    EXPECT_EQ(playerOfClass(templar.snapshotAt(tick), kTemplar).lockTicks, 1u);
    tick = server.advance(1);
    const net::SnapshotPlayer freed = playerOfClass(templar.snapshotAt(tick), kTemplar);
    EXPECT_EQ(freed.stateFlags & net::kStateLocked, 0);
    EXPECT_EQ(freed.lockTicks, 0u);
    ASSERT_TRUE(templar.client.sendMove(-1000, 0));
    EXPECT_TRUE(templar.resultFor(2).accepted);
}

TEST(DuelServerLoopback, RefusalsCarryTheirReasons) {
    ServerHarness server;
    Player warrior(server.port(), kWarrior);
    ASSERT_TRUE(warrior.client.sendSkill(7, net::kSkillWarrior2));
    EXPECT_EQ(warrior.resultFor(1).reason, kNoOpponent);

    Player templar(server.port(), kTemplar);
    const u32 templarId = templar.client.localEntityId();
    const struct {
        const char* name;
        bool (*send)(net::DuelClient&, u32 templarId);
        u16 reason;
    } cases[] = {
        {"target that is not the opponent", [](net::DuelClient& c, u32 id) { return c.sendBasicAttack(id + 100); },
         kInvalidTarget},
        {"skill of the other class", [](net::DuelClient& c, u32 id) { return c.sendSkill(id, net::kSkillTemplar2); },
         kSkillOfOtherClass},
        {"move without a direction", [](net::DuelClient& c, u32) { return c.sendMove(0, 0); }, kNoDirection},
        {"skill 2 in reach (5 m)", [](net::DuelClient& c, u32 id) { return c.sendSkill(id, net::kSkillWarrior2); },
         kAccepted},
        {"skill while skill 2 runs", [](net::DuelClient& c, u32 id) { return c.sendSkill(id, net::kSkillWarrior1); },
         kBusy},
        {"move while skill 2 runs", [](net::DuelClient& c, u32) { return c.sendMove(1000, 0); }, kBusy},
        {"basic attack out of reach", [](net::DuelClient& c, u32 id) { return c.sendBasicAttack(id); },
         kOutOfRange},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.send(warrior.client, templarId));
        const net::CommandResult result = warrior.resultFor(warrior.client.lastSentCommandSequence());
        EXPECT_EQ(result.reason, c.reason);
        EXPECT_EQ(result.accepted, c.reason == kAccepted);
    }
    server.advance(ticksFromMs(kSkill2Ms, kTicksPerSecond));
    ASSERT_TRUE(warrior.client.sendSkill(templarId, net::kSkillWarrior2));
    EXPECT_EQ(warrior.resultFor(warrior.client.lastSentCommandSequence()).reason, kOnCooldown);
}

TEST(DuelServerLoopback, SeatsTicketsAndTheDuelLimitAreRefusedWithServerErrors) {
    ServerConfig config = loopbackConfig();
    config.maxDuels = 1;
    config.tickets = std::unordered_set<std::string>{"alpha-1", "beta_2"};
    ServerHarness server(config);

    expectRuntimeError([&] { Player stranger(server.port(), kWarrior, "Stranger", "gamma"); },
                       "server error 2: game ticket is not accepted by this server");
    expectRuntimeError([&] { Player noTicket(server.port(), kWarrior, "Nobody", ""); },
                       "server error 2: game ticket is not accepted by this server");
    Player first(server.port(), kWarrior, "First", "alpha-1");
    expectRuntimeError([&] { Player second(server.port(), kWarrior, "Second", "beta_2"); },
                       "server error 3: the warrior seat of the waiting duel is taken; join as templar or try "
                       "again later");
    Player templar(server.port(), kTemplar, "Third", "beta_2");
    expectRuntimeError([&] { Player fourth(server.port(), kTemplar, "Fourth", "alpha-1"); },
                       "server error 4: server is full: its limit of 1 running duels is reached");
    EXPECT_EQ(server.counts().duels, 1u);
    EXPECT_TRUE(first.client.isRunning());
    EXPECT_TRUE(templar.client.isRunning());
}

TEST(DuelServerLoopback, ABotOfTheOtherClassFightsALonePlayer) {
    ServerConfig config = loopbackConfig();
    config.bot = true;
    ServerHarness server(config);
    Player warrior(server.port(), kWarrior);
    u64 tick = server.advance(1);
    const net::DuelSnapshot first = warrior.snapshotAt(tick);
    ASSERT_EQ(first.players.size(), 2u);
    const u32 botId = playerOfClass(first, kTemplar).entityId;
    EXPECT_NE(botId, 0u);
    EXPECT_NE(botId, warrior.client.localEntityId());
    EXPECT_EQ(server.counts().bots, 1u);

    tick = server.advance(10 * kTicksPerSecond);
    const net::SnapshotPlayer bot = playerOfClass(warrior.snapshotAt(tick), kTemplar);
    EXPECT_NE(bot.positionXMm, kStartOffsetMm) << "the bot walked";
    bool usedSkill = false;
    bool attacked = false;
    for (const net::CombatEvent& event : warrior.eventsOfKind(net::kEventActionStarted, 3)) {
        EXPECT_EQ(event.sourceEntityId, botId);
        usedSkill = usedSkill || event.skill == net::kSkillTemplar1 || event.skill == net::kSkillTemplar2;
        attacked = attacked || event.skill == net::kSkillBasicAttack;
    }
    EXPECT_TRUE(usedSkill);
    EXPECT_TRUE(attacked);
    EXPECT_EQ(warrior.eventsOfKind(kEventHitImpact, 1).front().targetEntityId, warrior.client.localEntityId());
}

TEST(DuelServerLoopback, ALeavingOpponentFreesItsSeatForTheNextPlayer) {
    ServerHarness server;
    Player warrior(server.port(), kWarrior);
    {
        Player templar(server.port(), kTemplar, "Leaver");
        server.advance(1);
    }
    EXPECT_TRUE(net::test::eventually([&] { return server.counts().connections == 1; }));
    Player next(server.port(), kTemplar, "Next");
    const u64 tick = server.advance(1);
    const net::DuelSnapshot snapshot = warrior.snapshotAt(tick);
    ASSERT_EQ(snapshot.players.size(), 2u);
    EXPECT_EQ(playerOfClass(snapshot, kTemplar).entityId, next.client.localEntityId());
    EXPECT_EQ(server.counts().duels, 1u);
}

TEST(DuelServerLoopback, StoppingTheServerEndsEverySessionAsAClosedConnection) {
    ServerHarness server;
    Player warrior(server.port(), kWarrior);
    Player templar(server.port(), kTemplar);
    server.advance(1);
    server.stop();
    EXPECT_EQ(warrior.waitForEnd(), "duel server closed the connection");
    EXPECT_EQ(templar.waitForEnd(), "duel server closed the connection");
    EXPECT_NE(server.logText().find("closed: the server is stopping"), std::string::npos);
}

}  // namespace
}  // namespace kestrune::duel
