#pragma once
// One fighter as the screen shows it: its model (owned by the scene's content) and renderer
// handle, the animation player with its cross-fade, the pose buffers (sized once at load), the
// position and yaw of this and the previous fixed step, its health, lock, action and combo,
// and where the last frame drew it. Plain data; the content scene owns two of them and every
// rule that changes them. What the server does with the local fighter is the ServerView's.

#include <string_view>
#include <vector>

#include "base/types.h"
#include "content/model.h"
#include "net/protocol.h"
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

// The skill a server-run action of the fighter in `slot` sends, and the action a skill shows.
constexpr u16 skillOfAction(u8 action, u32 slot) noexcept {
    switch (action) {
        case kActionSkill1: return slot == 0 ? net::kSkillWarrior1 : net::kSkillTemplar1;
        case kActionSkill2: return slot == 0 ? net::kSkillWarrior2 : net::kSkillTemplar2;
        default: return net::kSkillBasicAttack;
    }
}
constexpr u8 actionOfSkill(u16 skill) noexcept {
    switch (skill) {
        case net::kSkillBasicAttack: return kActionBasicAttack;
        case net::kSkillWarrior1: case net::kSkillTemplar1: return kActionSkill1;
        case net::kSkillWarrior2: case net::kSkillTemplar2: return kActionSkill2;
        default: return kActionNone;
    }
}

struct AnimationPlayer {
    const content::AnimationClip* clip = nullptr;  // null before the first clip plays
    f64 timeSeconds = 0.0;
    bool loop = false;
    // Clip seconds per second: an action the server runs plays over the server's window.
    f64 rate = 1.0;
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

struct CharacterSlot {
    const content::Model* model = nullptr;  // the scene's content; set at load
    render::ModelHandle modelHandle{render::kNoHandle};
    bool hasKnockDownClip = false;
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
    // The lock shown, counting down by the fixed steps (the local fighter's online lock is the
    // server view's instead).
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

    // Where the last frame drew the fighter.
    Vec3 lastDrawnPosition;
    f32 lastDrawnYawRadians = 0.0f;
    bool lastDrawnValid = false;
};

}  // namespace kestrune::scene
