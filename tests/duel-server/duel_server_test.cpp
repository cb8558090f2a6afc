// The server against the project's own DuelClient on loopback: joining, movement, a
// refusal, a hit and its lock, seats, tickets, the duel limit, a bot opponent, leaving and
// shutdown. The rules themselves are tested without sockets.

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "duel_rules.h"
#include "net/protocol.h"
#include "net/net_test_support.h"
#include "net/test_peer.h"
#include "server_harness.h"

namespace kestrune::duel {
namespace {

using net::kTemplar;
using net::kWarrior;
using namespace net::test;
using namespace test;

constexpr u32 kTicksPerSecond = 30;
constexpr i32 kWarriorRunMmPerTick = 155;  // 4.65 m/s at 30 ticks per second

TEST(DuelServerLoopback, TwoClientsMoveHitAndLockEachOtherOverTheWire) {
    ServerHarness server;
    Player warrior(server.port(), kWarrior, "Wulf");
    Player templar(server.port(), kTemplar, "Tess");
    const u32 templarId = templar.client.localEntityId();
    // The client itself refuses entity 0, so only that the two ids differ is checked here.
    EXPECT_NE(templarId, warrior.client.localEntityId());
    EXPECT_EQ(warrior.client.tickRate(), kTicksPerSecond);

    ASSERT_TRUE(warrior.client.sendBasicAttack(templarId));  // 4 m apart, reach 3.4 m
    EXPECT_EQ(warrior.resultFor(1).reason, kOutOfRange);

    // Sent, then its result (a braced tuple evaluates in order).
    EXPECT_EQ((std::tuple{warrior.client.sendMove(1000, 0), warrior.resultFor(2).accepted}), std::tuple(true, true));
    u64 tick = server.advance(5);
    // playerOfClass throws when a class is missing from the snapshot.
    for (Player* viewer : {&warrior, &templar}) {
        const net::DuelSnapshot snapshot = viewer->snapshotAt(tick);
        const net::SnapshotPlayer seen = playerOfClass(snapshot, kWarrior);
        EXPECT_EQ(std::tuple(seen.entityId, seen.positionXMm, seen.positionZMm, seen.lastCommandSequence,
                             seen.stateFlags),
                  std::tuple(warrior.client.localEntityId(), -kStartOffsetMm + 5 * kWarriorRunMmPerTick, 0, 2u,
                             kStateMoving));
        const net::SnapshotPlayer other = playerOfClass(snapshot, kTemplar);
        EXPECT_EQ(std::tuple(other.positionXMm, other.maxHealth), std::tuple(kStartOffsetMm, kMaxHealth));
    }
    EXPECT_EQ((std::tuple{warrior.client.sendStop(), warrior.resultFor(3).accepted}), std::tuple(true, true));
    tick = server.advance(2);
    const net::SnapshotPlayer stopped = playerOfClass(templar.snapshotAt(tick), kWarrior);
    EXPECT_EQ(std::tuple(stopped.positionXMm, stopped.lastCommandSequence, stopped.stateFlags),
              std::tuple(-kStartOffsetMm + 5 * kWarriorRunMmPerTick, 3u, u16{0}));

    // 3.225 m apart: skill 1 reaches, and its hit locks the templar for 33 ticks.
    ASSERT_TRUE(warrior.client.sendSkill(templarId, net::kSkillWarrior1));
    EXPECT_TRUE(warrior.resultFor(4).accepted);
    tick = server.advance(ticksFromMs(kSkill1HitMs, kTicksPerSecond));
    for (Player* viewer : {&warrior, &templar}) {
        const net::CombatEvent started = viewer->eventsOfKind(net::kEventActionStarted, 1).front();
        EXPECT_EQ(std::tuple(started.sourceEntityId, started.targetEntityId, started.skill),
                  std::tuple(warrior.client.localEntityId(), templarId, net::kSkillWarrior1));
        const net::CombatEvent impact = viewer->eventsOfKind(kEventHitImpact, 1).front();
        const net::CombatEvent result = viewer->eventsOfKind(kEventHitResult, 1).front();
        EXPECT_EQ(std::tuple(impact.skill, impact.value, result.value, result.eventId),
                  std::tuple(net::kSkillWarrior1, kSkill1Damage, kMaxHealth - kSkill1Damage, impact.eventId))
            << "two stages of one hit share its id";
    }
    // How the lock runs out is the rules' business, tested without sockets.
    const net::SnapshotPlayer locked = playerOfClass(templar.snapshotAt(tick), kTemplar);
    EXPECT_EQ(std::tuple(locked.stateFlags, locked.lockTicks, locked.health),
              std::tuple(net::kStateLocked, u16{33}, kMaxHealth - kSkill1Damage));
}

TEST(DuelServerLoopback, SeatsTicketsAndTheDuelLimitAreRefusedWithServerErrors) {
    ServerHarness server({.tickets = std::unordered_set<std::string>{"alpha-1", "beta_2"}, .maxDuels = 1});

    const char* const notAccepted = "server error 2: game ticket is not accepted by this server";
    expectRuntimeError([&] { Player stranger(server.port(), kWarrior, "Stranger", "gamma"); }, notAccepted);
    expectRuntimeError([&] { Player noTicket(server.port(), kWarrior, "Nobody", ""); }, notAccepted);
    Player first(server.port(), kWarrior, "First", "alpha-1");
    expectRuntimeError([&] { Player second(server.port(), kWarrior, "Second", "beta_2"); },
                       "server error 3: the warrior seat of the waiting duel is taken; join as templar or try "
                       "again later");
    Player templar(server.port(), kTemplar, "Third", "beta_2");
    expectRuntimeError([&] { Player fourth(server.port(), kTemplar, "Fourth", "alpha-1"); },
                       "server error 4: server is full: its limit of 1 running duels is reached");
    EXPECT_EQ(std::tuple(server.counts().duels, first.client.isRunning(), templar.client.isRunning()),
              std::tuple(1u, true, true));
}

TEST(DuelServerLoopback, ABotOfTheOtherClassFightsALonePlayer) {
    ServerHarness server({.bot = true});
    Player warrior(server.port(), kWarrior);
    u64 tick = server.advance(1);
    const u32 botId = playerOfClass(warrior.snapshotAt(tick), kTemplar).entityId;  // throws if there is no bot
    EXPECT_NE(botId, 0u);
    EXPECT_NE(botId, warrior.client.localEntityId());
    EXPECT_EQ(server.counts().bots, 1u);

    tick = server.advance(10 * kTicksPerSecond);
    EXPECT_NE(playerOfClass(warrior.snapshotAt(tick), kTemplar).positionXMm, kStartOffsetMm) << "the bot walked";
    EXPECT_EQ(warrior.eventsOfKind(net::kEventActionStarted, 1).front().sourceEntityId, botId);
    EXPECT_EQ(warrior.eventsOfKind(kEventHitImpact, 1).front().targetEntityId, warrior.client.localEntityId());
}

TEST(DuelServerLoopback, ALeavingOpponentFreesItsSeatAndStoppingEndsEverySession) {
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
    EXPECT_EQ(std::tuple(playerOfClass(snapshot, kTemplar).entityId, server.counts().duels),
              std::tuple(next.client.localEntityId(), 1u));

    server.stop();
    const char* const closed = "duel server closed the connection";
    EXPECT_EQ(std::tuple(warrior.waitForEnd(), next.waitForEnd()), std::tuple(closed, closed));
    EXPECT_TRUE(server.logged("closed: the server is stopping"));
}

}  // namespace
}  // namespace kestrune::duel
