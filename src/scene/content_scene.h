#pragma once
// ContentScene: the duel as the player sees it. Two fighters (slot 0 the warrior, slot 1
// the templar), the effect system with the effect models and textures of the content
// directory, the camera, the beam, and the state the server hands over. It predicts the
// local fighter at once, resolves hits itself while no server is authoritative, reconciles
// and interpolates once one is, and draws the arena every frame.
//
// Main thread only. load() throws on the first failure (ContentError for files, the clip
// error of playClip, renderer errors); a scene whose load threw is discarded. After load,
// the per-frame operations allocate nothing: every buffer is sized at load. The source is
// split by concern: content_scene.cpp (load, clips, reports), character_presentation.cpp
// (input, fixed steps, actions, offline hits), server_events.cpp (snapshots, remote
// samples, combat events) and scene_drawing.cpp (camera and drawing).

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "content/animation.h"
#include "content/model.h"
#include "effects/effect_system.h"
#include "render/render_types.h"
#include "scene/character_slot.h"
#include "scene/clip_table.h"
#include "scene/frame_scene.h"
#include "scene/move_input.h"
#include "scene/scene_math.h"

namespace kestrune::scene {

// ---- Movement ----
inline constexpr i32 kRunSpeedFactor = 1000;
inline constexpr i32 kWalkSpeedFactor = 450;
inline constexpr std::array<i32, 2> kSpeedBase{155, 145};  // per slot
inline constexpr f32 kArenaBoundMetres = 20.0f;
inline constexpr f64 kCorrectionDecayPerSecond = 14.0;
inline constexpr f32 kCorrectionClearSquaredMetres = 1e-8f;
inline constexpr f64 kMoveResendSeconds = 0.1;
inline constexpr f64 kMaxVariableStepSeconds = 0.1;
// Timers count down in steps of 1/60 s, whose sums miss round times by a rounding.
inline constexpr f64 kTimerEpsilonSeconds = 1e-9;

// ---- Offline duel ----
inline constexpr i32 kOfflineHealth = 1000;
inline constexpr f64 kRoundRestartSeconds = 3.0;
inline constexpr f64 kSkill1LockSeconds = 1.1;
// The lock in the server's ticks, as the server rounds it (at least one).
constexpr u64 skill1LockTicks(u16 tickRate) noexcept {
    const u64 ticks = (u64{1100} * tickRate + 500) / 1000;
    return ticks > 0 ? ticks : 1;
}
inline constexpr f64 kSkill1HitSeconds = 0.3;
inline constexpr f64 kSkill2HitSeconds = 0.85;
inline constexpr f64 kClipHitFraction = 0.48;  // of the clip, for the attacks and the jump
inline constexpr f32 kMeleeRangeMetres = 3.4f;
inline constexpr f32 kSkill2RangeMetres = 5.0f;
inline constexpr std::array<u32, 2> kOfflineEntityIds{1, 2};

// ---- Skills ----
inline constexpr std::array<u16, 2> kSkill1Ids{1001, 2001};  // per slot
inline constexpr std::array<u16, 2> kSkill2Ids{1002, 2002};
inline constexpr u16 kBasicAttackSkill = 1;
inline constexpr u32 kSkill1Effect = 1001;  // both classes show the warrior's skill effects
inline constexpr u32 kSkill2Effect = 1002;

// ---- Beam ----
inline constexpr f64 kBeamSeconds = 0.75;
inline constexpr f32 kBeamCasterLiftMetres = 1.15f;
inline constexpr f32 kBeamTargetLiftMetres = 1.0f;
inline constexpr std::string_view kBeamTexture = "textures/wrslugger02.png";

// ---- Server ----
inline constexpr u16 kDefaultTickRate = 30;
inline constexpr f32 kSnapDistanceMetres = 1.5f;
// A server position this close to the prediction for its tick agrees with it (the server
// rounds to millimetres and moves in whole ticks of its own arithmetic).
inline constexpr f32 kPredictionMatchMetres = 0.02f;
// The frame's steps catch up with the time up to its start after its snapshot is applied,
// and the server moves a tick at a time: a snapshot can be this far ahead of the simulated
// steps (a frame of 8 steps and a tick) and is compared with the prediction carried on.
inline constexpr f64 kPredictionExtrapolationSeconds = 0.2;
inline constexpr u16 kLockedStateFlag = 2;
// Commands whose send time and server tick are remembered, to line the prediction up with
// the server's ticks: far more than are ever awaiting an answer.
inline constexpr u32 kRememberedCommands = 128;
// How long the server's own actions keep its fighter busy (moves are refused meanwhile),
// and a tick more for the jitter between the action's command and the next move's.
inline constexpr f64 kServerBasicAttackSeconds = 0.6;
inline constexpr f64 kServerSkill1Seconds = 0.9;
inline constexpr f64 kServerSkill2Seconds = 1.4;
inline constexpr f64 kServerBusyMarginTicks = 1.0;
// The remote fighter is played this far behind the newest sample when it arrives, so that
// until the next one the playback still has a sample ahead and a snapshot that comes a
// little late does not stop it. Further behind than that by more than a tick (after a
// stall), playback speeds up, to at most twice its pace 8 ticks later, until it has caught up.
inline constexpr f64 kInterpolationDelayTicks = 2.0;
inline constexpr f64 kCatchUpAfterTicks = 1.0;
inline constexpr f64 kCatchUpRampTicks = 8.0;
inline constexpr f64 kCatchUpMaxRate = 2.0;
// Further behind than this (a frozen link, a server whose ticks jumped) is no lag to catch
// up with: the playback goes straight to its point behind the newest sample.
inline constexpr f64 kFreezeLagTicks = 10.0;
static_assert(kFreezeLagTicks > kInterpolationDelayTicks + kCatchUpAfterTicks + 2.0,
              "ordinary jitter is caught up with, not jumped over");
// The remote fighter's walk and run follow its drawn speed: it starts moving above the
// first speed, runs above the split (walks below it, with a margin either way so the clip
// does not flicker), and idles once it has stood still for a while.
inline constexpr f32 kRemoteMovingMetresPerSecond = 0.5f;
inline constexpr f32 kRemoteRunSplitMetresPerSecond = 3.2f;
inline constexpr f32 kRemoteRunMarginMetresPerSecond = 0.4f;
inline constexpr f64 kRemoteStillSeconds = 0.12;
// Faster than this from its last sample (six times a run) the remote fighter was put there
// (a new round), not run there: it is drawn there at once.
inline constexpr f32 kRemoteTeleportMetresPerTick = 1.0f;

// ---- Effects ----
inline constexpr u64 kMaxEffectComponents = 4096;
inline constexpr u64 kMaxRememberedEffectEvents = 8192;

// ---- Camera and drawing ----
inline constexpr f64 kCameraSmoothingPerSecond = 8.0;
inline constexpr f32 kGroundGridHalfExtentMetres = 10.0f;

struct SceneLaunch {
    u32 controlledSlot = 0;  // 0 warrior, 1 templar
    bool smokeTest = false;  // starts the local skill once, for automated runs
    bool networked = false;  // a server session will drive the scene
};

struct Beam {
    bool active = false;
    f64 elapsedSeconds = 0.0;
    Vec3 start;
    Vec3 end;
    render::TextureHandle texture = render::kNoTexture;
};

// A command sent for the local player: when it was issued, and the server tick at which
// it was decided once its result is in.
struct IssuedCommand {
    u32 sequence = 0;
    u32 kind = 0;
    f64 issuedSeconds = 0.0;
    u32 moveId = 0;  // a move's own number, which the steps it moved the fighter carry
    u64 decidedTick = 0;
    bool decided = false;
    bool accepted = false;
};

struct EffectModel {
    content::Model model;
    std::vector<content::Matrix4> staticPose;  // the nodes' own transforms, made global
    render::ModelHandle handle{render::kNoHandle};
};

class ContentScene final : public FrameScene {
public:
    ContentScene();
    ContentScene(const ContentScene&) = delete;
    ContentScene& operator=(const ContentScene&) = delete;

    // Reads root/"warrior"/"character.kmdl", root/"templar"/"character.kmdl" and whatever
    // effect models and textures root/"effects" holds, uploads them to `renderer` and places
    // the fighters. Missing effect content only means fewer effects.
    void load(const std::filesystem::path& root, const SceneLaunch& launch, render::RenderDevice& renderer);

    // ---- Frame ----
    void fixedUpdate(f64 stepSeconds, const InputState& input) override;
    void handleInput(const InputState& input) override;
    void update(f64 deltaSeconds) override;
    void draw(render::RenderDevice& renderer, f64 alpha) override;

    // ---- Duel ----
    void applySnapshot(const net::DuelSnapshot& snapshot, u32 localEntityId, u32 lastSentCommandSequence,
                       u16 tickRate) override;
    void applyCombatEvents(std::span<const net::CombatEvent> events) override;
    void resolveMove(bool accepted) override;
    void applyCommandResult(const net::CommandResult& result) override;
    void takeIntents(std::vector<PlayerIntent>& out) override;
    void commandSent(u32 commandSequence) override;

    // ---- Reports ----
    SceneStatistics statistics() const override { return statistics_; }
    NetworkFigures networkFigures() const override { return figures_; }
    void appendTrace(std::string& line) const override;

    // Plays `name` on `slot`, cross-fading from what plays now. Without `force`, a clip that
    // is already playing keeps running. Throws std::runtime_error "Required presentation
    // clip is missing: <name>" when the slot's model has no such clip.
    void playClip(u32 slot, std::string_view name, bool loop, bool force);
    void playClip(u32 slot, ClipUse use, bool force) { playClip(slot, clipName(slot, use), clipLoops(use), force); }
    // Appends unless kMaxQueuedIntents are waiting.
    void queueIntent(const PlayerIntent& intent);
    void addRemoteSample(u32 slot, u64 tick, Vec3 position);
    void interpolateRemote(u32 slot, f64 stepSeconds);

    // ---- State, for the trace and for tests (which also arrange states through slot()) ----
    CharacterSlot& slot(u32 index) { return slots_[index]; }
    const CharacterSlot& slot(u32 index) const { return slots_[index]; }
    u32 controlledSlot() const noexcept { return controlledSlot_; }
    u32 opponentSlot() const noexcept { return opponentSlot_; }
    bool authoritative() const noexcept { return authoritative_; }
    u64 lastSnapshotTick() const noexcept { return lastSnapshotTick_; }
    u16 tickRate() const noexcept { return tickRate_; }
    const Beam& beam() const noexcept { return beam_; }
    Beam& beam() noexcept { return beam_; }
    const render::Camera& camera() const noexcept { return camera_; }
    f64 presentationSeconds() const noexcept { return presentationSeconds_; }
    f64 simulatedSeconds() const noexcept { return clockSeconds_; }
    f64 serverBusySecondsLeft() const noexcept { return serverBusySecondsLeft_; }
    f64 roundRestartSecondsLeft() const noexcept { return roundRestartSecondsLeft_; }
    std::span<const PlayerIntent> queuedIntents() const noexcept { return intents_; }
    const effects::EffectSystem& effectSystem() const noexcept { return effects_; }
    effects::EffectSystem& effectSystem() noexcept { return effects_; }
    // Null when the content had no such file; keys are paths below "effects".
    const EffectModel* effectModel(std::string_view key) const noexcept;
    const render::TextureHandle* effectTexture(std::string_view key) const noexcept;

private:
    // ---- Load ----
    void loadCharacter(u32 slotIndex, const std::filesystem::path& directory, render::RenderDevice& renderer);
    void loadEffectContent(render::RenderDevice& renderer);
    void placeFighters();

    // ---- Presentation ----
    void moveControlled(f64 stepSeconds, const InputState& input);
    void advanceSlot(u32 slotIndex, f64 stepSeconds);
    void startAction(u32 slotIndex, u8 action, ClipUse clip);
    void startBasicAttack(u32 slotIndex);
    bool startSkill(u32 slotIndex, u8 action);
    void useSkill(u8 action);
    void startServerAction(u32 slotIndex, u16 skill, i32 value);
    bool smokeSkillReady() const noexcept;
    void haltServerMotion();
    void holdWhileServerBusy(f64 serverActionSeconds);
    void forgetMove() noexcept;
    void noteCorrection(u64& counter, f32 squaredMetres);
    void rememberPrediction(CharacterSlot& slot) noexcept;
    void reconcileLocal(CharacterSlot& slot, u64 tick, Vec3 server);
    void correctLocal(CharacterSlot& slot, Vec3 shift);
    void removeMotion(CharacterSlot& slot, f64 afterSeconds, u32 moveId);
    void stopWhereServerStopped(CharacterSlot& slot, u64 tick, u16 lockTicks);
    // The command sent `age` commands before the newest (0), for age below commandCount_.
    IssuedCommand& rememberedCommand(u32 age) noexcept {
        return commands_[(commandNext_ + kRememberedCommands - 1 - age) % kRememberedCommands];
    }
    const IssuedCommand& rememberedCommand(u32 age) const noexcept {
        return commands_[(commandNext_ + kRememberedCommands - 1 - age) % kRememberedCommands];
    }
    f64 timelineSeconds(f64 tick) const noexcept;
    bool predictionSecondsFor(u64 tick, f64& seconds) const noexcept;
    void lockLocal(CharacterSlot& slot, u64 tick, u16 lockTicks);
    Vec3 predictedAt(const CharacterSlot& slot, f64 seconds) const noexcept;
    void placeRemote(CharacterSlot& slot) noexcept;
    void animateRemote(u32 slotIndex, f64 stepSeconds);
    void resolveOfflineHit(u32 attackerIndex);
    void restartRound();
    void followHealth(u32 slotIndex);
    bool heldDown(u32 slotIndex);
    f64 hitTimeSeconds(const CharacterSlot& slot) const noexcept;
    u64 spawnEffect(u64 eventId, u8 kind, u32 skill, u32 sourceIndex, u32 targetIndex);

    // ---- Drawing ----
    Vec3 drawnPosition(u32 slotIndex, f32 alpha);
    void evaluateDrawPose(CharacterSlot& slot, f32 alpha);
    void drawCharacter(render::RenderDevice& renderer, u32 slotIndex, f32 alpha);
    void drawEffects(render::RenderDevice& renderer);
    void blendFade(CharacterSlot& slot, f64 clipTimeSeconds, f64 fadeTimeSeconds, std::span<content::Transform> out);

    std::filesystem::path contentRoot_;
    std::filesystem::path effectsDirectory_;
    std::array<CharacterSlot, 2> slots_;
    u32 controlledSlot_ = 0;
    u32 opponentSlot_ = 1;
    bool smokeTest_ = false;
    bool networked_ = false;
    std::map<std::string, EffectModel, std::less<>> effectModels_;
    std::map<std::string, render::TextureHandle, std::less<>> effectTextures_;
    effects::EffectSystem effects_;
    std::vector<PlayerIntent> intents_;
    // When each queued intent was issued (the simulated time of the step that queued it),
    // and the same for the intents last taken, until the duel tick says what each was sent as.
    std::array<f64, kMaxQueuedIntents> queuedIssueSeconds_{};
    std::array<u32, kMaxQueuedIntents> queuedMoveIds_{};
    std::array<f64, kMaxQueuedIntents> takenIssueSeconds_{};
    std::array<u32, kMaxQueuedIntents> takenKinds_{};
    std::array<u32, kMaxQueuedIntents> takenMoveIds_{};
    u32 takenCount_ = 0;
    u32 takenNext_ = 0;
    u64 nextLocalEventId_ = 1;
    f64 presentationSeconds_ = 0.0;
    f64 lastFrameSeconds_ = 0.0;
    f64 stepSeconds_ = 1.0 / 60.0;  // the last fixed step's length
    Beam beam_;
    render::Camera camera_;

    // Server state.
    f64 clockSeconds_ = 0.0;  // simulated time: the sum of the fixed steps
    std::array<IssuedCommand, kRememberedCommands> commands_{};  // a ring, newest at commandNext_ - 1
    u32 commandNext_ = 0;
    u32 commandCount_ = 0;
    u64 lastSnapshotTick_ = 0;
    u16 tickRate_ = kDefaultTickRate;
    u32 localEntityId_ = 1;
    bool snapshotSeen_ = false;
    bool authoritative_ = false;

    // The local fighter's last move command and whether the server took it.
    f64 moveResendSecondsLeft_ = 0.0;
    bool lastMoveRejected_ = false;
    bool moveSent_ = false;
    bool moving_ = false;
    i16 lastMoveX_ = 0;
    i16 lastMoveZ_ = 0;
    u32 movesIssued_ = 0;
    u32 currentMoveId_ = 0;  // the move the fighter runs on (0: none), carried by each step
    StickMemory stickMemory_;  // the stick's last direction sector and walk or run
    // Online, after a local action the server runs: how long its fighter stays busy, and
    // when that action's command was issued (a refusal of it ends the wait).
    f64 serverBusySecondsLeft_ = 0.0;
    f64 serverBusyIssueSeconds_ = -1.0;

    bool smokeSkillStarted_ = false;
    f64 roundRestartSecondsLeft_ = 0.0;  // offline: counts down once a fighter is down
    SceneStatistics statistics_;
    NetworkFigures figures_;
};

}  // namespace kestrune::scene
