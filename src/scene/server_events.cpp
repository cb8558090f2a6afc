// What the server says, applied to the scene: snapshots reconcile the local fighter and
// feed the remote one's samples, combat events start animations and effects.

#include <algorithm>
#include <cmath>

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
        slot.entityId = player.entityId;
        slot.health = player.health;
        slot.maxHealth = player.maxHealth;
        followHealth(slotIndex);
        slot.locked = (player.stateFlags & kLockedStateFlag) != 0;
        slot.lockedSecondsLeft = static_cast<f64>(player.lockTicks) / tickRate_;
        slot.lastCommandSequence = player.lastCommandSequence;
        slot.lastSnapshotTick = snapshot.tick;
        const Vec3 server = serverPosition(player);
        if (player.entityId != localEntityId) {
            addRemoteSample(slotIndex, snapshot.tick, server);
        } else if (slot.snapshotSeen && player.lastCommandSequence < lastSentCommandSequence) {
            // The server has not seen the newest command yet: its position is older than ours.
        } else if (slot.snapshotSeen && wasPredictedAt(slot, server)) {
            // Where the prediction was a moment ago: the server agrees, a round trip late.
        } else if (slot.snapshotSeen &&
                   squaredDistance(server, slot.position) < kSnapDistanceMetres * kSnapDistanceMetres) {
            // Keep drawing the fighter where it was and let the offset decay toward the server.
            const Vec3 visible = slot.lastDrawnValid ? slot.lastDrawnPosition : slot.position + slot.correctionOffset;
            noteCorrection(figures_.glides, squaredDistance(server, slot.position));
            slot.position = slot.previousPosition = server;
            slot.correctionOffset = slot.previousCorrectionOffset = visible - server;
            slot.predictedCount = 0;
        } else {
            if (slot.snapshotSeen) {
                noteCorrection(figures_.snaps, squaredDistance(server, slot.position));
            }
            slot.position = slot.previousPosition = server;
            slot.correctionOffset = slot.previousCorrectionOffset = {};
            slot.predictedCount = 0;
            slot.lastDrawnPosition = server;
            slot.lastDrawnValid = true;
        }
        slot.snapshotSeen = true;
    }
}

void ContentScene::rememberPrediction(CharacterSlot& slot) noexcept {
    slot.predictedPositions[slot.predictedNext] = slot.position;
    slot.predictedNext = (slot.predictedNext + 1) % kPredictionHistorySteps;
    slot.predictedCount = std::min(slot.predictedCount + 1, kPredictionHistorySteps);
}

bool ContentScene::wasPredictedAt(const CharacterSlot& slot, Vec3 position) const noexcept {
    constexpr f32 kMatchSquared = kPredictionMatchMetres * kPredictionMatchMetres;
    for (u32 i = 0; i < slot.predictedCount; ++i) {
        const u32 index = (slot.predictedNext + kPredictionHistorySteps - 1 - i) % kPredictionHistorySteps;
        if (squaredDistance(slot.predictedPositions[index], position) <= kMatchSquared) {
            return true;
        }
    }
    return false;
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
    slot.remoteSamples[count++] = {tick, position};
    if (!slot.remoteStarted) {
        slot.remoteStarted = true;
        slot.playbackTick = static_cast<f64>(tick) - kInterpolationDelayTicks;
        slot.position = slot.previousPosition = position;
    }
}

void ContentScene::interpolateRemote(u32 slotIndex, f64 stepSeconds) {
    CharacterSlot& slot = slots_[slotIndex];
    u32& count = slot.remoteSampleCount;
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
