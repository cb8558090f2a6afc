#pragma once
// One fighter of the duel scene: its model and renderer handle, the animation player with
// its cross-fade, the pose buffers (sized once at load), the simulated position and yaw
// of this and the previous fixed step, the server's view of it, and the remote samples
// it is interpolated through when another player drives it. Plain data; the content scene
// owns two of them and every rule that changes them.

#include <array>
#include <string_view>
#include <vector>

#include "base/types.h"
#include "content/model.h"
#include "render/render_types.h"
#include "scene/scene_math.h"

namespace kestrune::scene {

// Actions of a fighter; 0 is free.
inline constexpr u8 kActionNone = 0;
inline constexpr u8 kActionBasicAttack = 1;
inline constexpr u8 kActionSkill1 = 2;
inline constexpr u8 kActionSkill2 = 3;
inline constexpr u8 kActionHeavyAttack = 4;
inline constexpr u8 kActionJump = 5;

inline constexpr u32 kComboSteps = 4;
inline constexpr u32 kMaxRemoteSamples = 8;
// Positions the local fighter was predicted at, one per fixed step: about two seconds.
inline constexpr u32 kPredictionHistorySteps = 128;

struct AnimationPlayer {
    const content::AnimationClip* clip = nullptr;  // null before the first clip plays
    f64 timeSeconds = 0.0;
    bool loop = false;
    // The clip being faded out, with its time when the fade began; or, when a fade was cut
    // short by another clip, the pose the first fade had reached (`frozenLocals`).
    const content::AnimationClip* previousClip = nullptr;
    f64 previousTimeSeconds = 0.0;
    bool previousLoop = false;
    bool previousFrozen = false;
    bool fading = false;
    f64 fadeSeconds = 0.0;
    f64 fadeElapsedSeconds = 0.0;

    std::string_view clipName() const noexcept { return clip == nullptr ? std::string_view() : clip->name; }
};

// Where the prediction had the local fighter at the end of a fixed step.
struct PredictedPoint {
    f64 seconds = 0.0;  // simulated time at the end of the step
    Vec3 position;
    u32 moveId = 0;     // the move command the step ran on, 0 for none
};

struct RemoteSample {
    u64 tick = 0;
    Vec3 position;
};

struct CharacterSlot {
    content::Model model;
    render::ModelHandle modelHandle{render::kNoHandle};
    AnimationPlayer animation;

    // Pose buffers, one entry per node: the current clip's locals, the faded-out clip's
    // locals, the frozen start of a cut-short fade, and the drawn globals.
    std::vector<content::Transform> locals;
    std::vector<content::Transform> previousLocals;
    std::vector<content::Transform> frozenLocals;
    std::vector<content::Matrix4> globals;

    Vec3 position;
    Vec3 previousPosition;
    f32 yawRadians = 0.0f;
    f32 previousYawRadians = 0.0f;
    f32 drawYawOffsetRadians = 0.0f;  // the model's own facing
    f32 drawLiftMetres = 0.0f;        // raises the model's feet to the ground

    u32 entityId = 0;
    i32 health = 0;
    i32 maxHealth = 0;
    bool snapshotSeen = false;
    bool locked = false;
    f64 lockedSecondsLeft = 0.0;
    // Where the fighter is drawn relative to where it is: a correction being smoothed out.
    Vec3 correctionOffset;
    Vec3 previousCorrectionOffset;

    u8 action = kActionNone;
    bool hitResolved = false;
    u32 comboCounter = 0;  // the next basic attack's step, 0 to 3
    // Knocked out (health 0) until the round restarts: no moves, no actions, the knock-down
    // clip held at its end, or the idle in a model without that clip.
    bool down = false;
    bool hasKnockDownClip = false;

    // The local fighter's own recent path, newest at predictedNext - 1 (a ring).
    std::array<PredictedPoint, kPredictionHistorySteps> predictedPath{};
    u32 predictedCount = 0;
    u32 predictedNext = 0;
    // The step `age` steps before the newest (0), for age below predictedCount.
    PredictedPoint& pathPoint(u32 age) noexcept {
        return predictedPath[(predictedNext + kPredictionHistorySteps - 1 - age) % kPredictionHistorySteps];
    }
    const PredictedPoint& pathPoint(u32 age) const noexcept {
        return predictedPath[(predictedNext + kPredictionHistorySteps - 1 - age) % kPredictionHistorySteps];
    }

    // The server's last word on this fighter.
    u32 lastCommandSequence = 0;
    u64 lastSnapshotTick = 0;
    Vec3 serverPosition;
    bool serverStopped = false;  // locked or down in the last snapshot

    // Samples of a fighter the server moves for someone else, oldest first.
    std::array<RemoteSample, kMaxRemoteSamples> remoteSamples{};
    u32 remoteSampleCount = 0;
    f64 playbackTick = 0.0;
    bool remoteStarted = false;
    // The clip its motion plays (idle, walk or run) and how long it has stood still.
    u8 remoteMotion = 0;
    f64 remoteStillSeconds = 0.0;

    // Where the last frame drew the fighter.
    Vec3 lastDrawnPosition;
    f32 lastDrawnYawRadians = 0.0f;
    bool lastDrawnValid = false;
};

}  // namespace kestrune::scene
