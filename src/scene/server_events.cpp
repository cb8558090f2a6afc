// What the server says, applied to the scene: snapshots reconcile the local fighter and
// feed the remote one's samples, combat events start animations and effects.

#include <algorithm>
#include <cmath>
#include <limits>

#include "scene/content_scene.h"

namespace kestrune::scene {
namespace {

constexpr u8 kWarriorClass = 1;
constexpr u8 kEventActionStarted = 1;
constexpr u8 kEventHitImpact = 2;
constexpr u8 kEventHitResult = 3;
constexpr f32 kMinHeadingSquaredMetres = 1e-8f;

Vec3 serverPosition(const net::SnapshotPlayer& player) noexcept {
    return {static_cast<f32>(player.positionXMm) / 1000.0f, 0.0f, static_cast<f32>(player.positionZMm) / 1000.0f};
}

u32 slotOfClass(u8 characterClass) noexcept { return characterClass == kWarriorClass ? 0 : 1; }

// How much faster than real time the remote playback runs when it is `behindTicks` behind
// the newest sample: not at all up to the delay and a little more, then ramping up.
f64 catchUpRate(f64 behindTicks) noexcept {
    const f64 excess = behindTicks - kInterpolationDelayTicks - kCatchUpAfterTicks;
    return 1.0 + std::clamp(excess / kCatchUpRampTicks, 0.0, 1.0) * (kCatchUpMaxRate - 1.0);
}

}  // namespace

// ---- Section: Snapshots ----

// A correction that moved the local fighter by sqrt(squaredMetres) (zero counts nothing).
void ContentScene::noteCorrection(u64& counter, f32 squaredMetres) {
    if (squaredMetres <= 0.0f) {
        return;
    }
    ++counter;
    figures_.largestCorrectionMetres = std::max(figures_.largestCorrectionMetres, std::sqrt(squaredMetres));
}

void ContentScene::applySnapshot(const net::DuelSnapshot& snapshot, u32 localEntityId, u32 lastSentCommandSequence,
                                 u16 tickRate) {
    (void)lastSentCommandSequence;  // the command ticks say more: see predictionSecondsFor
    if (snapshotSeen_ && snapshot.tick <= lastSnapshotTick_) {
        return;
    }
    lastSnapshotTick_ = snapshot.tick;
    snapshotSeen_ = true;
    authoritative_ = true;
    localEntityId_ = localEntityId;
    tickRate_ = tickRate == 0 ? kDefaultTickRate : tickRate;
    ++statistics_.authoritativeSnapshots;

    const auto local = std::find_if(snapshot.players.begin(), snapshot.players.end(),
                                    [localEntityId](const net::SnapshotPlayer& p) { return p.entityId == localEntityId; });
    if (local != snapshot.players.end()) {
        controlledSlot_ = slotOfClass(local->characterClass);
        opponentSlot_ = 1 - controlledSlot_;
    }

    for (const net::SnapshotPlayer& player : snapshot.players) {
        const u32 slotIndex = slotOfClass(player.characterClass);
        CharacterSlot& slot = slots_[slotIndex];
        // A fighter back on its feet means a new round: the server has put both at their
        // starts and dropped their moves, so a direction still held must be sent again.
        if (slot.snapshotSeen && slot.health <= 0 && player.health > 0) {
            forgetMove();
            serverBusySecondsLeft_ = 0.0;
        }
        slot.entityId = player.entityId;
        slot.health = player.health;
        slot.maxHealth = player.maxHealth;
        followHealth(slotIndex);
        slot.locked = (player.stateFlags & kLockedStateFlag) != 0;
        slot.lockedSecondsLeft = static_cast<f64>(player.lockTicks) / tickRate_;
        slot.lastCommandSequence = player.lastCommandSequence;
        slot.lastSnapshotTick = snapshot.tick;
        const Vec3 server = serverPosition(player);
        slot.serverPosition = server;
        if (player.entityId != localEntityId) {
            addRemoteSample(slotIndex, snapshot.tick, server);
        } else {
            stopWhereServerStopped(slot, snapshot.tick, player.lockTicks);
            reconcileLocal(slot, snapshot.tick, server);
            lockLocal(slot, snapshot.tick, player.lockTicks);
        }
        slot.snapshotSeen = true;
    }
}

// The first snapshot with the local fighter locked or down: the server stopped it in the tick
// of the hit (for a lock, its first tick, known from the lock's length), so the path after
// that moment is taken out at once.
void ContentScene::stopWhereServerStopped(CharacterSlot& slot, u64 tick, u16 lockTicks) {
    const bool stopped = slot.locked || slot.down;
    if (slot.snapshotSeen && !slot.serverStopped && stopped) {
        const u64 wholeLockTicks = skill1LockTicks(tickRate_);
        const u64 lockedFor = wholeLockTicks - std::min<u64>(lockTicks, wholeLockTicks);
        const u64 stoppedTick = slot.locked && tick > lockedFor ? tick - lockedFor : tick;
        removeMotion(slot, timelineSeconds(static_cast<f64>(stoppedTick)), 0);
    }
    slot.serverStopped = stopped;
}

// The server's position for `tick` against the prediction for the same moment; a difference
// moves the whole prediction (the path behind it too, so the next snapshot compares like
// with like) while the drawn fighter glides there, or jumps when it is far.
void ContentScene::reconcileLocal(CharacterSlot& slot, u64 tick, Vec3 server) {
    if (!slot.snapshotSeen) {
        slot.position = slot.previousPosition = server;
        slot.correctionOffset = slot.previousCorrectionOffset = {};
        slot.predictedCount = 0;
        slot.lastDrawnPosition = server;
        slot.lastDrawnValid = true;
        return;
    }
    f64 seconds = 0.0;
    if (!predictionSecondsFor(tick, seconds)) {
        return;  // the prediction already shows a command the server has not seen
    }
    const Vec3 error = server - predictedAt(slot, seconds);
    if (squaredLength(error) <= kPredictionMatchMetres * kPredictionMatchMetres) {
        return;
    }
    for (u32 age = 0; age < slot.predictedCount; ++age) {
        slot.pathPoint(age).position = slot.pathPoint(age).position + error;
    }
    correctLocal(slot, error);
}

// Moves the local fighter's prediction by `shift` (its path already moved by the caller):
// the drawn fighter glides there from where it was drawn, or jumps when it is far.
void ContentScene::correctLocal(CharacterSlot& slot, Vec3 shift) {
    const f32 squared = squaredLength(shift);
    const Vec3 visible = slot.lastDrawnValid ? slot.lastDrawnPosition : slot.position + slot.correctionOffset;
    const Vec3 previousVisible = slot.previousPosition + slot.previousCorrectionOffset;
    slot.position = slot.position + shift;
    slot.previousPosition = slot.previousPosition + shift;
    if (squared < kSnapDistanceMetres * kSnapDistanceMetres) {
        // Keep drawing the fighter where it was and let the offset decay toward the server.
        noteCorrection(figures_.glides, squared);
        slot.correctionOffset = visible - slot.position;
        slot.previousCorrectionOffset = previousVisible - slot.previousPosition;
    } else {
        noteCorrection(figures_.snaps, squared);
        slot.correctionOffset = slot.previousCorrectionOffset = {};
        slot.lastDrawnPosition = slot.position;
        slot.lastDrawnValid = true;
    }
}

// Takes out of the local fighter's path the motion the server did not make: every step after
// `afterSeconds` (a lock, a knockout), or only those that ran on move `moveId` (a refused
// move). The steps after it keep their own motion, from where the fighter then stood, and
// the prediction moves back by what was taken out, at once, instead of tick by tick as the
// snapshots of those ticks come in.
void ContentScene::removeMotion(CharacterSlot& slot, f64 afterSeconds, u32 moveId) {
    Vec3 removed;
    Vec3 original;
    for (u32 age = slot.predictedCount; age-- > 0;) {
        PredictedPoint& point = slot.pathPoint(age);
        const Vec3 stepped = point.position - original;
        original = point.position;
        const bool after = point.seconds > afterSeconds + kTimerEpsilonSeconds;  // the steps' sum, not the tick's
        if (age + 1 < slot.predictedCount && after && (moveId == 0 || point.moveId == moveId)) {
            removed = removed + stepped;
        }
        point.position = point.position - removed;
    }
    if (squaredLength(removed) > kPredictionMatchMetres * kPredictionMatchMetres) {
        correctLocal(slot, Vec3{} - removed);
    } else {
        slot.position = slot.position - removed;
        slot.previousPosition = slot.previousPosition - removed;
    }
}

// The simulated time whose prediction the server's `tick` shows. A command decided at tick
// D acts from tick D + 1, as the command issued at simulated time I acts from that step on,
// so tick T is I + (T - D) / tick rate on the timeline of that command: the last one decided
// before T, or else the first one decided after it (T comes before its effect). Before any
// command the newest snapshot's tick stands for now.
f64 ContentScene::timelineSeconds(f64 tick) const noexcept {
    const IssuedCommand* before = nullptr;
    const IssuedCommand* after = nullptr;
    for (u32 i = 0; i < commandCount_; ++i) {
        const IssuedCommand& command = rememberedCommand(i);
        if (!command.decided) {
            continue;
        }
        if (static_cast<f64>(command.decidedTick) < tick) {
            if (before == nullptr || command.sequence > before->sequence) before = &command;
        } else if (after == nullptr || command.sequence < after->sequence) {
            after = &command;
        }
    }
    const IssuedCommand* timeline = before != nullptr ? before : after;
    if (timeline == nullptr) {
        return clockSeconds_ + (tick - static_cast<f64>(lastSnapshotTick_)) / tickRate_;
    }
    const f64 seconds = timeline->issuedSeconds + (tick - static_cast<f64>(timeline->decidedTick)) / tickRate_;
    // Commands travel with different delays: tick T, which the next command has not yet
    // changed, never stands for a moment the prediction had already changed it.
    return after != nullptr ? std::min(seconds, after->issuedSeconds) : seconds;
}

// False when a command the server had not decided by `tick` (its result would have come
// first) was issued before that tick's moment: the prediction then already shows what the
// server has not yet done, and the two cannot be compared.
bool ContentScene::predictionSecondsFor(u64 tick, f64& seconds) const noexcept {
    seconds = timelineSeconds(static_cast<f64>(tick));
    for (u32 i = 0; i < commandCount_; ++i) {
        const IssuedCommand& command = rememberedCommand(i);
        if (!command.decided && command.issuedSeconds <= seconds) {
            return false;
        }
    }
    return true;
}

// The server's lock of the local fighter, on the prediction's timeline: it moves again in
// the tick its lock runs out (the server keeps its move through a lock), which the prediction
// reaches a round trip before the snapshot saying so would; a new move is taken a tick later.
void ContentScene::lockLocal(CharacterSlot& slot, u64 tick, u16 lockTicks) {
    if (!slot.locked || lockTicks == 0) {
        return;
    }
    const f64 endTick = static_cast<f64>(tick) + static_cast<f64>(lockTicks);
    slot.lockedSecondsLeft = std::max(0.0, timelineSeconds(endTick - 1.0) - clockSeconds_);
    slot.locked = slot.lockedSecondsLeft > kTimerEpsilonSeconds;
    const f64 newMoveSeconds = timelineSeconds(endTick) + kServerBusyMarginTicks / tickRate_ - clockSeconds_;
    serverBusySecondsLeft_ = std::max(serverBusySecondsLeft_, newMoveSeconds);
}

void ContentScene::rememberPrediction(CharacterSlot& slot) noexcept {
    slot.predictedPath[slot.predictedNext] = {clockSeconds_, slot.position, currentMoveId_};
    slot.predictedNext = (slot.predictedNext + 1) % kPredictionHistorySteps;
    slot.predictedCount = std::min(slot.predictedCount + 1, kPredictionHistorySteps);
}

// The predicted position at simulated time `seconds`, between the steps around it; the
// oldest or newest one beyond the path's ends, the current one without a path.
Vec3 ContentScene::predictedAt(const CharacterSlot& slot, f64 seconds) const noexcept {
    if (slot.predictedCount == 0) {
        return slot.position;
    }
    const auto point = [&slot](u32 age) -> const PredictedPoint& { return slot.pathPoint(age); };
    if (seconds >= point(0).seconds) {
        // The server moves a whole tick at once, so its snapshot can be a little ahead of
        // the steps simulated so far: the prediction goes on as its last step went, unless
        // the fighter has stopped since (an action, a lock, a key let go).
        const bool carriesOn = moving_ && !slot.locked && slot.action == kActionNone;
        if (slot.predictedCount < 2 || !carriesOn) {
            return point(0).position;
        }
        const f64 stepSeconds = point(0).seconds - point(1).seconds;
        const f64 aheadSeconds = std::min(seconds - point(0).seconds, kPredictionExtrapolationSeconds);
        const f32 t = stepSeconds > 0.0 ? static_cast<f32>(aheadSeconds / stepSeconds) : 0.0f;
        return point(0).position + (point(0).position - point(1).position) * t;
    }
    for (u32 age = 1; age < slot.predictedCount; ++age) {
        const PredictedPoint& earlier = point(age);
        if (earlier.seconds <= seconds) {
            const PredictedPoint& later = point(age - 1);
            const f64 span = later.seconds - earlier.seconds;
            const f32 t = span > 0.0 ? static_cast<f32>((seconds - earlier.seconds) / span) : 1.0f;
            return lerp(earlier.position, later.position, t);
        }
    }
    return point(slot.predictedCount - 1).position;
}

void ContentScene::applyCommandResult(const net::CommandResult& result) {
    for (u32 i = 0; i < commandCount_; ++i) {
        IssuedCommand& command = rememberedCommand(i);
        if (command.sequence != result.commandSequence || command.decided) {
            continue;
        }
        command.decided = true;
        command.decidedTick = result.tick;
        command.accepted = result.accepted;
        const bool action = command.kind == kIntentBasicAttack || command.kind == kIntentUseSkill;
        if (action && !result.accepted && command.issuedSeconds == serverBusyIssueSeconds_) {
            serverBusySecondsLeft_ = 0.0;  // the server is not busy with an action it refused
        }
        if (command.kind == kIntentMove && !result.accepted && command.moveId != 0) {
            removeMotion(slots_[controlledSlot_], command.issuedSeconds, command.moveId);
        }
        return;
    }
}

// ---- Section: Remote fighter ----

void ContentScene::addRemoteSample(u32 slotIndex, u64 tick, Vec3 position) {
    CharacterSlot& slot = slots_[slotIndex];
    u32& count = slot.remoteSampleCount;
    if (count > 0 && tick <= slot.remoteSamples[count - 1].tick) {
        ++figures_.droppedSamples;
        return;
    }
    if (count == kMaxRemoteSamples) {
        // The playback is always on its way from the oldest sample (it drops samples it has
        // passed), so the one after it goes instead: the fighter then heads for a later
        // sample from where it is drawn, rather than jumping ahead to one.
        std::copy(slot.remoteSamples.begin() + 2, slot.remoteSamples.end(), slot.remoteSamples.begin() + 1);
        --count;
        ++figures_.droppedSamples;
    }
    // A fighter put somewhere else (a new round) is not drawn crossing the arena in a tick.
    const f32 reachMetres =
        count > 0 ? kRemoteTeleportMetresPerTick * static_cast<f32>(tick - slot.remoteSamples[count - 1].tick) : 0.0f;
    const bool teleported =
        count > 0 && squaredDistance(position, slot.remoteSamples[count - 1].position) > reachMetres * reachMetres;
    if (teleported) {
        count = 0;
    }
    slot.remoteSamples[count++] = {tick, position};
    if (!slot.remoteStarted || teleported) {
        slot.remoteStarted = true;
        slot.playbackTick = static_cast<f64>(tick) - kInterpolationDelayTicks;
        slot.position = slot.previousPosition = position;
        return;
    }
    // After a freeze the fighter goes at once to where it is shown from now on, before the
    // events that came with this snapshot place their effects at it.
    if (static_cast<f64>(tick) - slot.playbackTick > kFreezeLagTicks) {
        slot.playbackTick = static_cast<f64>(tick) - kInterpolationDelayTicks;
        placeRemote(slot);
        slot.previousPosition = slot.position;
        ++figures_.remoteJumps;
    }
}

void ContentScene::interpolateRemote(u32 slotIndex, f64 stepSeconds) {
    CharacterSlot& slot = slots_[slotIndex];
    const u32 count = slot.remoteSampleCount;
    if (!slot.remoteStarted || count == 0) {
        return;
    }
    const f64 newestTick = static_cast<f64>(slot.remoteSamples[count - 1].tick);
    const f64 advancedTick =
        slot.playbackTick + stepSeconds * tickRate_ * catchUpRate(newestTick - slot.playbackTick);
    if (advancedTick > newestTick) {
        ++figures_.heldSteps;
    }
    slot.playbackTick = std::min(advancedTick, newestTick);
    figures_.interpolationDelayMsTotal += (newestTick - slot.playbackTick) * 1000.0 / tickRate_;
    ++figures_.interpolationSteps;
    placeRemote(slot);
}

// The fighter at the playback tick, between the samples around it, facing its way; samples
// the playback has passed are dropped.
void ContentScene::placeRemote(CharacterSlot& slot) noexcept {
    u32& count = slot.remoteSampleCount;
    u32 dropped = 0;
    while (count - dropped >= 2 && static_cast<f64>(slot.remoteSamples[dropped + 1].tick) <= slot.playbackTick) {
        ++dropped;
    }
    if (dropped > 0) {
        std::copy(slot.remoteSamples.begin() + dropped, slot.remoteSamples.begin() + count, slot.remoteSamples.begin());
        count -= dropped;
    }
    const RemoteSample& first = slot.remoteSamples[0];
    if (count == 1) {
        slot.position = first.position;
        return;
    }
    const RemoteSample& second = slot.remoteSamples[1];
    const Vec3 difference = second.position - first.position;
    if (squaredLength(difference) > kMinHeadingSquaredMetres) {
        slot.yawRadians = std::atan2(difference.x, difference.z);
    }
    const f64 span = static_cast<f64>(second.tick - first.tick);
    const f64 fraction = span == 0.0 ? 1.0 : std::clamp((slot.playbackTick - static_cast<f64>(first.tick)) / span, 0.0, 1.0);
    slot.position = first.position + difference * static_cast<f32>(fraction);
}

// The remote fighter walks or runs as fast as it is drawn moving, unless an action plays.
// A start shows at once; a stop only after it has stood still a moment, so that a step the
// playback waits at a sample does not flash the idle pose.
void ContentScene::animateRemote(u32 slotIndex, f64 stepSeconds) {
    CharacterSlot& slot = slots_[slotIndex];
    if (!slot.remoteStarted || stepSeconds <= 0.0 || heldDown(slotIndex)) {
        return;
    }
    const f32 speed = std::sqrt(squaredDistance(slot.position, slot.previousPosition)) / static_cast<f32>(stepSeconds);
    ClipUse motion = static_cast<ClipUse>(slot.remoteMotion);
    if (speed >= kRemoteMovingMetresPerSecond) {
        slot.remoteStillSeconds = 0.0;
        const f32 split = motion == ClipUse::run    ? kRemoteRunSplitMetresPerSecond - kRemoteRunMarginMetresPerSecond
                          : motion == ClipUse::walk ? kRemoteRunSplitMetresPerSecond + kRemoteRunMarginMetresPerSecond
                                                    : kRemoteRunSplitMetresPerSecond;
        motion = speed >= split ? ClipUse::run : ClipUse::walk;
    } else {
        slot.remoteStillSeconds += stepSeconds;
        if (slot.remoteStillSeconds >= kRemoteStillSeconds) {
            motion = ClipUse::idle;
        }
    }
    slot.remoteMotion = static_cast<u8>(motion);
    if (slot.action == kActionNone) {
        playClip(slotIndex, motion, false);
    }
}

// ---- Section: Combat events ----

void ContentScene::applyCombatEvents(std::span<const net::CombatEvent> events) {
    for (const net::CombatEvent& event : events) {
        ++statistics_.authoritativeEvents;
        // The server numbers its events one after another (both stages of a hit share one).
        if (figures_.lastEventId != 0 && event.eventId != figures_.lastEventId &&
            event.eventId != figures_.lastEventId + 1) {
            ++figures_.eventIdBreaks;
        }
        figures_.lastEventId = event.eventId;
        const u32 sourceIndex = event.sourceEntityId == slots_[0].entityId ? 0 : 1;
        const u32 targetIndex = event.targetEntityId == slots_[0].entityId ? 0 : 1;
        if (heldDown(sourceIndex)) {
            continue;  // whatever a peer says, a fighter that is down shows no action nor its effects
        }
        if (event.kind == kEventActionStarted) {
            if (event.sourceEntityId == localEntityId_) {
                ++figures_.confirmedLocalActions;
                if (slots_[sourceIndex].action != kActionNone) {
                    continue;  // the local prediction already shows it
                }
            }
            startServerAction(sourceIndex, event.skill, event.value);
        } else if (event.kind != kEventHitImpact && event.kind != kEventHitResult) {
            continue;
        }
        spawnEffect(event.eventId, event.kind, event.skill, sourceIndex, targetIndex);
    }
}

void ContentScene::startServerAction(u32 slotIndex, u16 skill, i32 value) {
    CharacterSlot& slot = slots_[slotIndex];
    if (slot.locked) {
        return;
    }
    if (skill == kBasicAttackSkill) {
        const u32 step = static_cast<u32>(std::clamp(value, 1, static_cast<i32>(kComboSteps)) - 1);
        startAction(slotIndex, kActionBasicAttack, basicAttackClip(step));
        return;
    }
    u8 action = kActionNone;
    std::string_view clip;
    switch (skill) {
        case 1001: action = kActionSkill1; clip = clipName(0, ClipUse::skill1); break;
        case 1002: action = kActionSkill2; clip = clipName(0, ClipUse::skill2); break;
        case 2001: action = kActionSkill1; clip = clipName(1, ClipUse::skill1); break;
        case 2002: action = kActionSkill2; clip = clipName(1, ClipUse::skill2); break;
        default: return;
    }
    // The clip follows the skill, not the fighter: a skill of the other class (which no
    // honest server sends) has no clip in this model, and shows its effect alone.
    if (slot.action != kActionNone || content::findClip(slot.model, clip) == nullptr) {
        return;
    }
    slot.action = action;
    slot.hitResolved = false;
    playClip(slotIndex, clip, false, true);
}

}  // namespace kestrune::scene
