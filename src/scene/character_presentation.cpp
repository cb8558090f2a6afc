// The fighters between server snapshots: keys to actions and intents, the fixed step's
// prediction of the local fighter, clip and action timing, and the hits the scene resolves
// itself while no server is authoritative.

#include <algorithm>
#include <cmath>

#include "scene/content_scene.h"

namespace kestrune::scene {
namespace {

constexpr u32 kKeyBasicAttack = virtualKeyOf('1');
constexpr u32 kKeySkill1 = virtualKeyOf('2');
constexpr u32 kKeySkill2 = virtualKeyOf('3');
constexpr u32 kKeyHeavyAttack = virtualKeyOf('4');

// floor((base x factor + 500) / 1000) x 30 millimetres per second: the server's own rule.
constexpr f32 predictedSpeedMetresPerSecond(u32 slotIndex, i32 speedFactor) noexcept {
    const i32 millimetresPerTick = (kSpeedBase[slotIndex] * speedFactor + 500) / 1000;
    return static_cast<f32>(millimetresPerTick * 30) / 1000.0f;
}

struct HitRule {
    f32 rangeMetres;
    i32 damage;
};

constexpr HitRule hitRule(u8 action) noexcept {
    switch (action) {
        case kActionSkill1: return {kMeleeRangeMetres, 125};
        case kActionSkill2: return {kSkill2RangeMetres, 155};
        case kActionHeavyAttack: return {kMeleeRangeMetres, 180};
        default: return {kMeleeRangeMetres, 80};  // basic attack and jump
    }
}

}  // namespace

// ---- Section: Input ----

void ContentScene::handleInput(const InputState& input) {
    const auto pressed = [&input](u32 key) { return input.pressed[key]; };
    const CharacterSlot& self = slots_[controlledSlot_];
    if (pressed(kVirtualKeyTab)) {
        opponentSlot_ = 1 - controlledSlot_;
    }
    if (heldDown(controlledSlot_)) {
        return;  // nothing to predict and nothing to ask the server for
    }
    if (pressed(kKeyBasicAttack) && !self.locked) {
        haltServerMotion();
        startBasicAttack(controlledSlot_);
        queueIntent({kIntentBasicAttack, 0, 0, slots_[opponentSlot_].entityId, kBasicAttackSkill});
        holdWhileServerBusy(kServerBasicAttackSeconds);
    }
    if (pressed(kKeySkill1)) {
        useSkill(kActionSkill1);
    }
    if (pressed(kKeySkill2)) {
        useSkill(kActionSkill2);
    }
    // The server never hears of these two: a stop keeps its fighter where the screen shows it.
    if (pressed(kKeyHeavyAttack) && !self.locked && self.action == kActionNone) {
        haltServerMotion();
        startAction(controlledSlot_, kActionHeavyAttack, ClipUse::heavyAttack);
    }
    if (pressed(kVirtualKeySpace) && !self.locked && self.action == kActionNone) {
        haltServerMotion();
        startAction(controlledSlot_, kActionJump, ClipUse::jump);
    }
}

void ContentScene::startAction(u32 slotIndex, u8 action, ClipUse clip) {
    CharacterSlot& slot = slots_[slotIndex];
    slot.action = action;
    slot.hitResolved = false;
    playClip(slotIndex, clip, true);
}

// A basic attack may cut any other action short; the combo walks through four swings.
void ContentScene::startBasicAttack(u32 slotIndex) {
    CharacterSlot& slot = slots_[slotIndex];
    const u32 step = slot.comboCounter;
    slot.comboCounter = (step + 1) % kComboSteps;
    startAction(slotIndex, kActionBasicAttack, basicAttackClip(step));
}

// The local player's skill key: the prediction starts when it may, and the server is asked
// either way (it may know better about the running action).
void ContentScene::useSkill(u8 action) {
    if (slots_[controlledSlot_].locked || heldDown(controlledSlot_)) {
        return;
    }
    haltServerMotion();
    const bool started = startSkill(controlledSlot_, action);
    const u16 skill = action == kActionSkill1 ? kSkill1Ids[controlledSlot_] : kSkill2Ids[controlledSlot_];
    queueIntent({kIntentUseSkill, 0, 0, slots_[opponentSlot_].entityId, skill});
    if (started) {
        holdWhileServerBusy(action == kActionSkill1 ? kServerSkill1Seconds : kServerSkill2Seconds);
    }
}

// Online, a move sent before the server's action ends is refused, and the server's fighter
// would then start a resend later than the screen shows: the prediction waits for it.
void ContentScene::holdWhileServerBusy(f64 serverActionSeconds) {
    if (!networked_) {
        return;
    }
    const f64 ticks = std::max(1.0, std::round(serverActionSeconds * tickRate_)) + kServerBusyMarginTicks;
    serverBusySecondsLeft_ = ticks / tickRate_;
    serverBusyIssueSeconds_ = clockSeconds_;
}

// Before a local action: the server's fighter must not run on where the screen shows the
// fighter standing. An action the server runs drops its move too, but one it refuses (or
// never hears of) would not. After the action a held direction sends its move again.
void ContentScene::haltServerMotion() {
    if (moving_) {
        queueIntent({kIntentStop, 0, 0, 0, 0});
    }
    forgetMove();
}

void ContentScene::forgetMove() noexcept {
    currentMoveId_ = 0;
    moving_ = false;
    moveSent_ = false;
    lastMoveRejected_ = false;
    lastMoveX_ = lastMoveZ_ = 0;
    moveResendSecondsLeft_ = 0.0;
}

bool ContentScene::startSkill(u32 slotIndex, u8 action) {
    CharacterSlot& slot = slots_[slotIndex];
    if (slot.locked || slot.action != kActionNone) {
        return false;
    }
    const u32 targetIndex = 1 - slotIndex;
    startAction(slotIndex, action, action == kActionSkill1 ? ClipUse::skill1 : ClipUse::skill2);
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
    return true;
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

// ---- Section: Fixed step ----

void ContentScene::fixedUpdate(f64 stepSeconds, const InputState& input) {
    stepSeconds_ = stepSeconds;
    moveResendSecondsLeft_ = std::max(0.0, moveResendSecondsLeft_ - stepSeconds);
    for (CharacterSlot& slot : slots_) {
        slot.previousPosition = slot.position;
        slot.previousYawRadians = slot.yawRadians;
        slot.previousCorrectionOffset = slot.correctionOffset;
    }
    if (smokeTest_ && !smokeSkillStarted_ && smokeSkillReady()) {
        smokeSkillStarted_ = true;
        useSkill(kActionSkill1);
    }
    moveControlled(stepSeconds, input);
    clockSeconds_ += stepSeconds;
    serverBusySecondsLeft_ = std::max(0.0, serverBusySecondsLeft_ - stepSeconds);
    rememberPrediction(slots_[controlledSlot_]);
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

// Offline at once. Online once the server has spoken and the skill can land: the duel
// server refuses a skill out of reach or while its fighter is busy or locked, and a smoke
// run exists to show one.
bool ContentScene::smokeSkillReady() const noexcept {
    if (!networked_) {
        return true;
    }
    const CharacterSlot& self = slots_[controlledSlot_];
    const CharacterSlot& opponent = slots_[opponentSlot_];
    // The server takes a new action a tick after its lock ends (the shown lock ends with the
    // move the server carries on): the busy wait covers that tick.
    return authoritative_ && opponent.snapshotSeen && opponent.health > 0 && !self.locked &&
           self.action == kActionNone && serverBusySecondsLeft_ <= kTimerEpsilonSeconds &&
           squaredDistance(self.position, opponent.position) <= kMeleeRangeMetres * kMeleeRangeMetres;
}

void ContentScene::moveControlled(f64 stepSeconds, const InputState& input) {
    CharacterSlot& self = slots_[controlledSlot_];
    const WantedMove wanted = wantedMove(input, stickMemory_);
    // The server still runs the last move it took (a lock only pauses it).
    const bool alreadySent =
        wanted.hasDirection && moving_ && moveSent_ && wanted.moveX == lastMoveX_ && wanted.moveZ == lastMoveZ_;
    if (heldDown(controlledSlot_)) {
        return;  // lies still until the round restarts; the server has dropped its move
    }
    if (self.locked) {
        // Neither moves nor idles until the lock ends. The server pauses its move through the
        // lock and takes a stop even now: a key let go, or turned, stops it at once.
        if (moving_ && !alreadySent) {
            haltServerMotion();
        }
        return;
    }

    if (wanted.hasDirection && self.health >= 1) {
        // During an action (also one the server started by itself) its move is gone; until the
        // server can take a new one (after its own action or lock), the fighter waits for it.
        if (self.action != kActionNone || (!alreadySent && serverBusySecondsLeft_ > kTimerEpsilonSeconds)) {
            haltServerMotion();
            return;
        }
        const bool resendDue = lastMoveRejected_ && moveResendSecondsLeft_ <= kTimerEpsilonSeconds;
        if (lastMoveRejected_ && !resendDue) {
            return;  // the server refused the move and stands: so does the fighter, until it goes out again
        }
        const f32 distance =
            static_cast<f32>(stepSeconds) * predictedSpeedMetresPerSecond(controlledSlot_, wanted.speedFactor);
        const auto stepAlong = [distance](f32 coordinate, f32 direction) {
            return std::clamp(coordinate + direction * distance, -kArenaBoundMetres, kArenaBoundMetres);
        };
        self.position.x = stepAlong(self.position.x, wanted.directionX);
        self.position.z = stepAlong(self.position.z, wanted.directionZ);
        self.yawRadians = std::atan2(wanted.directionX, wanted.directionZ);
        playClip(controlledSlot_, wanted.walking ? ClipUse::walk : ClipUse::run, false);

        if (!alreadySent || resendDue) {
            currentMoveId_ = ++movesIssued_;
            queueIntent({kIntentMove, wanted.moveX, wanted.moveZ, 0, 0});
            // Marked only when a move goes out: a rejection then stays until its resend.
            lastMoveX_ = wanted.moveX;
            lastMoveZ_ = wanted.moveZ;
            moveSent_ = true;
            lastMoveRejected_ = false;
        }
        moving_ = true;
        return;
    }
    if (self.action != kActionNone) {
        return;
    }
    playClip(controlledSlot_, ClipUse::idle, false);
    haltServerMotion();
}

void ContentScene::advanceSlot(u32 slotIndex, f64 stepSeconds) {
    CharacterSlot& slot = slots_[slotIndex];
    if (slotIndex == controlledSlot_) {
        slot.correctionOffset = slot.correctionOffset * static_cast<f32>(std::exp(-kCorrectionDecayPerSecond * stepSeconds));
        if (squaredLength(slot.correctionOffset) < kCorrectionClearSquaredMetres) {
            slot.correctionOffset = {};
        }
    } else {
        interpolateRemote(slotIndex, stepSeconds);
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
    player.timeSeconds += stepSeconds;
    if (player.fading) {
        player.fadeElapsedSeconds += stepSeconds;
        if (player.fadeElapsedSeconds >= player.fadeSeconds) {
            player.fading = false;
            player.previousFrozen = false;
        }
    }
    if (slot.action != kActionNone && !slot.hitResolved && player.timeSeconds >= hitTimeSeconds(slot)) {
        slot.hitResolved = true;
        if (!authoritative_) {
            resolveOfflineHit(slotIndex);
        }
    }
    if (!player.loop && player.timeSeconds >= player.clip->duration && !down) {
        slot.action = kActionNone;
        playClip(slotIndex, ClipUse::idle, true);
    }
}

f64 ContentScene::hitTimeSeconds(const CharacterSlot& slot) const noexcept {
    switch (slot.action) {
        case kActionSkill1: return kSkill1HitSeconds;
        case kActionSkill2: return kSkill2HitSeconds;
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
        squaredDistance(slots_[attackerIndex].position, target.position) > rule.rangeMetres * rule.rangeMetres) {
        return;
    }
    const bool wasStanding = target.health > 0;
    target.health = std::max(0, target.health - rule.damage);
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

// A knockout ends the round as on the duel server: both fighters back at their starts.
void ContentScene::restartRound() {
    roundRestartSecondsLeft_ = 0.0;
    placeFighters();
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
    if (slotIndex == controlledSlot_) {
        // The server drops the move of a fighter that goes down: the first one after the
        // restart must go out again.
        forgetMove();
    }
    if (down) {
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

void ContentScene::resolveMove(bool accepted) {
    lastMoveRejected_ = !accepted;
    moveResendSecondsLeft_ = accepted ? 0.0 : kMoveResendSeconds;
}

}  // namespace kestrune::scene
