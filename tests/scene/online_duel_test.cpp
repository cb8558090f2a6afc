// The duel scene online against the duel server's rules (simulated_duel.h): what the
// server does with the fighter matches what the screen shows, after actions, locks, refusals,
// restarts and frozen links, and the opponent moves as it is drawn.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "simulated_duel.h"

namespace kestrune::scene {
namespace {

using testing::key;
using testing::keys;
using testing::kLoopback;
using testing::kRoundTrip100Ms;
using testing::kStep;
using testing::Link;
using testing::SimulatedDuel;

constexpr f32 kAgreeMetres = 0.02f;

f32 distance(Vec3 a, Vec3 b) { return std::sqrt(squaredDistance(a, b)); }
std::string linkName(Link link) { return link.oneWaySteps == 0 ? "loopback" : "100 ms"; }
// The server moves in whole ticks, so a stop between two of them comes out up to a tick's
// motion short of the prediction, and a tick more with the jitter: a glide that size is the
// most a run and its stops may cost.
f32 stopMetres(Link link) { return 4.65f * static_cast<f32>(1 + link.jitterSteps) / testing::kServerTickRate + 0.001f; }
void expectOnlyStopGlides(const SimulatedDuel& d, Link link) {
    const NetworkFigures figures = d.f.scene.networkFigures();
    EXPECT_EQ(figures.snaps, 0u);
    EXPECT_LE(figures.largestCorrectionMetres, stopMetres(link)) << figures.glides << " glides";
}

// A straight run agrees with the server at every tick, however the frames fall: one fixed
// step each, or three (a slow machine), the server ticking in step with them or between
// them; its stop costs at most the glide of a tick.
TEST(OnlineDuel, AStraightRunAgreesWithTheServerAtEveryTick) {
    for (const Link link : {kLoopback, Link{0, 0, 0, false}, kRoundTrip100Ms}) {
        for (const u32 steps : {1u, 3u}) {
            SCOPED_TRACE(linkName(link) + (link.serverAhead ? ", server a step ahead, " : ", ") +
                         std::to_string(steps) + " steps a frame");
            SimulatedDuel d(0, link, false);
            d.frames(120 / steps, keys({'W'}), steps);
            EXPECT_EQ(d.f.scene.networkFigures().glides, 0u);
            d.frames(60 / steps, {}, steps);
            EXPECT_LE(d.f.scene.networkFigures().glides, 1u);
            expectOnlyStopGlides(d, link);
            EXPECT_LT(distance(d.localSlot().position, SimulatedDuel::metres(d.local())), kAgreeMetres);
        }
    }
    // A frame so long that time was dropped: the server ran on, and so did the fighter, without
    // a correction, and not a fraction of a second behind until the next stop.
    SimulatedDuel d(0, Link{0, 0, 0, false}, false);
    d.frames(30, keys({'W'}));
    d.loseSteps(22);
    d.frames(30, keys({'W'}));
    EXPECT_EQ(d.f.scene.networkFigures().glides, 0u);
    d.frames(30);
    EXPECT_LT(distance(d.localSlot().position, SimulatedDuel::metres(d.local())), kAgreeMetres);
}

// (Held through actions and locks and let go during them, the run and the stop agree with the
// server: the random duel checks that after every frame.) A character of one's own whose swing
// is shorter than the server's basic attack: the run after it waits for the server rather than
// being refused.
TEST(OnlineDuel, AfterASwingShorterThanTheServersTheRunWaitsForTheServer) {
    const std::filesystem::path content = testing::contentCopy();
    testing::editModel(content / "warrior/character.kmdl", [](content::Model& model) {
        content::AnimationClip& swing = *std::find_if(model.clips.begin(), model.clips.end(),
                                                      [](const auto& clip) { return clip.name == "CH010306"; });
        swing.duration = 0.25f;
        swing.frameCount = 9;  // 7.5 frames at 30 per second, rounded up, and the first
        swing.samples.resize(std::size_t{swing.frameCount} * swing.nodeCount);
    });
    SimulatedDuel d(0, kRoundTrip100Ms, false, content);
    d.frames(12, keys({'D'}));
    d.frame(keys({'D'}, {key('1')}));
    d.frames(60, keys({'W'}));
    EXPECT_EQ(d.f.scene.networkFigures().confirmedLocalActions, 1u);
    EXPECT_EQ(d.rejections(), 0u);
    expectOnlyStopGlides(d, kRoundTrip100Ms);
}

// What the server does that the prediction could not know shows within a round trip and a
// frame: a lock by the opponent mid-run, a refused move, a round restarted where the
// fighter's path had just been.
TEST(OnlineDuel, CorrectionsTheServerMakesShowWithinARoundTrip) {
    const u32 roundTripSteps = 2 * (kRoundTrip100Ms.oneWaySteps + kRoundTrip100Ms.jitterSteps);
    const u32 withinSteps = roundTripSteps + 2 * testing::kStepsPerTick + 1;
    // (The link may freeze over the hit: the first snapshot seen locked then comes ticks after it.)
    for (const u32 frozenOverHit : {0u, 12u}) {
        SCOPED_TRACE("locked by the opponent mid-run, the link frozen for " + std::to_string(frozenOverHit) + " steps");
        SimulatedDuel d(0, kRoundTrip100Ms, false);
        while (distance(SimulatedDuel::metres(d.local()), SimulatedDuel::metres(d.opponent())) > 3.0f) {
            d.frame(keys({'D'}));
        }
        EXPECT_EQ(d.opponentCommand(net::kCommandUseSkill, 0, 0, net::kSkillTemplar1), duel::kAccepted);
        d.frames(12, keys({'D'}));
        d.freezeLink(frozenOverHit);
        while (!d.f.scene.locked(d.f.scene.controlledSlot())) d.frame(keys({'D'}));
        d.frames(withinSteps, keys({'D'}));
        ASSERT_TRUE(d.f.scene.locked(d.f.scene.controlledSlot()));
        EXPECT_LT(distance(d.localSlot().position, SimulatedDuel::metres(d.local())), kAgreeMetres);
        const u64 glides = d.f.scene.networkFigures().glides;
        EXPECT_EQ(glides, 1u);  // all at once, as soon as the lock is known
        // Held through the lock, the run goes on as the server's does, on the same tick, with
        // the move the server kept through the lock: nothing is sent again (but the first
        // snapshot's stop and the move).
        d.frames(90, keys({'D'}));
        EXPECT_FALSE(d.f.scene.locked(d.f.scene.controlledSlot()));
        EXPECT_TRUE(d.local().moving);
        EXPECT_EQ(d.f.scene.networkFigures().glides, glides);
        EXPECT_EQ(d.commandsSent(), 2u);
    }
    {
        SCOPED_TRACE("a move refused, and turned before the refusal came");
        SimulatedDuel d(0, kRoundTrip100Ms, false);
        d.refuseNextMove = true;
        d.frames(3, keys({'W'}));
        d.frames(57, keys({'S'}));  // only the refused move's steps are taken out
        EXPECT_EQ(d.f.scene.networkFigures().glides, 1u);  // as soon as the refusal is known
        d.frames(withinSteps);
        EXPECT_EQ(d.rejections(), 1u);
        EXPECT_LT(distance(d.localSlot().position, SimulatedDuel::metres(d.local())), kAgreeMetres);
    }
    {
        SCOPED_TRACE("a restart onto the path just run");
        SimulatedDuel d(0, kRoundTrip100Ms, false);
        const Vec3 start = SimulatedDuel::metres(d.local());
        d.frames(18, keys({'D'}));
        d.frames(20);
        d.duel.seat(net::kTemplar, testing::kOpponentEntity);  // a new round: both back at their starts
        d.frames(withinSteps);
        EXPECT_LT(distance(d.localSlot().position, start), kAgreeMetres);
    }
}

// Held through a knockout and the round that follows, the direction moves the fighter again
// on the server once the new round has put both at their starts and dropped their moves.
// Also when the link froze from just before the knockout until after the restart.
TEST(OnlineDuel, HeldThroughAKnockoutTheRunGoesOnInTheNewRound) {
    for (const bool frozen : {false, true}) {
        SCOPED_TRACE(frozen ? "the link frozen across the knockout and the restart" : "the link open");
        SimulatedDuel d(0, kRoundTrip100Ms, true);  // the bot beats a fighter who stands still
        for (u32 frame = 0; frame < 3000 && d.local().health > (frozen ? 160 : 0); ++frame) d.frame({});
        if (frozen) d.freezeLink(420);  // the bot's next hits, and the 3 s restart
        for (u32 frame = 0; frame < 600 && (d.local().health > 0 || d.duel.roundOver()); ++frame) d.frame(keys({'W'}));
        d.frames(frozen ? 240 : 45, keys({'W'}));
        EXPECT_TRUE(d.local().moving);
        d.frames(30);
        EXPECT_GT(SimulatedDuel::metres(d.local()).z, 1.0f);
        EXPECT_LT(distance(d.localSlot().position, SimulatedDuel::metres(d.local())), kAgreeMetres);
    }
}

// The opponent's clip follows its drawn speed: walking, running, standing, each change once
// (also at a speed inside the walk-run margin), facing the way it goes, never over an action
// clip. (The end-to-end chase
// counts how often the bot is drawn moving in its idle pose.)
TEST(OnlineDuel, TheOpponentWalksAndRunsAsItMoves) {
    SimulatedDuel d(0, kRoundTrip100Ms, false);
    std::vector<std::string> clips{std::string(d.remoteSlot().animation.clipName())};
    const auto record = [&](u32 count) {
        for (u32 i = 0; i < count; ++i) {
            d.frame({});
            const std::string_view clip = d.remoteSlot().animation.clipName();
            if (clip != clips.back()) clips.emplace_back(clip);
        }
    };
    d.opponentCommand(net::kCommandMove, -1000, 0);
    record(10);
    // Skill 2 drops the move, but the drawn fighter still runs the last ticks: the skill shows.
    EXPECT_EQ(d.opponentCommand(net::kCommandUseSkill, 0, 0, net::kSkillTemplar2), duel::kAccepted);
    record(90);
    d.opponentCommand(net::kCommandMove, 0, -450);
    record(60);
    EXPECT_NEAR(d.remoteSlot().yawRadians, kPi, 1e-4);
    d.opponentCommand(net::kCommandMove, 0, -700);  // 3.06 m/s, inside the walk-run margin: still a walk
    record(60);
    d.opponentCommand(net::kCommandMove, -1000, 0);
    record(60);
    EXPECT_NEAR(d.remoteSlot().yawRadians, -kPi / 2, 1e-4);
    d.opponentCommand(net::kCommandStop);
    record(60);
    EXPECT_EQ(clips, (std::vector<std::string>{"idle", "run", "attack_3", "idle", "walk", "run", "idle"}));
}

// After the link froze for two and a half seconds, or the server's ticks jumped far ahead,
// the opponent is back at its place behind the newest snapshot within half a second.
TEST(OnlineDuel, AfterAFrozenLinkOrAJumpOfTicksTheOpponentIsBackAtOnce) {
    SimulatedDuel d(0, kRoundTrip100Ms, false);
    d.opponentCommand(net::kCommandMove, 0, -1000);
    d.frames(20);
    // Frames from the one in which the link is back until the playback is within 4 ticks of
    // the newest snapshot, and how far the opponent is drawn moving over the next 20.
    const auto catchUp = [&d] {
        u32 frames = 1;
        for (d.frame({}); frames < 120 && static_cast<f64>(d.newestSnapshotTick()) - d.f.scene.remotePlayback().playbackTick() > 4.0;
             ++frames) {
            d.frame({});
        }
        const Vec3 before = d.remoteSlot().position;
        d.frames(20);
        return std::pair(frames, distance(d.remoteSlot().position, before));
    };
    const f32 twentyStepsMetres = 20 * 4.35f * static_cast<f32>(kStep);
    d.freezeLink(150);
    d.frames(150);
    const auto [afterFreeze, movedAfterFreeze] = catchUp();
    EXPECT_LE(afterFreeze, 30u);
    EXPECT_NEAR(movedAfterFreeze, twentyStepsMetres, 0.01f);
    EXPECT_EQ(d.f.scene.networkFigures().remoteJumps, 1u);
    for (const u64 jump : {u64{300}, u64{1} << 32}) {
        SCOPED_TRACE(jump);
        d.tickOffset += jump;
        d.frames(testing::kRoundTrip100Ms.oneWaySteps);
        const auto [afterJump, movedAfterJump] = catchUp();
        EXPECT_LE(afterJump, 30u);
        EXPECT_GT(movedAfterJump, twentyStepsMetres / 2);
    }
    EXPECT_EQ(d.f.scene.networkFigures().remoteJumps, 3u);
}

}  // namespace
}  // namespace kestrune::scene
