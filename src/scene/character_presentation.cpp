// The fighters between server snapshots: keys to actions and commands (after the server view
// has said the server takes them), the fixed step's prediction of the local fighter, clip and
// action timing, and the hits and rounds the scene runs itself while offline.

#include <algorithm>
#include <cmath>

#include "net/rule_book.h"
#include "scene/content_scene.h"

namespace kestrune::scene {
namespace {

constexpr u32 kKeyBasicAttack = virtualKeyOf('1');
constexpr u32 kKeySkill1 = virtualKeyOf('2');
constexpr u32 kKeySkill2 = virtualKeyOf('3');
constexpr u32 kKeyHeavyAttack = virtualKeyOf('4');

// ---- Movement ----
constexpr f64 kCorrectionDecayPerSecond = 14.0;
constexpr f32 kCorrectionClearSquaredMetres = 1e-8f;
constexpr f64 kMaxVariableStepSeconds = 0.1;
// Through dropped time a running fighter runs on for at most this long; further on, the
// snapshots correct it.
constexpr f64 kMaxRunOnSeconds = 2.0;
// Timers count down in steps of 1/60 s, whose sums miss round times by a rounding.
constexpr f64 kTimerEpsilonSeconds = 1e-9;

// ---- Offline duel: the scene is its own server ----
constexpr i32 kOfflineHealth = net::kMaxHealth;
constexpr f64 kRoundRestartSeconds = net::kRoundRestartMs / 1000.0;
constexpr f64 kSkill1LockSeconds = net::kSkill1LockMs / 1000.0;
constexpr f64 kClipHitFraction = 0.48;  // of the clip, for the attacks and the jump
constexpr i32 kHeavyAttackDamage = 180;  // the heavy attack and the jump never reach a server
constexpr std::array<u32, 2> kOfflineEntityIds{1, 2};

struct FighterStart {
    Vec3 position;
    f32 yawRadians;
    f32 drawYawOffsetRadians;
    f32 drawLiftMetres;
};
// The warrior's model faces -z and the templar's +z; both stand 0.37 m and 0.155 m low.
constexpr std::array<FighterStart, 2> kFighterStarts{{
    {{-1.25f, 0.0f, -0.85f}, 0.0f, kPi, 0.37f},
    {{1.25f, 0.0f, 1.35f}, kPi, 0.0f, 0.155f},
}};

// ---- Effects of the skills ----
constexpr u32 kSkill1Effect = 1001;  // both classes show the warrior's skill effects
constexpr u32 kSkill2Effect = 1002;
constexpr f32 kBeamCasterLiftMetres = 1.15f;
constexpr f32 kBeamTargetLiftMetres = 1.0f;
constexpr std::string_view kBeamTexture = "textures/wrslugger02.png";

constexpr f32 predictedSpeedMetresPerSecond(u32 slotIndex, i32 speedFactor) noexcept {
    return static_cast<f32>(net::speedMmPerSecond(slotIndex == 0 ? net::kWarrior : net::kTemplar, speedFactor)) /
           1000.0f;
}

struct HitRule {
    f32 reachMetres;
    i32 damage;
};

constexpr HitRule hitRule(u8 action) noexcept {
    const auto of = [](const net::ActionRule& rule, i32 damage) {
        return HitRule{static_cast<f32>(rule.reachMm) / 1000.0f, damage};
    };
    switch (action) {
        case kActionSkill1: return of(net::kSkill1Rule, net::kSkill1Rule.damage);
        case kActionSkill2: return of(net::kSkill2Rule, net::kSkill2Rule.damage);
        case kActionHeavyAttack: return of(net::kBasicAttackRule, kHeavyAttackDamage);
        default: return of(net::kBasicAttackRule, net::kBasicAttackRule.damage);  // basic attack and jump
    }
}

bool sameMove(ServerMove move, const WantedMove& wanted) noexcept {
    return move.active && move.x == wanted.moveX && move.z == wanted.moveZ;
}

}  // namespace

void ContentScene::placeFighters() {
    for (u32 index = 0; index < 2; ++index) {
        CharacterSlot& slot = slots_[index];
        slot.position = slot.previousPosition = kFighterStarts[index].position;
        slot.yawRadians = slot.previousYawRadians = kFighterStarts[index].yawRadians;
        slot.drawYawOffsetRadians = kFighterStarts[index].drawYawOffsetRadians;
        slot.drawLiftMetres = kFighterStarts[index].drawLiftMetres;
        // Offline nobody names the fighters or counts their health: the scene does, as the
        // duel server would, so that local effects have a source and hits have an end.
        if (!networked_) {
            slot.entityId = kOfflineEntityIds[index];
            slot.health = slot.maxHealth = kOfflineHealth;
        }
    }
}

bool ContentScene::locked(u32 slotIndex) const noexcept {
    return networked_ && slotIndex == controlledSlot_ ? server_.lockedAt(clockSeconds_) : slots_[slotIndex].locked;
}

// ---- Section: Input ----

void ContentScene::handleInput(const InputState& input) {
    const auto pressed = [&input](u32 key) { return input.pressed[key]; };
    if (pressed(kVirtualKeyTab)) {
        opponentSlot_ = 1 - controlledSlot_;
    }
    if (heldDown(controlledSlot_)) {
        return;  // nothing to predict and nothing to ask the server for
    }
    if (pressed(kKeyBasicAttack)) pressAction(kActionBasicAttack);
    if (pressed(kKeySkill1)) pressAction(kActionSkill1);
    if (pressed(kKeySkill2)) pressAction(kActionSkill2);
    if (pressed(kKeyHeavyAttack)) pressLocalAction(kActionHeavyAttack, ClipUse::heavyAttack);
    if (pressed(kVirtualKeySpace)) pressLocalAction(kActionJump, ClipUse::jump);
}

// An action the server runs is shown and sent only when both the screen and the server take
// it (a skill waits for the running action; a basic attack cuts any short): the screen never
// shows a swing the server does not make, and the server makes none the screen does not show.
void ContentScene::pressAction(u8 action) {
    CharacterSlot& self = slots_[controlledSlot_];
    const u16 skill = skillOfAction(action, controlledSlot_);
    if (locked(controlledSlot_) || (action != kActionBasicAttack && self.action != kActionNone) ||
        !server_.takesAction(skill, clockSeconds_) || (networked_ && slots_[opponentSlot_].down)) {
        return;
    }
    haltServerMotion();
    const u32 target = slots_[opponentSlot_].entityId;
    if (action == kActionBasicAttack) {
        const u32 step = self.comboCounter;
        self.comboCounter = (step + 1) % kComboSteps;
        startServerRunAction(controlledSlot_, action, basicAttackClip(step));
        queueIntent({kIntentBasicAttack, 0, 0, target, skill});
        return;
    }
    startServerRunAction(controlledSlot_, action, action == kActionSkill1 ? ClipUse::skill1 : ClipUse::skill2);
    spawnActionStart(controlledSlot_, action);
    queueIntent({kIntentUseSkill, 0, 0, target, skill});
}

// The heavy attack and the jump are the screen's alone; the server's fighter stands meanwhile.
void ContentScene::pressLocalAction(u8 action, ClipUse clip) {
    if (locked(controlledSlot_) || slots_[controlledSlot_].action != kActionNone) {
        return;
    }
    haltServerMotion();
    startAction(controlledSlot_, action, clip);
}

// Before an action: the server's fighter must not run on where the screen shows it standing.
// An action the server takes drops the move too, but one it refuses would not.
void ContentScene::haltServerMotion() {
    currentMoveId_ = 0;
    if (server_.move().active) {
        queueIntent({kIntentStop, 0, 0, 0, 0});
    }
    moving_ = false;
}

void ContentScene::queueMove(const WantedMove& wanted) {
    currentMoveId_ = ++movesIssued_;
    queueIntent({kIntentMove, wanted.moveX, wanted.moveZ, 0, 0});
}

void ContentScene::startAction(u32 slotIndex, u8 action, ClipUse clip) {
    CharacterSlot& slot = slots_[slotIndex];
    slot.action = action;
    slot.hitResolved = false;
    playClip(slotIndex, clip, true);
    const u32 step = static_cast<u32>(clip) - static_cast<u32>(ClipUse::attack1);
    raiseCue(CueKind::actionStarted, slotIndex, action, action == kActionBasicAttack ? static_cast<u8>(step) : 0);
}

void ContentScene::startServerRunAction(u32 slotIndex, u8 action, ClipUse clip) {
    startAction(slotIndex, action, clip);
    playOverServerWindow(slotIndex, skillOfAction(action, slotIndex));
}

// Online, an action the server runs plays its clip over the server's window for it, so that
// the fighter is free on the screen when it is free on the server.
void ContentScene::playOverServerWindow(u32 slotIndex, u16 skill) {
    if (!networked_) {
        return;
    }
    AnimationPlayer& player = slots_[slotIndex].animation;
    const u16 rate = server_.tickRate();
    const f64 windowSeconds = static_cast<f64>(net::ticksFromMs(net::actionRule(skill).durationMs, rate)) / rate;
    player.rate = static_cast<f64>(player.clip->duration) / windowSeconds;
}

void ContentScene::endAction(u32 slotIndex) {
    CharacterSlot& slot = slots_[slotIndex];
    if (slot.action == kActionSkill2 && slotIndex == controlledSlot_) {
        beam_.active = false;
    }
    slot.action = kActionNone;
    playClip(slotIndex, ClipUse::idle, true);
}

void ContentScene::spawnActionStart(u32 slotIndex, u8 action) {
    const CharacterSlot& slot = slots_[slotIndex];
    const u32 targetIndex = 1 - slotIndex;
    spawnEffect(nextLocalEventId_++, 1, action == kActionSkill1 ? kSkill1Effect : kSkill2Effect, slotIndex,
                targetIndex);
    if (action == kActionSkill2) {
        const render::TextureHandle* texture = effectTexture(kBeamTexture);
        beam_.active = true;
        beam_.elapsedSeconds = 0.0;
        beam_.start = slot.position + Vec3{0.0f, kBeamCasterLiftMetres, 0.0f};
        beam_.end = slots_[targetIndex].position + Vec3{0.0f, kBeamTargetLiftMetres, 0.0f};
        beam_.texture = texture != nullptr ? *texture : render::kNoTexture;
    }
}

u64 ContentScene::spawnEffect(u64 eventId, u8 kind, u32 skill, u32 sourceIndex, u32 targetIndex) {
    const CharacterSlot& source = slots_[sourceIndex];
    const CharacterSlot& target = slots_[targetIndex];
    effects::EffectSpawnRequest request;
    request.eventId = eventId;
    request.kind = kind;
    request.skill = skill;
    request.sourceEntityId = source.entityId;
    request.targetEntityId = target.entityId;
    request.source = effects::yawTransform(toEffects(source.position), source.yawRadians);
    request.target = effects::yawTransform(toEffects(target.position), target.yawRadians);
    const effects::EffectSpawnResult result = effects_.spawn(request);
    if (result.status != effects::EffectSpawnStatus::Spawned) {
        return 0;
    }
    statistics_.effectsSpawned += result.componentsCreated;
    return result.componentsCreated;
}

// ---- Section: Cues ----

void ContentScene::raiseCue(CueKind kind, u32 slotIndex, u8 action, u8 detail) {
    const bool fighter = slotIndex < slots_.size();
    cues_.raise({kind, fighter ? static_cast<u8>(slotIndex) : kNoCueSlot, action, detail,
                 fighter ? slots_[slotIndex].position : Vec3{}});
}

// A walk or run clip puts a foot down twice a cycle, at its start and half way: one cue for
// each such moment the clip passed since `clipTimeBefore` (at most zero when it has just begun).
void ContentScene::raiseFootsteps(u32 slotIndex, f64 clipTimeBefore) {
    const AnimationPlayer& player = slots_[slotIndex].animation;
    const std::string_view name = player.clipName();
    const bool walking = name == clipName(slotIndex, ClipUse::walk);
    if ((!walking && name != clipName(slotIndex, ClipUse::run)) || player.clip->duration <= 0.0f) {
        return;
    }
    const f64 half = 0.5 * player.clip->duration;
    const f64 before = clipTimeBefore <= 0.0 ? -1.0 : std::floor(clipTimeBefore / half);
    const f64 now = std::floor(player.timeSeconds / half);
    for (f64 step = before; step < now && step < before + 2.0; step += 1.0) {
        raiseCue(CueKind::footstep, slotIndex, kActionNone, walking ? 0 : 1);
    }
}

// ---- Section: Fixed step ----

// The server played the dropped time on: the clock (the server view's timeline) moves past it,
// clips and actions ran on, commands queued this frame leave after it, and the fighter ran on
// with the move the server had, step by step, where the server view says the server moved it
// (not in a lock, an action or down) and as far as the opponent's body and the arena's edge let
// it; the path shows each step for the snapshots of those ticks to be compared with.
void ContentScene::dropTime(f64 seconds) {
    if (seconds <= 0.0) {
        return;
    }
    const f64 droppedFromSeconds = clockSeconds_;
    clockSeconds_ += seconds;
    if (!networked_) {
        return;  // offline nothing else went on meanwhile
    }
    server_.dropped(clockSeconds_);
    for (CharacterSlot& slot : slots_) {
        slot.animation.timeSeconds += seconds * slot.animation.rate;
        slot.animation.fadeElapsedSeconds += seconds;
    }
    CharacterSlot& self = slots_[controlledSlot_];
    const ServerMove move = server_.move(false);  // not one queued this frame: it leaves after the drop
    if (!move.active || self.down) {
        path_.record(clockSeconds_, self.position, currentMoveId_);  // it stood through the drop
        return;
    }
    const f64 lengthMm = std::hypot(static_cast<f64>(move.x), static_cast<f64>(move.z));
    const i32 factor = std::min(net::kRunSpeedFactor, static_cast<i32>(std::lround(lengthMm)));
    const f32 strideMetres = static_cast<f32>(stepSeconds_) * predictedSpeedMetresPerSecond(controlledSlot_, factor);
    const Vec3 stride{static_cast<f32>(move.x / lengthMm) * strideMetres, 0.0f,
                      static_cast<f32>(move.z / lengthMm) * strideMetres};
    // Whole steps, and what is left of the drop as a step of its own: the path's newest step
    // carries the run on for a snapshot ahead of the steps.
    const f64 runOnSeconds = std::min(seconds, kMaxRunOnSeconds);
    const u32 steps = static_cast<u32>(runOnSeconds / stepSeconds_ + 1e-6);
    const f64 restSeconds = runOnSeconds - steps * stepSeconds_;
    for (u32 i = 1; i <= steps + (restSeconds > 1e-9 ? 1 : 0); ++i) {
        const f64 fraction = i > steps ? restSeconds / stepSeconds_ : 1.0;
        const f64 stepEndSeconds = droppedFromSeconds + (i - 1 + fraction) * stepSeconds_;
        const bool moves = server_.movesAt(stepEndSeconds);
        const Vec3* opponent = opponentBody(opponent_);
        const Vec3 part = stride * static_cast<f32>(fraction);
        if (moves) {
            self.position = stepFrom(self.position, part, opponent);
        }
        path_.record(stepEndSeconds, self.position, currentMoveId_, moves ? part : Vec3{}, opponent);
    }
    self.previousPosition = self.position;
    if (seconds > runOnSeconds) {
        path_.record(clockSeconds_, self.position, currentMoveId_);  // it stood for the rest
    }
}

void ContentScene::fixedUpdate(f64 stepSeconds, const InputState& input) {
    stepSeconds_ = stepSeconds;
    for (CharacterSlot& slot : slots_) {
        slot.previousPosition = slot.position;
        slot.previousYawRadians = slot.yawRadians;
        slot.previousCorrectionOffset = slot.correctionOffset;
    }
    if (smokeTest_ && !smokeSkillStarted_ && smokeSkillReady()) {
        smokeSkillStarted_ = true;
        pressAction(kActionSkill1);
    }
    stride_ = {};
    moveControlled(stepSeconds, input);
    clockSeconds_ += stepSeconds;
    path_.record(clockSeconds_, slots_[controlledSlot_].position, currentMoveId_, stride_, opponentBody(opponent_));
    for (u32 index = 0; index < 2; ++index) {
        advanceSlot(index, stepSeconds);
    }
    if (!authoritative_ && roundRestartSecondsLeft_ > 0.0) {
        roundRestartSecondsLeft_ -= stepSeconds;
        if (roundRestartSecondsLeft_ <= 0.0) {
            restartRound();
        }
    }
}

// Offline at once. Online once the server has spoken and the skill can land: the duel server
// refuses a skill out of reach or while its fighter is busy or locked, and a smoke run exists
// to show one.
bool ContentScene::smokeSkillReady() const noexcept {
    if (!networked_) {
        return true;
    }
    const CharacterSlot& self = slots_[controlledSlot_];
    const CharacterSlot& opponent = slots_[opponentSlot_];
    const f32 reachMetres = hitRule(kActionSkill1).reachMetres;
    return authoritative_ && opponent.snapshotSeen && opponent.health > 0 && self.action == kActionNone &&
           server_.takesAction(skillOfAction(kActionSkill1, controlledSlot_), clockSeconds_) &&
           squaredDistance(self.position, opponent.position) <= reachMetres * reachMetres;
}

// The opponent's body that the local fighter's steps keep out of: online where the server last
// had it, offline where it stands; null online before any snapshot named it.
const Vec3* ContentScene::opponentBody(Vec3& storage) const noexcept {
    storage = slots_[opponentSlot_].position;
    return !networked_ || remote_.newest(storage) ? &storage : nullptr;
}

void ContentScene::moveControlled(f64 stepSeconds, const InputState& input) {
    CharacterSlot& self = slots_[controlledSlot_];
    const WantedMove wanted = wantedMove(input, stickMemory_);
    const bool wantsToMove = wanted.hasDirection && self.health >= 1;
    const f64 stepEndSeconds = clockSeconds_ + stepSeconds;
    moving_ = false;
    if (heldDown(controlledSlot_)) {
        return;  // lies still until the round restarts; the server has dropped its move
    }
    if (self.action != kActionNone) {
        // The stop went out when the action began (again, should the server have refused it:
        // too many commands at once after a frozen link); a held direction goes out after it.
        haltServerMotion();
        return;
    }
    if (networked_ ? server_.lockedAt(stepEndSeconds) : self.locked) {
        // Neither moves nor idles. The server keeps its move through the lock and takes a new
        // one (or a stop) for the lock's end: a key turned or let go goes out at once.
        if (!wantsToMove && server_.move().active) {
            haltServerMotion();
        } else if (wantsToMove && !sameMove(server_.move(), wanted) && !server_.resendWaits(stepEndSeconds)) {
            queueMove(wanted);
        }
        return;
    }
    if (wantsToMove && server_.movesAt(stepEndSeconds)) {
        if (!sameMove(server_.move(), wanted)) {
            if (server_.resendWaits(stepEndSeconds)) {
                return;  // the server refused the move and stands: so does the fighter, until it goes out again
            }
            queueMove(wanted);
        }
        const f32 distance = static_cast<f32>(stepSeconds) * predictedSpeedMetresPerSecond(controlledSlot_, wanted.speedFactor);
        stride_ = {wanted.directionX * distance, 0.0f, wanted.directionZ * distance};
        self.position = stepFrom(self.position, stride_, opponentBody(opponent_));
        self.yawRadians = std::atan2(wanted.directionX, wanted.directionZ);
        playClip(controlledSlot_, wanted.walking ? ClipUse::walk : ClipUse::run, false);
        moving_ = true;
        return;
    }
    playClip(controlledSlot_, ClipUse::idle, false);
    if (!wantsToMove) {
        haltServerMotion();
    }
}

void ContentScene::advanceSlot(u32 slotIndex, f64 stepSeconds) {
    CharacterSlot& slot = slots_[slotIndex];
    if (slotIndex == controlledSlot_) {
        slot.correctionOffset = slot.correctionOffset * static_cast<f32>(std::exp(-kCorrectionDecayPerSecond * stepSeconds));
        if (squaredLength(slot.correctionOffset) < kCorrectionClearSquaredMetres) {
            slot.correctionOffset = {};
        }
    } else {
        remote_.advance(stepSeconds, server_.tickRate(), slot.position, slot.yawRadians, figures_);
        animateRemote(slotIndex, stepSeconds);
    }
    if (slot.locked) {
        slot.lockedSecondsLeft -= stepSeconds;
        if (slot.lockedSecondsLeft <= kTimerEpsilonSeconds) {
            slot.locked = false;
            slot.lockedSecondsLeft = 0.0;
        }
    }
    const bool down = heldDown(slotIndex);
    AnimationPlayer& player = slot.animation;
    if (player.clip == nullptr) {
        return;
    }
    player.timeSeconds += stepSeconds * player.rate;
    if (player.fading) {
        player.fadeElapsedSeconds += stepSeconds;
        if (player.fadeElapsedSeconds >= player.fadeSeconds) {
            player.fading = false;
            player.previousFrozen = false;
        }
    }
    if (slot.action != kActionNone && !slot.hitResolved && player.timeSeconds >= hitTimeSeconds(slot)) {
        slot.hitResolved = true;
        raiseCue(CueKind::actionStruck, slotIndex, slot.action);
        if (!authoritative_) {
            resolveOfflineHit(slotIndex);
        }
    }
    if (player.loop && slot.action == kActionNone) {
        raiseFootsteps(slotIndex, player.timeSeconds - stepSeconds * player.rate);
    }
    if (!player.loop && player.timeSeconds + kTimerEpsilonSeconds >= player.clip->duration && !down) {
        if (slot.action == kActionJump) {
            raiseCue(CueKind::landed, slotIndex);
        }
        slot.action = kActionNone;
        playClip(slotIndex, ClipUse::idle, true);
    }
}

f64 ContentScene::hitTimeSeconds(const CharacterSlot& slot) const noexcept {
    switch (slot.action) {
        case kActionSkill1: return net::kSkill1Rule.hitMs / 1000.0;
        case kActionSkill2: return net::kSkill2Rule.hitMs / 1000.0;
        default: return kClipHitFraction * slot.animation.clip->duration;
    }
}

// ---- Section: Offline duel ----

void ContentScene::resolveOfflineHit(u32 attackerIndex) {
    const u32 targetIndex = 1 - attackerIndex;
    const u8 action = slots_[attackerIndex].action;
    CharacterSlot& target = slots_[targetIndex];
    const HitRule rule = hitRule(action);
    // A fighter that is down takes no more hits, as on the duel server.
    if (target.down ||
        squaredDistance(slots_[attackerIndex].position, target.position) > rule.reachMetres * rule.reachMetres) {
        return;
    }
    const bool wasStanding = target.health > 0;
    target.health = std::max(0, target.health - rule.damage);
    raiseCue(CueKind::hitLanded, targetIndex, action);
    if (action == kActionSkill1) {
        target.locked = true;
        target.lockedSecondsLeft = kSkill1LockSeconds;
    }
    if (action == kActionSkill1 || action == kActionSkill2) {
        const u64 eventId = nextLocalEventId_++;
        const u32 skill = action == kActionSkill1 ? kSkill1Effect : kSkill2Effect;
        spawnEffect(eventId, 2, skill, attackerIndex, targetIndex);
        if (action == kActionSkill1) {
            spawnEffect(eventId, 3, skill, attackerIndex, targetIndex);
        }
    }
    if (wasStanding && target.health == 0 && roundRestartSecondsLeft_ <= 0.0) {
        roundRestartSecondsLeft_ = kRoundRestartSeconds;
    }
    followHealth(targetIndex);
}

// A knockout ends the round as on the duel server: both fighters back at their starts, and
// the moves forgotten (a held direction goes out again).
void ContentScene::restartRound() {
    roundRestartSecondsLeft_ = 0.0;
    raiseCue(CueKind::roundStarted, kNoCueSlot);
    placeFighters();
    server_.reset(networked_);
    for (u32 index = 0; index < 2; ++index) {
        CharacterSlot& slot = slots_[index];
        slot.locked = false;
        slot.lockedSecondsLeft = 0.0;
        slot.correctionOffset = slot.previousCorrectionOffset = {};
        slot.action = kActionNone;
        slot.hitResolved = false;
        slot.comboCounter = 0;
        slot.lastDrawnValid = false;
        slot.down = false;
        playClip(index, ClipUse::idle, true);
    }
    beam_.active = false;
    beam_.elapsedSeconds = 0.0;
}

// ---- Section: Knockout ----

// Down at 0 health, up again above it: offline after a hit (the round's restart stands both
// up itself), online with every snapshot, where the restart is the server's.
void ContentScene::followHealth(u32 slotIndex) {
    CharacterSlot& slot = slots_[slotIndex];
    const bool down = slot.health <= 0;
    if (down == slot.down) {
        return;
    }
    slot.down = down;
    slot.action = kActionNone;
    if (down) {
        raiseCue(CueKind::knockedDown, slotIndex);
        heldDown(slotIndex);
    } else {
        playClip(slotIndex, ClipUse::idle, true);
    }
}

// The one place that decides what a fighter that is down shows, asked by everything that
// would start an action, a move or a clip of its own: the knock-down clip, played once and
// held at its last pose by the fixed step, or the idle in a model without it. True when down.
bool ContentScene::heldDown(u32 slotIndex) {
    CharacterSlot& slot = slots_[slotIndex];
    if (!slot.down) {
        return false;
    }
    playClip(slotIndex, slot.hasKnockDownClip ? ClipUse::knockDown : ClipUse::idle, false);
    return true;
}

// ---- Section: Variable step ----

void ContentScene::update(f64 deltaSeconds) {
    const f64 seconds = deltaSeconds > 0.0 ? std::min(deltaSeconds, kMaxVariableStepSeconds) : 0.0;
    lastFrameSeconds_ = seconds;
    presentationSeconds_ += seconds;
    effects_.update(seconds);
    if (beam_.active) {
        beam_.elapsedSeconds += seconds;
        if (beam_.elapsedSeconds >= kBeamSeconds) {
            beam_.active = false;
        }
    }
}

void ContentScene::resolveMove(bool accepted) { server_.moveResolved(accepted, clockSeconds_); }

}  // namespace kestrune::scene
