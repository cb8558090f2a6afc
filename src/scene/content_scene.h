#pragma once
// ContentScene: the duel as the player sees it. Two fighters (slot 0 the warrior, slot 1 the
// templar) drawn from the scene's content, the effect system, the camera and the beam. The
// local fighter is predicted at once: its keys become actions, moves and commands after the
// server view (server_view.h) says the server will take them, and its predicted path
// (predicted_path.h) is reconciled with the server's snapshots. The opponent follows the
// server through its remote playback (remote_playback.h). Offline the scene resolves its hits
// itself and restarts rounds as the server would.
//
// Main thread only. load() throws on the first failure (ContentError for files, the clip error
// of playClip, renderer errors); a scene whose load threw is discarded. After start, the
// per-frame operations allocate nothing. The source is split by concern: content_scene.cpp
// (start, clips, intents, trace), character_presentation.cpp (input, fixed steps, actions,
// offline hits), server_events.cpp (snapshots, results, combat events) and scene_drawing.cpp.

#include <array>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "effects/effect_system.h"
#include "net/rule_book.h"
#include "render/render_types.h"
#include "scene/character_slot.h"
#include "scene/clip_table.h"
#include "scene/frame_scene.h"
#include "scene/move_input.h"
#include "scene/predicted_path.h"
#include "scene/remote_playback.h"
#include "scene/scene_content.h"
#include "scene/scene_math.h"
#include "scene/server_view.h"

namespace kestrune::scene {

inline constexpr u64 kMaxEffectComponents = 4096;
inline constexpr u64 kMaxRememberedEffectEvents = 8192;

struct SceneLaunch {
    u32 controlledSlot = 0;  // 0 warrior, 1 templar
    bool smokeTest = false;  // starts the local skill once, for automated runs
    bool networked = false;  // a server session will drive the scene
};

inline constexpr f64 kBeamSeconds = 0.75;

struct Beam {
    bool active = false;
    f64 elapsedSeconds = 0.0;
    Vec3 start;
    Vec3 end;
    render::TextureHandle texture = render::kNoTexture;
};

class ContentScene final : public FrameScene {
public:
    ContentScene();
    ContentScene(const ContentScene&) = delete;
    ContentScene& operator=(const ContentScene&) = delete;

    // Loads the content of `root` (loadSceneContent) and starts the scene on it.
    void load(const std::filesystem::path& root, const SceneLaunch& launch, render::RenderDevice& renderer);
    // Starts the scene on content already loaded: fighters at their starts, idle.
    void start(std::shared_ptr<const SceneContent> content, const SceneLaunch& launch);

    // ---- Frame ----
    void fixedUpdate(f64 stepSeconds, const InputState& input) override;
    void handleInput(const InputState& input) override;
    void update(f64 deltaSeconds) override;
    void dropTime(f64 seconds) override;
    void draw(render::RenderDevice& renderer, f64 alpha) override;
    // Where the fighters are drawn at `alpha` (the first part of draw, which tests run alone).
    void present(f64 alpha);

    // ---- Duel ----
    void applySnapshot(const net::DuelSnapshot& snapshot, u32 localEntityId, u32 lastSentCommandSequence,
                       u16 tickRate) override;
    void applyCombatEvents(std::span<const net::CombatEvent> events) override;
    void resolveMove(bool accepted) override;
    void applyCommandResult(const net::CommandResult& result) override;
    void takeIntents(std::vector<PlayerIntent>& out) override;
    void commandSent(u32 commandSequence) override;

    // ---- Senses ----
    std::span<const SceneCue> cues() const override { return cues_.list(); }
    void clearCues() override { cues_.clear(); }
    const render::Camera& camera() const override { return camera_; }
    FighterView fighterView(u32 slotIndex) const override;

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

    // ---- State, for the trace and for tests (which also arrange states through slot()) ----
    CharacterSlot& slot(u32 index) { return slots_[index]; }
    const CharacterSlot& slot(u32 index) const { return slots_[index]; }
    // The lock a fighter is shown in: the local fighter's online is the server view's.
    bool locked(u32 slotIndex) const noexcept;
    u32 controlledSlot() const noexcept { return controlledSlot_; }
    u32 opponentSlot() const noexcept { return opponentSlot_; }
    bool authoritative() const noexcept { return authoritative_; }
    u64 lastSnapshotTick() const noexcept { return lastSnapshotTick_; }
    u16 tickRate() const noexcept { return server_.tickRate(); }
    const ServerView& serverView() const noexcept { return server_; }
    const RemotePlayback& remotePlayback() const noexcept { return remote_; }
    const Beam& beam() const noexcept { return beam_; }
    Beam& beam() noexcept { return beam_; }
    f64 presentationSeconds() const noexcept { return presentationSeconds_; }
    f64 simulatedSeconds() const noexcept { return clockSeconds_; }
    f64 roundRestartSecondsLeft() const noexcept { return roundRestartSecondsLeft_; }
    std::span<const PlayerIntent> queuedIntents() const noexcept { return intents_; }
    const effects::EffectSystem& effectSystem() const noexcept { return effects_; }
    effects::EffectSystem& effectSystem() noexcept { return effects_; }
    const EffectModel* effectModel(std::string_view key) const noexcept { return content_->effectModel(key); }
    const render::TextureHandle* effectTexture(std::string_view key) const noexcept {
        return content_->effectTexture(key);
    }

private:
    // ---- Presentation (character_presentation.cpp) ----
    void placeFighters();
    void moveControlled(f64 stepSeconds, const InputState& input);
    const Vec3* opponentBody(Vec3& storage) const noexcept;
    void advanceSlot(u32 slotIndex, f64 stepSeconds);
    void startAction(u32 slotIndex, u8 action, ClipUse clip);
    void startServerRunAction(u32 slotIndex, u8 action, ClipUse clip);
    void playOverServerWindow(u32 slotIndex, u16 skill);
    void pressAction(u8 action);
    void pressLocalAction(u8 action, ClipUse clip);
    void spawnActionStart(u32 slotIndex, u8 action);
    bool smokeSkillReady() const noexcept;
    void haltServerMotion();
    void queueMove(const WantedMove& wanted);
    void endAction(u32 slotIndex);
    void resolveOfflineHit(u32 attackerIndex);
    void restartRound();
    void followHealth(u32 slotIndex);
    bool heldDown(u32 slotIndex);
    f64 hitTimeSeconds(const CharacterSlot& slot) const noexcept;
    u64 spawnEffect(u64 eventId, u8 kind, u32 skill, u32 sourceIndex, u32 targetIndex);
    void raiseCue(CueKind kind, u32 slotIndex, u8 action = 0, u8 detail = 0);
    void raiseFootsteps(u32 slotIndex, f64 clipTimeBefore);

    // ---- Server (server_events.cpp) ----
    bool detectNewRound(const net::DuelSnapshot& snapshot) const noexcept;
    void startNewRound(u64 tick);
    void noteCorrection(u64& counter, f32 squaredMetres);
    void reconcileLocal(CharacterSlot& slot, u64 tick, Vec3 server);
    void correctLocal(CharacterSlot& slot, Vec3 shift);
    void removeMotion(CharacterSlot& slot, f64 afterSeconds, u32 moveId);
    void placeLocal(CharacterSlot& slot, Vec3 server);
    void animateRemote(u32 slotIndex, f64 stepSeconds);
    void startServerAction(u32 slotIndex, u16 skill, i32 value);
    bool showServerAction(u32 slotIndex, u16 skill, i32 value, f64 elapsedTicks);

    // ---- Drawing (scene_drawing.cpp) ----
    Vec3 drawnPosition(u32 slotIndex, f32 alpha) const noexcept;
    void evaluateDrawPose(CharacterSlot& slot, f32 alpha);
    void drawCharacter(render::RenderDevice& renderer, u32 slotIndex);  // where present() placed it
    void drawEffects(render::RenderDevice& renderer);
    void blendFade(CharacterSlot& slot, f64 clipTimeSeconds, f64 fadeTimeSeconds, std::span<content::Transform> out);

    std::shared_ptr<const SceneContent> content_;
    std::array<CharacterSlot, 2> slots_;
    u32 controlledSlot_ = 0;
    u32 opponentSlot_ = 1;
    bool smokeTest_ = false;
    bool networked_ = false;
    effects::EffectSystem effects_;
    std::vector<PlayerIntent> intents_;
    u64 nextLocalEventId_ = 1;
    f64 presentationSeconds_ = 0.0;
    f64 lastFrameSeconds_ = 0.0;
    f64 stepSeconds_ = 1.0 / 60.0;  // the last fixed step's length
    f32 alpha_ = 1.0f;              // the last drawn frame's interpolation factor
    Beam beam_;
    render::Camera camera_;

    // The local fighter: its moves, and what the server does with it.
    f64 clockSeconds_ = 0.0;  // the fixed steps and the dropped time: the timeline of server_
    ServerView server_;
    PredictedPath path_;
    bool moving_ = false;      // the prediction moved the fighter in its last step
    Vec3 stride_;              // the motion it meant to make in it
    Vec3 opponent_;            // where the opponent's body stood in its way
    u32 movesIssued_ = 0;
    u32 currentMoveId_ = 0;    // the move the fighter runs on (0: none), carried by each step
    StickMemory stickMemory_;  // the stick's last direction sector and walk or run
    bool smokeSkillStarted_ = false;

    // The server's word.
    RemotePlayback remote_;  // the opponent
    RemoteAction shownRemoteAction_;  // the run of an action the opponent is drawn in (or was last)
    u64 lastSnapshotTick_ = 0;
    u32 localEntityId_ = 1;
    bool snapshotSeen_ = false;
    bool authoritative_ = false;
    Vec3 localServerPosition_;  // the local fighter where the newest snapshot has it

    f64 roundRestartSecondsLeft_ = 0.0;  // offline: counts down once a fighter is down
    SceneCues cues_;
    SceneStatistics statistics_;
    NetworkFigures figures_;
};

}  // namespace kestrune::scene
