// Snapshots and combat events applied to a networked scene.

#include <gtest/gtest.h>

#include <cmath>

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
        decide(10);  // the stop the first snapshot sends, to line the ticks up with the prediction
    }
    // Sends what the scene queued and has the server decide it at `tick` (accepted unless said).
    std::vector<PlayerIntent> decide(u64 tick, bool accepted = true) {
        std::vector<PlayerIntent> sent = intents();
        for (const PlayerIntent& intent : sent) {
            scene.commandSent(++sequence);
            scene.applyCommandResult({sequence, accepted, static_cast<u16>(accepted ? 0 : 5), tick});
            if (intent.kind == kIntentMove) scene.resolveMove(accepted);
        }
        return sent;
    }
    u32 sequence = 0;
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
    EXPECT_EQ(std::tuple(f.slot(0).action, f.intents()),  // 4 m: out of reach; the stop lines the ticks up
              std::tuple(kActionNone, std::vector<PlayerIntent>{{kIntentStop, 0, 0, 0, 0}}));
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

// A refused move goes out again 0.1 s later, once per refusal, and the fighter stands until it
// does. A new round drops both fighters' moves on the server, also when the opponent was the
// one down: a direction still held goes out again.
TEST(ServerEvents, ARefusedMoveAndANewRoundSendAHeldDirectionAgain) {
    OnlineFixture f;
    const std::vector<PlayerIntent> move{{kIntentMove, 0, 1000, 0, 0}};
    const InputState forward = testing::keys({'W'});
    f.steps(1, forward);
    for (int refusal = 0; refusal < 2; ++refusal) {
        EXPECT_EQ(f.decide(10, false), move);
        const Vec3 refusedAt = f.slot(0).position;
        f.steps(5, forward);
        EXPECT_EQ(std::tuple(f.intents().size(), f.slot(0).position), std::tuple(0u, refusedAt));
        f.steps(2, forward);
    }
    EXPECT_EQ(f.decide(10), move);
    f.steps(20, forward);
    EXPECT_TRUE(f.intents().empty());
    snapshot(f, 11, {player(kOpponent, 2, -2000, 500, 0)});
    f.steps(5, forward);
    EXPECT_TRUE(f.intents().empty());
    snapshot(f, 12, {player(kOpponent, 2, -2000, 500)});
    f.steps(1, forward);
    EXPECT_EQ(f.intents(), move);
}

// Online an action plays over the server's window for it, to the step (0.6, 0.9 and 1.4 s).
TEST(ServerEvents, AnActionOnlineEndsOnTheStepTheServersWindowDoes) {
    const struct { char key; u8 action; u32 steps; } cases[] = {
        {'1', kActionBasicAttack, 36}, {'2', kActionSkill1, 54}, {'3', kActionSkill2, 84}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        OnlineFixture f;
        f.scene.handleInput(press(key(c.key)));
        f.steps(c.steps - 1);
        EXPECT_EQ(f.slot(0).action, c.action);
        f.steps(1);
        EXPECT_EQ(f.slot(0).action, kActionNone);
    }
}

// Events bring effects, and the local fighter's action when the prediction did not show it;
// the opponent's actions come with the snapshots (below).
TEST(ServerEvents, CombatEventsSpawnEffectsAndTheLocalActionsThePredictionMissed) {
    const struct {
        const char* name; net::CombatEvent event; void (*setup)(OnlineFixture&);
        u32 slot; u8 action; const char* clip; bool spawns;
    } cases[] = {
        {"the opponent's swing: no clip before its snapshot", {1, 1, kOpponent, kLocal, 1, 2, 0}, nullptr, 1,
         kActionNone, "idle", false},
        {"the opponent's skill: its effect at once", {1, 1, kOpponent, kLocal, 1001, 0, 0}, nullptr, 1, kActionNone,
         "idle", true},
        {"the local fighter's own action, already shown", {1, 1, kLocal, kOpponent, 1001, 0, 0},
         [](OnlineFixture& f) { f.scene.handleInput(press(key('1'))); }, 0, kActionBasicAttack, "CH010306", false},
        {"the local action unpredicted", {1, 1, kLocal, kOpponent, 1001, 0, 0}, nullptr, 0, kActionSkill1, "CH010311",
         true},
        {"a hit", {1, 2, kLocal, kOpponent, 1002, 155, 0}, nullptr, 1, kActionNone, "idle", true},
        {"a kind without a picture", {1, 5, kLocal, kOpponent, 1002, 0, 0}, nullptr, 1, kActionNone, "idle", false}};
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

// The opponent is drawn in the action the server ran at its drawn moment: it starts when the
// playback (two ticks behind the newest snapshot) reaches the first sample that shows it,
// swing by combo step and skill by skill id, played over the server's window, and it ends when
// the playback reaches a sample without it.
TEST(ServerEvents, TheOpponentActsWhereItsPlaybackMeetsTheServersAction) {
    const struct { const char* name; u16 skill; u8 step; u8 action; const char* clip; f64 windowSeconds; } cases[] = {
        {"step 0: swing 1", 1, 0, kActionBasicAttack, "attack_1", 0.6},
        {"swing 2", 1, 2, kActionBasicAttack, "attack_2", 0.6},
        {"step 7: swing 4", 1, 7, kActionBasicAttack, "attack_4", 0.6},
        {"templar skill 2", 2002, 0, kActionSkill2, "attack_3", 1.4},
        {"a warrior's skill: no clip in the templar's model", 1001, 0, kActionNone, "idle", 0.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OnlineFixture f;
        net::SnapshotPlayer acting = player(kOpponent, 2, -2000, 500);
        std::tie(acting.skill, acting.opaque) = std::tuple(c.skill, c.step);
        snapshot(f, 11, {acting});
        snapshot(f, 12, {acting});
        while (f.scene.remotePlayback().playbackTick() < 11.0) {
            EXPECT_EQ(f.slot(1).action, kActionNone);
            f.steps(1);
        }
        const CharacterSlot& slot = f.slot(1);
        EXPECT_EQ(std::tuple(slot.action, slot.animation.clipName()), std::tuple(c.action, c.clip));
        if (c.action != kActionNone) {
            EXPECT_NEAR(slot.animation.rate, slot.animation.clip->duration / c.windowSeconds, 1e-9);
            // As far into its clip as the playback is into the action (decided a tick before its sample).
            EXPECT_NEAR(slot.animation.timeSeconds, (f.scene.remotePlayback().playbackTick() - 10.0) / 30.0 * slot.animation.rate,
                        1e-9);
        }
        snapshot(f, 13, {player(kOpponent, 2, -2000, 500)});
        while (f.scene.remotePlayback().playbackTick() < 13.0) f.steps(1);
        EXPECT_EQ(f.slot(1).action, kActionNone);
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
    EXPECT_EQ(f.intents().size(), 2u);  // the first snapshot's stop, and a move the server drops as the fighter goes down
    snapshotAt(10, 0, 1000, 2000, 0);  // the opponent alive within reach: the smoke skill would be due
    const std::tuple<Vec3, u64> held(f.slot(0).position, f.scene.statistics().effectsSpawned);
    for (const u32 k : {key('1'), key('2'), key('3'), key('4'), kVirtualKeySpace}) f.scene.handleInput(press(k));
    f.steps(30, testing::keys({'W', 'D'}));
    snapshotAt(11, 0, 0, 2000, 0);
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
    EXPECT_EQ(f.scene.networkFigures().confirmedLocalActions, 1u);  // its last swing the server did run

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
