// Loading the content, the clip player, and the fighters between snapshots: keys, intents,
// movement, actions and the hits an offline scene resolves itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>

#include "content/animation.h"
#include "effects/effect_catalogue.h"
#include "render/primitive_shapes.h"
#include "scene_fixture.h"

namespace kestrune::scene {
namespace {

using testing::contentCopy;
using testing::key;
using testing::keys;
using testing::kStep;
using testing::press;
using testing::removeClip;
using testing::SceneFixture;

// The cues raised so far: kind, fighter and action.
std::vector<std::tuple<CueKind, u8, u8>> cueList(const ContentScene& scene) {
    std::vector<std::tuple<CueKind, u8, u8>> list;
    for (const SceneCue& cue : scene.cues()) list.emplace_back(cue.kind, cue.slot, cue.action);
    return list;
}

// ---- Load ----

TEST(ContentScene, LoadsTheBakedContentAndStartsOfflineFightersReadyUnderBarsAtTheirClassesHeights) {
    for (const u32 controlled : {0u, 1u}) {
        for (const bool networked : {false, true}) {
            SCOPED_TRACE(std::to_string(controlled) + (networked ? " networked" : " offline"));
            SceneFixture f({controlled, false, networked});
            const SceneStatistics stats = f.scene.statistics();
            EXPECT_EQ(std::tuple(stats.charactersLoaded, stats.effectModelsLoaded, stats.clipsAvailable,
                                 stats.meshesAvailable),
                      std::tuple(2u, 6u, f.slot(0).model->clips.size() + f.slot(1).model->clips.size(),
                                 f.slot(0).model->meshes.size() + f.slot(1).model->meshes.size()));
            EXPECT_EQ(std::tuple(f.scene.controlledSlot(), f.scene.opponentSlot()),
                      std::tuple(controlled, 1 - controlled));
            // Offline the scene names and counts the fighters itself; online the server does.
            EXPECT_EQ(std::tuple(f.slot(0).entityId, f.slot(1).entityId, f.slot(1).health, f.slot(1).maxHealth),
                      networked ? std::tuple(0u, 0u, 0, 0) : std::tuple(1u, 2u, 1000, 1000));
            EXPECT_EQ(std::tuple(f.slot(0).animation.clipName(), f.slot(1).animation.clipName(), f.slot(1).position),
                      std::tuple("CH010301", "idle", Vec3{1.25f, 0.0f, 1.35f}));
            EXPECT_FLOAT_EQ(f.slot(1).yawRadians, 3.14159274f);
            // Each fighter's bar stands at its class's height, whichever of them is played.
            f.drawFrame();
            std::vector<f32> barHeights;
            for (const render::testing::RecordedDraw& draw : f.backend->draws) {
                if (draw.vertices.empty() || draw.vertices[0].color != render::kStatusBackgroundColor) continue;
                f32 sum = 0.0f;
                for (const auto& vertex : draw.vertices) sum += vertex.position[1];
                barHeights.push_back(sum / static_cast<f32>(draw.vertices.size()));
            }
            ASSERT_EQ(barHeights.size(), 2u);
            EXPECT_NEAR(barHeights[0] - barHeights[1], 3.0f - 2.35f, 1e-4);  // warrior, then templar
            // Every file the catalogue names is found by plain lookup.
            for (const effects::ComponentTemplate& component : effects::componentTemplates()) {
                SCOPED_TRACE(std::string(component.modelPath) + " " + std::string(component.texturePath));
                EXPECT_TRUE(component.modelPath.empty() || f.scene.effectModel(component.modelPath) != nullptr);
                EXPECT_TRUE(component.texturePath.empty() || f.scene.effectTexture(component.texturePath) != nullptr);
            }
        }
    }
}

TEST(ContentScene, LoadFailsOnCharactersAndTakesWhateverEffectsThereAre) {
    namespace fs = std::filesystem;
    // error: empty when the content loads
    const struct {
        const char* name; void (*change)(const fs::path& root); const char* error; u32 effectModels;
    } cases[] = {
        {"no templar", [](const fs::path& root) { fs::remove_all(root / "templar"); },
         "cannot open Kestrune Model: @", 0},  // @: the templar's model file
        {"warrior without its idle clip",
         [](const fs::path& root) { removeClip(root / "warrior/character.kmdl", "CH010301"); },
         "Required presentation clip is missing: CH010301", 0},
        {"no effects directory", [](const fs::path& root) { fs::remove_all(root / "effects"); }, "", 0},
        {"a model folder without its file and a stray file",
         [](const fs::path& root) {
             fs::remove(root / "effects/models/impact_ground/effect.kmdl");
             std::ofstream(root / "effects/models/notes.txt") << "not a model";
         },
         "", 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path root = contentCopy();
        c.change(root);
        std::string expected = c.error;
        if (const std::size_t at = expected.find('@'); at != std::string::npos) {
            expected.replace(at, 1, (root / "templar" / "character.kmdl").string());
        }
        try {
            SceneFixture f({}, root);
            EXPECT_EQ(expected, "") << "loaded";
            EXPECT_EQ(f.scene.statistics().effectModelsLoaded, c.effectModels);
            f.drawFrame();  // fewer effects, still a scene
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(error.what(), expected);
        }
    }
}

// ---- Clips ----

TEST(ContentScene, ClipChangesCrossFadeByLooping) {
    SceneFixture f;
    const AnimationPlayer& player = f.slot(0).animation;
    EXPECT_FALSE(player.fading);  // the first clip starts without a fade
    f.steps(3);
    f.scene.playClip(0, ClipUse::idle, false);  // already playing: keeps running
    EXPECT_NEAR(player.timeSeconds, 3 * kStep, 1e-12);
    EXPECT_FALSE(player.fading);
    f.scene.playClip(0, ClipUse::idle, true);  // forced: starts again
    EXPECT_EQ(std::tuple(player.timeSeconds, player.fading), std::tuple(0.0, true));
    f.steps(10);

    const auto expectFade = [&](std::string_view clip, f64 fadeSeconds) {
        EXPECT_EQ(player.clipName(), clip);
        EXPECT_DOUBLE_EQ(player.fadeSeconds, fadeSeconds);
        EXPECT_TRUE(player.fading && !player.previousFrozen);
    };
    f.steps(1, keys({'W'}));
    expectFade("CH010305", 0.14);  // both loop
    f.steps(20, keys({'W'}));
    f.scene.handleInput(press(key('1')));
    expectFade("CH010306", 0.075);  // the new clip plays once, from its start
    EXPECT_EQ(player.timeSeconds, 0.0);
    while (f.slot(0).action != kActionNone) f.steps(1);
    expectFade("CH010301", 0.1);  // only the new clip loops

    // Cut short, a fade leaves the pose it had reached as the next fade's start.
    f.steps(2);
    CharacterSlot& slot = f.slot(0);
    std::vector<content::Transform> from(slot.locals.size()), to(slot.locals.size()), expected(slot.locals.size());
    content::sampleClip(*slot.model, *player.previousClip, player.previousTimeSeconds + player.fadeElapsedSeconds,
                        player.previousLoop, from);
    content::sampleClip(*slot.model, *player.clip, player.timeSeconds, true, to);
    const f64 s = player.fadeElapsedSeconds / 0.1;
    content::blendPoses(from, to, static_cast<f32>(s * s * (3 - 2 * s)), expected);
    f.scene.handleInput(press(kVirtualKeySpace));
    EXPECT_TRUE(player.previousFrozen);
    EXPECT_EQ(slot.frozenLocals, expected);
    f.steps(5);
    EXPECT_FALSE(player.fading);  // 0.075 s
}

// ---- Movement and intents ----

TEST(ContentScene, MovementPredictsAndQueuesEachMoveOnce) {
    SceneFixture f;
    f.place(1, {12.0f, 0.0f, 12.0f});  // the templar's body out of the way
    const Vec3 start = f.slot(0).position;
    const f32 diagonal = 4.65f * static_cast<f32>(kStep) * std::sqrt(0.5f);
    const InputState forwardRight = keys({'W', 'D'});
    const PlayerIntent move{kIntentMove, 707, 707, 0, 0};
    const PlayerIntent stop{kIntentStop, 0, 0, 0, 0};

    f.steps(1, forwardRight);
    EXPECT_NEAR(f.slot(0).position.x - start.x, diagonal, 1e-6);
    EXPECT_NEAR(f.slot(0).position.z - start.z, diagonal, 1e-6);
    EXPECT_FLOAT_EQ(f.slot(0).yawRadians, 0.78539819f);
    EXPECT_EQ(std::tuple(f.slot(0).animation.clipName(), f.intents()), std::tuple("CH010305", std::vector{move}));
    f.steps(74, forwardRight);
    EXPECT_TRUE(f.intents().empty());  // keys unchanged: nothing new to say
    // The run loops on, past its 0.6 s clip, without blending back to the idle in between.
    EXPECT_EQ(f.slot(0).animation.clipName(), "CH010305");
    EXPECT_GT(f.slot(0).animation.timeSeconds, 1.0);
    // A foot goes down as the run starts and at every half of its clip since: running steps.
    const f64 halfCycles = f.slot(0).animation.timeSeconds / (0.5 * f.slot(0).animation.clip->duration);
    EXPECT_EQ(cueList(f.scene), (std::vector<std::tuple<CueKind, u8, u8>>(
                                    1 + static_cast<std::size_t>(halfCycles), {CueKind::footstep, 0, kActionNone})));
    EXPECT_TRUE(std::all_of(f.scene.cues().begin(), f.scene.cues().end(), [](const SceneCue& c) { return c.detail == 1; }));
    f.scene.clearCues();

    f.steps(3);  // released
    EXPECT_EQ(std::tuple(f.intents(), f.slot(0).animation.clipName()), std::tuple(std::vector{stop}, "CH010301"));

    // A direction switched straight to another that shares its x is a new move.
    f.steps(1, keys({'W'}));
    f.steps(1, keys({'S'}));
    EXPECT_EQ(f.intents(), (std::vector<PlayerIntent>{{kIntentMove, 0, 1000, 0, 0}, {kIntentMove, 0, -1000, 0, 0}}));

    // An action stops the run on the server at once, and the move goes out again after it.
    f.steps(1, keys({'W'}));
    f.intents();
    f.scene.handleInput(press(key('4')));
    while (f.slot(0).action != kActionNone) f.steps(1, keys({'W'}));
    f.steps(1, keys({'W'}));
    EXPECT_EQ(f.intents(), (std::vector<PlayerIntent>{stop, {kIntentMove, 0, 1000, 0, 0}}));
    // Offline no server is busy: the run goes on in the step after the skill's clip ends.
    f.scene.handleInput(press(key('2')));
    while (f.slot(0).action != kActionNone) f.steps(1, keys({'W'}));
    const f32 stoodAt = f.slot(0).position.z;
    f.steps(1, keys({'W'}));
    EXPECT_GT(f.slot(0).position.z, stoodAt);
    f.steps(1);
    f.intents();

    f.scene.clearCues();
    f.steps(1, keys({'W', '^'}));  // Shift walks
    EXPECT_EQ(std::tuple(f.intents(), f.slot(0).animation.clipName()),
              std::tuple(std::vector<PlayerIntent>{{kIntentMove, 0, 450, 0, 0}}, "CH010304"));
    ASSERT_EQ(f.scene.cues().size(), 1u);  // its first step, a walking one
    EXPECT_EQ(std::tuple(f.scene.cues()[0].kind, f.scene.cues()[0].detail), std::tuple(CueKind::footstep, u8{0}));

    f.place(0, {19.99f, 0.0f, 0.0f});
    f.steps(1, keys({'D'}));
    EXPECT_EQ(f.slot(0).position.x, 20.0f);  // the arena's edge
}

TEST(ContentScene, PredictedSpeedsPerClass) {
    const struct { u32 slot; bool walking; f32 metresPerSecond; } cases[] = {
        {0, false, 4.65f}, {0, true, 2.1f}, {1, false, 4.35f}, {1, true, 1.95f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.slot) + (c.walking ? " walking" : " running"));
        SceneFixture f({c.slot, false, false});
        const f32 startZ = f.slot(c.slot).position.z;
        f.steps(60, c.walking ? keys({'S', '^'}) : keys({'S'}));
        EXPECT_NEAR(startZ - f.slot(c.slot).position.z, c.metresPerSecond, 1e-4);
        EXPECT_FLOAT_EQ(std::abs(f.slot(c.slot).yawRadians), 3.14159274f);
    }
}

// ---- Actions ----

TEST(ContentScene, ActionsStartByKeyAndRules) {
    const PlayerIntent basic{kIntentBasicAttack, 0, 0, 2, 1}, skill1{kIntentUseSkill, 0, 0, 2, 1001};
    const struct {
        const char* name; std::vector<u32> presses; bool locked; u8 action; std::vector<PlayerIntent> intents;
    } cases[] = {
        {"heavy attack during a basic attack does nothing", {key('1'), key('4')}, false, kActionBasicAttack, {basic}},
        {"basic attack cuts a heavy attack short", {key('4'), key('1')}, false, kActionBasicAttack, {basic}},
        {"a skill during an action is not shown, so not sent", {key('1'), key('2')}, false, kActionBasicAttack, {basic}},
        {"skill 2", {key('3')}, false, kActionSkill2, {{kIntentUseSkill, 0, 0, 2, 1002}}},
        {"jump", {kVirtualKeySpace}, false, kActionJump, {}},
        // A direction held during a lock goes out for the lock's end.
        {"a lock blocks them all", {key('1'), key('2'), key('3'), key('4'), kVirtualKeySpace}, true, kActionNone,
         {{kIntentMove, 0, 1000, 0, 0}}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SceneFixture f;
        std::tie(f.slot(0).locked, f.slot(0).lockedSecondsLeft) = std::tuple(c.locked, 0.5);
        for (const u32 pressed : c.presses) {
            f.scene.handleInput(press(pressed));
            f.steps(1);
        }
        f.steps(1, keys({'W'}));
        EXPECT_EQ(std::tuple(f.slot(0).action, f.intents()), std::tuple(c.action, c.intents));
        // Neither a running action nor a lock lets the fighter walk away.
        EXPECT_EQ(f.slot(0).position, (Vec3{-1.25f, 0.0f, -0.85f}));
    }
}

// ---- Offline hits ----

TEST(ContentScene, OfflineHitsByRangeWithDamageLockAndEffects) {
    // The skills hit at their times; the other actions at 0.48 of their clip (0.733 s for the
    // first swing, 1.2 s for the heavy attack, 1 s for the jump): the step of the hit.
    const struct {
        const char* name; u32 pressed; f32 distance; i32 health; bool locked; bool hitEffects; u32 hitStep;
    } cases[] = {
        {"skill 1 at exactly its reach", key('2'), 3.4f, 875, true, true, 18},
        {"skill 1 beyond its reach", key('2'), 3.41f, 1000, false, false, 18},
        {"skill 2 at exactly 5 m", key('3'), 5.0f, 845, false, true, 51},
        {"skill 2 beyond 5 m", key('3'), 5.01f, 1000, false, false, 51},
        {"basic attack", key('1'), 3.0f, 920, false, false, 22},
        {"heavy attack", key('4'), 3.0f, 820, false, false, 35},
        {"jump", kVirtualKeySpace, 3.0f, 920, false, false, 29}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SceneFixture f;
        f.place(0, {0.0f, 0.0f, 0.0f});
        f.place(1, {c.distance, 0.0f, 0.0f});
        f.scene.handleInput(press(c.pressed));
        const u64 afterStart = f.scene.statistics().effectsSpawned;
        u32 stepsUntilHit = 0;
        for (; !f.slot(0).hitResolved && stepsUntilHit < 200; ++stepsUntilHit) f.steps(1);
        const bool spawned = f.scene.statistics().effectsSpawned > afterStart;
        EXPECT_EQ(std::tuple(stepsUntilHit, f.slot(1).health, f.slot(1).locked, spawned),
                  std::tuple(c.hitStep, c.health, c.locked, c.hitEffects));
        // Heard: the action's start, its strike, and the hit on the other fighter when it landed.
        std::vector<std::tuple<CueKind, u8, u8>> expected{{CueKind::actionStarted, 0, f.slot(0).action},
                                                          {CueKind::actionStruck, 0, f.slot(0).action}};
        if (c.health < 1000) expected.emplace_back(CueKind::hitLanded, 1, f.slot(0).action);
        EXPECT_EQ(cueList(f.scene), expected);
        if (c.locked) {
            f.steps(64);
            EXPECT_TRUE(f.slot(1).locked);
            f.steps(1);
            EXPECT_FALSE(f.slot(1).locked);  // 1.1 s: 66 steps from the hit's on
        }
    }
}

// A knockout: the fighter falls once and holds its last pose, takes no more hits while the
// other plays on, and both stand at their starts when the round restarts three seconds
// later. A model without the knock-down clip idles while down.
TEST(ContentScene, KnockoutFallsHoldsAndRestartsTheRoundAfterThreeSeconds) {
    for (const bool withClip : {true, false}) {
        SCOPED_TRACE(withClip ? "baked" : "templar without the knock-down clip");
        const std::filesystem::path content = withClip ? testing::kContent : contentCopy();
        if (!withClip) removeClip(content / "templar/character.kmdl", "knockdown");
        SceneFixture f({}, content);
        CharacterSlot& fallen = f.slot(1);
        const AnimationPlayer& player = fallen.animation;
        const auto expectDown = [&] {
            EXPECT_EQ(std::tuple(fallen.health, fallen.down, player.clipName(), player.loop),
                      std::tuple(0, true, withClip ? "knockdown" : "idle", !withClip));
        };
        std::tie(fallen.health, fallen.locked, fallen.lockedSecondsLeft) = std::tuple(80, true, 60.0);
        f.scene.handleInput(press(key('3')));  // skill 2 and its beam
        f.steps(1, keys({'D'}));
        f.scene.update(0.01);
        while (fallen.health > 0 && f.slot(0).action != kActionNone) f.steps(1);
        expectDown();
        EXPECT_EQ(cueList(f.scene), (std::vector<std::tuple<CueKind, u8, u8>>{
                                        {CueKind::actionStarted, 0, kActionSkill2},
                                        {CueKind::actionStruck, 0, kActionSkill2},
                                        {CueKind::hitLanded, 1, kActionSkill2},
                                        {CueKind::knockedDown, 1, kActionNone}}));
        f.scene.clearCues();

        // The other fighter plays on, but its hits no longer land.
        f.place(0, {1.25f, 0.0f, 0.0f});
        f.steps(60);
        f.scene.handleInput(press(key('2')));
        const u64 spawned = f.scene.statistics().effectsSpawned;
        f.steps(40);
        EXPECT_EQ(std::tuple(f.slot(0).action, f.scene.statistics().effectsSpawned),
                  std::tuple(kActionSkill1, spawned));
        // No hit is heard on a fighter that is down.
        EXPECT_EQ(cueList(f.scene), (std::vector<std::tuple<CueKind, u8, u8>>{
                                        {CueKind::actionStarted, 0, kActionSkill1},
                                        {CueKind::actionStruck, 0, kActionSkill1}}));
        f.scene.clearCues();

        f.steps(77);  // 2.97 s down, long after the fall has ended: played once and held
        expectDown();
        EXPECT_GT(player.timeSeconds, withClip ? player.clip->duration : 0.0);

        EXPECT_TRUE(cueList(f.scene).empty());
        f.steps(3);
        EXPECT_EQ(cueList(f.scene), (std::vector<std::tuple<CueKind, u8, u8>>{{CueKind::roundStarted, kNoCueSlot, 0}}));
        EXPECT_EQ(std::tuple(f.slot(0).position, fallen.position),
                  std::tuple(Vec3{-1.25f, 0.0f, -0.85f}, Vec3{1.25f, 0.0f, 1.35f}));
        EXPECT_EQ(std::tuple(f.slot(0).health, fallen.health, fallen.maxHealth), std::tuple(1000, 1000, 1000));
        EXPECT_EQ(std::tuple(fallen.locked, fallen.down, player.clipName(), f.slot(0).action, f.scene.beam().active),
                  std::tuple(false, false, "idle", kActionNone, false));
        EXPECT_LT(player.timeSeconds, 2.5 * kStep);  // started again at the restart
    }
}

}  // namespace
}  // namespace kestrune::scene
