// Snapshots and combat events applied to a networked scene.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "scene_fixture.h"

namespace kestrune::scene {
namespace {

using testing::key;
using testing::kStep;
using testing::press;
using testing::SceneFixture;

constexpr u32 kLocal = 7;
constexpr u32 kOpponent = 8;
constexpr u16 kTickRate = 30;

net::SnapshotPlayer player(u32 entityId, u8 characterClass, i32 xMm, i32 zMm, i32 health = 1000) {
    return {entityId, characterClass, xMm, zMm, health, 1000, 0, 0, 0, 0, 5};
}

// The server's snapshot of `tick` reaches the scene of the client whose fighter is kLocal.
void snapshot(SceneFixture& f, u64 tick, std::vector<net::SnapshotPlayer> players, u16 tickRate = kTickRate) {
    f.scene.applySnapshot({tick, std::move(players), {}}, kLocal, 5, tickRate);
}

// The local warrior at (2, 0), the templar opponent at (-2, 0.5).
struct OnlineFixture : SceneFixture {
    OnlineFixture() : SceneFixture({0, false, true}) {
        snapshot(*this, 10, {player(kLocal, 1, 2000, 0), player(kOpponent, 2, -2000, 500)});
    }
};

TEST(ServerEvents, FirstSnapshotTakesOverItsHitsCountAndRepeatsAreIgnored) {
    OnlineFixture f;
    EXPECT_EQ(std::tuple(f.scene.authoritative(), f.scene.statistics().authoritativeSnapshots), std::tuple(true, 1u));
    const Vec3 server{2.0f, 0.0f, 0.0f};
    EXPECT_EQ(std::tuple(f.slot(0).position, f.slot(0).previousPosition, f.slot(0).lastDrawnPosition),
              std::tuple(server, server, server));
    EXPECT_EQ(f.slot(1).position, (Vec3{-2.0f, 0.0f, 0.5f}));
    EXPECT_EQ(std::tuple(f.slot(0).entityId, f.slot(1).entityId, f.slot(1).health),
              std::tuple(kLocal, kOpponent, 1000));

    // Once the server is authoritative its hits count, not the scene's own: the opponent stands
    // within reach of the local fighter at 2 m.
    snapshot(f, 11, {player(kOpponent, 2, 3000, 0)});
    f.scene.handleInput(press(key('2')));
    f.steps(30);
    EXPECT_EQ(std::tuple(f.slot(0).hitResolved, f.slot(1).position, f.slot(1).health, f.slot(1).locked),
              std::tuple(true, Vec3{3.0f, 0.0f, 0.0f}, 1000, false));

    // The server plays the templar for this client now.
    snapshot(f, 12, {player(kLocal, 2, 0, 0), player(kOpponent, 1, 0, 0)}, 0);
    EXPECT_EQ(std::tuple(f.scene.controlledSlot(), f.scene.tickRate()), std::tuple(1u, 30u));  // 0: the default rate

    snapshot(f, 12, {player(kLocal, 2, 9000, 0, 1)});
    EXPECT_EQ(std::tuple(f.scene.statistics().authoritativeSnapshots, f.slot(1).health), std::tuple(3u, 1000));

    // Event ids follow one another (a hit's two stages share one); a gap or a step back is counted.
    std::vector<net::CombatEvent> events;
    for (const u64 id : {5, 6, 6, 7, 9, 8}) events.push_back({id, 5, kLocal, kOpponent, 1002, 0, 0});
    f.scene.applyCombatEvents(events);
    EXPECT_EQ(std::tuple(f.scene.networkFigures().eventIdBreaks, f.scene.networkFigures().lastEventId),
              std::tuple(2u, 8u));
}

// Online, the smoke run's skill waits for the server and for the opponent to come within reach.
TEST(ServerEvents, OnlineSmokeSkillWaitsUntilItCanLand) {
    SceneFixture f({0, true, true});
    f.steps(3);
    EXPECT_TRUE(f.intents().empty());  // no server yet
    snapshot(f, 10, {player(kLocal, 1, -2000, 0), player(kOpponent, 2, 2000, 0)});
    f.steps(3);
    EXPECT_EQ(std::tuple(f.slot(0).action, f.intents().size()), std::tuple(kActionNone, 0u));  // 4 m: out of reach
    snapshot(f, 11, {player(kOpponent, 2, 1000, 0)});
    f.steps(10);
    EXPECT_EQ(f.slot(0).action, kActionSkill1);
    EXPECT_EQ(f.intents(), (std::vector<PlayerIntent>{{kIntentUseSkill, 0, 0, kOpponent, 1001}}));
}

TEST(ServerEvents, SmallCorrectionsGlideAndLargeOnesSnap) {
    const struct { i32 serverXMm; bool snaps; } cases[] = {{3200, false}, {3499, false}, {3500, true}, {-1000, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.serverXMm);
        OnlineFixture f;
        snapshot(f, 11, {player(kLocal, 1, c.serverXMm, 0)});
        const Vec3 server{static_cast<f32>(c.serverXMm) / 1000.0f, 0.0f, 0.0f};
        EXPECT_EQ(f.slot(0).position, server);
        const NetworkFigures figures = f.scene.networkFigures();
        EXPECT_EQ(std::tuple(figures.glides, figures.snaps), std::tuple(u64{!c.snaps}, u64{c.snaps}));
        EXPECT_NEAR(figures.largestCorrectionMetres, std::abs(server.x - 2.0f), 1e-6);
        f.drawFrame(1.0);
        const Vec3 drawn = f.slot(0).lastDrawnPosition;
        if (c.snaps) {
            EXPECT_EQ(std::tuple(drawn, f.slot(0).correctionOffset), std::tuple(server, Vec3{}));
        } else {
            EXPECT_NEAR(drawn.x, 2.0f, 1e-6);  // still where it was drawn before
            f.steps(20);
            f.drawFrame(1.0);
            EXPECT_NEAR(f.slot(0).lastDrawnPosition.x - server.x, (2.0f - server.x) * std::exp(-14.0 * 20 * kStep),
                        1e-4);
            f.steps(60);
            EXPECT_EQ(f.slot(0).correctionOffset, Vec3{});  // cleared once below a tenth of a millimetre
        }
    }
}

// The remote fighter plays two ticks behind its newest sample, holds when the samples run
// out, and catches up at up to twice its pace after a gap.
TEST(ServerEvents, RemoteSamplesPlayBehindHoldAndCatchUp) {
    OnlineFixture f;  // the opponent's first sample: tick 10 at x = -2
    const auto remote = [&](u64 tick, i32 xMm) {
        snapshot(f, tick, {player(kOpponent, 2, xMm, 500)});
    };
    remote(11, -1000);  // one metre per tick along +x
    f.steps(1);         // half a tick a step: still before its first sample, where it waits
    EXPECT_EQ(f.slot(1).position, (Vec3{-2.0f, 0.0f, 0.5f}));
    f.steps(3);  // the playback reaches tick 10
    EXPECT_DOUBLE_EQ(f.slot(1).playbackTick, 10.0);
    EXPECT_NEAR(f.slot(1).position.x, -2.0f, 1e-6);
    f.steps(1);
    EXPECT_NEAR(f.slot(1).position.x, -1.5f, 1e-5);
    EXPECT_FLOAT_EQ(f.slot(1).yawRadians, 1.57079637f);
    f.steps(3);  // out of samples: it waits at the newest
    EXPECT_EQ(f.slot(1).position, (Vec3{-1.0f, 0.0f, 0.5f}));
    NetworkFigures figures = f.scene.networkFigures();
    EXPECT_EQ(std::tuple(figures.heldSteps, figures.interpolationSteps), std::tuple(2u, 8u));
    // Behind by 2.5, 2, 1.5, 1 and 0.5 ticks, then none while held: 7.5 ticks over 8 steps.
    EXPECT_NEAR(figures.averageInterpolationDelayMs(), 7.5 / 30.0 * 1000.0 / 8.0, 1e-9);

    remote(19, 7000);  // after a stall, 8 ticks behind: 5 beyond the delay and a tick, 1.625 times the pace
    f.steps(1);
    EXPECT_DOUBLE_EQ(f.slot(1).playbackTick, 11.8125);
    EXPECT_NEAR(f.slot(1).position.x, -0.1875f, 1e-5);

    f.scene.addRemoteSample(1, 18, {9.0f, 0.0f, 9.0f});  // older than the newest: dropped
    f.scene.addRemoteSample(1, 19, {9.0f, 0.0f, 9.0f});  // as old as the newest: dropped too
    EXPECT_EQ(f.slot(1).remoteSampleCount, 2u);
    f.slot(1).playbackTick = 17.0;  // not so far behind that the playback jumps ahead
    for (u64 tick = 20; tick <= 26; ++tick) f.scene.addRemoteSample(1, tick, {7.0f, 0.0f, 0.5f});
    EXPECT_EQ(f.slot(1).remoteSampleCount, 8u);
    // The ninth pushes out the second: the first is where the playback comes from.
    EXPECT_EQ(std::tuple(f.slot(1).remoteSamples[0].tick, f.slot(1).remoteSamples[1].tick), std::tuple(11u, 20u));
    EXPECT_EQ(f.scene.networkFigures().droppedSamples, 3u);
    // Put 1.2 m away in a tick (faster than the 1 m a tick a run can reach): drawn there at once.
    f.scene.addRemoteSample(1, 27, {7.0f, 0.0f, 1.7f});
    EXPECT_EQ(std::tuple(f.slot(1).remoteSampleCount, f.slot(1).position.z), std::tuple(1u, 1.7f));
    // 33 ticks later (a frozen link): at once two ticks behind it, before any step.
    f.scene.addRemoteSample(1, 60, {7.0f, 0.0f, 0.5f});
    EXPECT_DOUBLE_EQ(f.slot(1).playbackTick, 58.0);
    EXPECT_NEAR(f.slot(1).position.z, 1.7f - 1.2f * 31.0f / 33.0f, 1e-5);
    EXPECT_EQ(f.scene.networkFigures().remoteJumps, 1u);
}

// A new round drops both fighters' moves on the server, also when the opponent was the one
// down: a direction still held goes out again.
TEST(ServerEvents, ANewRoundSendsAHeldDirectionAgain) {
    OnlineFixture f;
    const std::vector<PlayerIntent> move{{kIntentMove, 0, 1000, 0, 0}};
    f.steps(1, testing::keys({'W'}));
    EXPECT_EQ(f.intents(), move);
    snapshot(f, 11, {player(kOpponent, 2, -2000, 500, 0)});
    f.steps(5, testing::keys({'W'}));
    EXPECT_TRUE(f.intents().empty());
    snapshot(f, 12, {player(kOpponent, 2, -2000, 500)});
    f.steps(1, testing::keys({'W'}));
    EXPECT_EQ(f.intents(), move);
}

TEST(ServerEvents, CombatEventsStartAnimationsAndEffects) {
    const auto lockedInTick11 = [](OnlineFixture& f) {
        net::SnapshotPlayer locked = player(kOpponent, 2, -2000, 500);
        std::tie(locked.stateFlags, locked.lockTicks) = std::tuple(2, 30);
        snapshot(f, 11, {locked});
    };
    const struct {
        const char* name; net::CombatEvent event; std::function<void(OnlineFixture&)> setup;
        u32 slot; u8 action; const char* clip; bool spawns;
    } cases[] = {
        {"value 0: swing 1", {1, 1, kOpponent, kLocal, 1, 0, 0}, {}, 1, kActionBasicAttack, "attack_1", false},
        {"value 2: swing 2", {1, 1, kOpponent, kLocal, 1, 2, 0}, {}, 1, kActionBasicAttack, "attack_2", false},
        {"value 7: swing 4", {1, 1, kOpponent, kLocal, 1, 7, 0}, {}, 1, kActionBasicAttack, "attack_4", false},
        {"another class's skill on a locked fighter: effect only", {1, 1, kOpponent, kLocal, 1001, 0, 0},
         [](OnlineFixture& f) { f.slot(1).locked = true; }, 1, kActionNone, "idle", true},
        // A skill without an effect, so that only the action could show.
        {"its own skill on a fighter locked in the same tick", {1, 1, kOpponent, kLocal, 2001, 0, 0}, lockedInTick11, 1,
         kActionNone, "idle", false},
        {"templar skill 2", {1, 1, kOpponent, kLocal, 2002, 0, 0}, {}, 1, kActionSkill2, "attack_3", false},
        {"the local fighter's own action, already shown", {1, 1, kLocal, kOpponent, 1001, 0, 0},
         [](OnlineFixture& f) { f.scene.handleInput(press(key('1'))); }, 0, kActionBasicAttack, "CH010306", false},
        {"the local action unpredicted", {1, 1, kLocal, kOpponent, 1001, 0, 0}, {}, 0, kActionSkill1, "CH010311", true},
        {"a hit", {1, 2, kLocal, kOpponent, 1002, 155, 0}, {}, 1, kActionNone, "idle", true},
        {"a kind without a picture", {1, 5, kLocal, kOpponent, 1002, 0, 0}, {}, 1, kActionNone, "idle", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OnlineFixture f;
        if (c.setup) c.setup(f);
        const u64 spawnedBefore = f.scene.statistics().effectsSpawned;
        f.scene.applyCombatEvents({&c.event, 1});
        const CharacterSlot& slot = f.slot(c.slot);
        EXPECT_EQ(std::tuple(f.scene.statistics().authoritativeEvents, slot.action, slot.animation.clipName()),
                  std::tuple(1u, c.action, c.clip));
        const u64 spawned = f.scene.statistics().effectsSpawned;
        EXPECT_EQ(spawned > spawnedBefore, c.spawns);
        f.scene.applyCombatEvents({&c.event, 1});  // the same event again shows nothing new
        EXPECT_EQ(f.scene.statistics().effectsSpawned, spawned);
    }
}

// A fighter the server reports at 0 health is down until a snapshot gives it health again:
// meanwhile neither keys, nor the smoke run's skill, nor any peer's combat events move it,
// start an action or an effect, or send a command, and it holds its knock-down clip.
TEST(ServerEvents, AFighterThatIsDownNeitherMovesNorActsUntilItsHealthReturns) {
    SceneFixture f({0, true, true});
    const auto snapshotAt = [&](u64 tick, i32 localHealth, i32 opponentHealth, i32 localXMm, i32 opponentXMm) {
        snapshot(f, tick,
                 {player(kLocal, 1, localXMm, 0, localHealth), player(kOpponent, 2, opponentXMm, 0, opponentHealth)});
    };
    snapshotAt(9, 1000, 1000, 2000, -2000);
    f.steps(1, testing::keys({'W'}));
    EXPECT_EQ(f.intents().size(), 1u);    // a move, which the server drops when the fighter goes down
    snapshotAt(10, 0, 1000, 2000, 1000);  // the opponent alive within reach: the smoke skill would be due
    const std::tuple<Vec3, u64> held(f.slot(0).position, f.scene.statistics().effectsSpawned);
    for (const u32 k : {key('1'), key('2'), key('3'), key('4'), kVirtualKeySpace}) f.scene.handleInput(press(k));
    f.steps(30, testing::keys({'W', 'D'}));
    snapshotAt(11, 0, 0, 2000, 1000);
    const net::CombatEvent events[] = {{20, 1, kLocal, kOpponent, 1001, 0, 0}, {21, 1, kOpponent, kLocal, 1, 2, 0},
                                       {22, 2, kOpponent, kLocal, 2001, 125, 0}};
    f.scene.applyCombatEvents(events);
    f.steps(30, testing::keys({'W', 'D'}));
    for (const CharacterSlot* slot : {&f.slot(0), &f.slot(1)}) {
        EXPECT_EQ(std::tuple(slot->down, slot->action, slot->animation.clipName()), std::tuple(true, 0, "knockdown"));
    }
    EXPECT_GT(f.slot(0).animation.timeSeconds, 0.95);  // played on, never started again
    EXPECT_EQ(std::tuple(f.slot(0).position, f.scene.statistics().effectsSpawned), held);
    EXPECT_EQ(std::tuple(f.intents().size(), f.scene.statistics().authoritativeEvents), std::tuple(0u, 3u));

    // The round restarts: both stand, and the held key's move goes out again.
    snapshotAt(12, 1000, 1000, -2000, 2000);
    EXPECT_EQ(std::tuple(f.slot(0).down, f.slot(1).down, f.slot(0).animation.clipName(),
                         f.slot(1).animation.clipName()),
              std::tuple(false, false, "CH010301", "idle"));
    f.steps(1, testing::keys({'W'}));
    EXPECT_EQ(f.intents(), (std::vector<PlayerIntent>{{kIntentMove, 0, 1000, 0, 0}}));
}
}  // namespace
}  // namespace kestrune::scene
