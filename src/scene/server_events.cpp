// What the server says, applied to the scene: command results and snapshots feed the server
// view and reconcile the local fighter with it, snapshots feed the opponent's playback, and
// combat events start animations and effects.

#include <algorithm>
#include <cmath>

#include "content/animation.h"
#include "net/rule_book.h"
#include "scene/content_scene.h"

namespace kestrune::scene {
namespace {

constexpr u8 kEventActionStarted = 1;
constexpr u8 kEventHitImpact = 2;
constexpr u8 kEventHitResult = 3;
constexpr f32 kSnapDistanceMetres = 1.5f;
// A server position this close to the prediction for its tick agrees with it (the server
// rounds to millimetres and moves in whole ticks of its own arithmetic).
constexpr f32 kPredictionMatchMetres = 0.02f;

Vec3 serverPosition(const net::SnapshotPlayer& player) noexcept {
    return {static_cast<f32>(player.positionXMm) / 1000.0f, 0.0f, static_cast<f32>(player.positionZMm) / 1000.0f};
}

u32 slotOfClass(u8 characterClass) noexcept { return characterClass == net::kWarrior ? 0 : 1; }

}  // namespace

// ---- Section: Command results ----

void ContentScene::applyCommandResult(const net::CommandResult& result) {
    const CommandOutcome outcome = server_.decided(result);
    CharacterSlot& self = slots_[controlledSlot_];
    if (outcome.refusedSkill != 0) {
        ++figures_.refusedLocalActions;
        // The server numbers the combo by the swings it takes.
        if (outcome.refusedSkill == net::kSkillBasicAttack) {
            self.comboCounter = (self.comboCounter + kComboSteps - 1) % kComboSteps;
        }
        // The screen shows a swing the server will not make: it ends now, unless a later one
        // has taken its place.
        if (outcome.newestAction && self.action == actionOfSkill(outcome.refusedSkill) && !self.down) {
            endAction(controlledSlot_);
        }
    }
    if (outcome.refusedMoveId != 0) {
        removeMotion(self, outcome.issuedSeconds, outcome.refusedMoveId);
    }
    // (Once the server's start lies behind the clock, the later snapshots correct the steps.)
    if (outcome.heldMoveId != 0 && outcome.heldUntilSeconds >= clockSeconds_) {
        removeMotion(self, outcome.issuedSeconds, outcome.heldMoveId);
    }
}

// ---- Section: Snapshots ----

// A correction that moved the local fighter by sqrt(squaredMetres) (zero counts nothing).
void ContentScene::noteCorrection(u64& counter, f32 squaredMetres) {
    if (squaredMetres <= 0.0f) {
        return;
    }
    ++counter;
    figures_.largestCorrectionMetres = std::max(figures_.largestCorrectionMetres, std::sqrt(squaredMetres));
}

// Health only rises when a new round starts, whichever fighter went down and in whatever order
// the snapshot lists them; after a freeze longer than a round's restart the knockout may never
// have been seen, but a new round still stands both on their start spots at full health.
bool ContentScene::detectNewRound(const net::DuelSnapshot& snapshot) const noexcept {
    bool risen = false;
    bool bothAtStart = snapshot.players.size() == 2;
    for (const net::SnapshotPlayer& player : snapshot.players) {
        const CharacterSlot& slot = slots_[slotOfClass(player.characterClass)];
        risen = risen || (slot.snapshotSeen && player.health > slot.health);
        bothAtStart = bothAtStart && player.positionXMm == net::startXMm(player.characterClass) &&
                      player.positionZMm == 0 && player.health == player.maxHealth;
    }
    const u64 restartTicks = net::ticksFromMs(net::kRoundRestartMs, server_.tickRate());
    return risen || (bothAtStart && snapshot.tick >= lastSnapshotTick_ + restartTicks);
}

// The server has put both fighters at their starts and dropped their moves, actions, locks and
// cooldowns; a direction still held goes out again.
void ContentScene::startNewRound(u64 tick) {
    server_.newRound(tick);
    raiseCue(CueKind::roundStarted, kNoCueSlot);
    for (u32 index = 0; index < 2; ++index) {
        CharacterSlot& slot = slots_[index];
        slot.locked = false;
        slot.lockedSecondsLeft = 0.0;
        if (slot.action != kActionNone && !slot.down) {
            endAction(index);
        }
    }
    beam_.active = false;
    path_.clear();
    moving_ = false;
    currentMoveId_ = 0;
}

void ContentScene::applySnapshot(const net::DuelSnapshot& snapshot, u32 localEntityId, u32 lastSentCommandSequence,
                                 u16 tickRate) {
    (void)lastSentCommandSequence;  // the command ticks say more: see ServerView::comparableAt
    if (snapshotSeen_ && snapshot.tick <= lastSnapshotTick_) {
        return;
    }
    server_.setTickRate(tickRate);
    const bool newRound = snapshotSeen_ && detectNewRound(snapshot);
    lastSnapshotTick_ = snapshot.tick;
    snapshotSeen_ = true;
    authoritative_ = true;
    localEntityId_ = localEntityId;
    ++statistics_.authoritativeSnapshots;

    const auto local = std::find_if(snapshot.players.begin(), snapshot.players.end(),
                                    [localEntityId](const net::SnapshotPlayer& p) { return p.entityId == localEntityId; });
    if (local != snapshot.players.end() && slotOfClass(local->characterClass) != controlledSlot_) {
        controlledSlot_ = slotOfClass(local->characterClass);
        opponentSlot_ = 1 - controlledSlot_;
        remote_.reset();
        shownRemoteAction_ = {};
        path_.clear();
    }
    if (newRound) {
        startNewRound(snapshot.tick);
    }

    for (const net::SnapshotPlayer& player : snapshot.players) {
        const u32 slotIndex = slotOfClass(player.characterClass);
        CharacterSlot& slot = slots_[slotIndex];
        slot.entityId = player.entityId;
        slot.health = player.health;
        slot.maxHealth = player.maxHealth;
        followHealth(slotIndex);
        const Vec3 server = serverPosition(player);
        if (player.entityId != localEntityId) {
            slot.locked = (player.stateFlags & net::kStateLocked) != 0;
            slot.lockedSecondsLeft = static_cast<f64>(player.lockTicks) / server_.tickRate();
            remote_.add(snapshot.tick, server, player.skill, player.opaque, slot.position, slot.previousPosition,
                        figures_);
        } else {
            localServerPosition_ = server;
            const f64 stoppedSeconds = server_.snapshot(snapshot.tick, player, clockSeconds_);
            if (!slot.snapshotSeen) {
                placeLocal(slot, server);
                // A command's result is what lines the server's ticks up with the prediction: a
                // stop, which changes nothing, gets the first one before the player's first key.
                queueIntent({kIntentStop, 0, 0, 0, 0});
            } else if (newRound) {
                correctLocal(slot, server - slot.position);
            } else {
                if (stoppedSeconds >= 0.0) {
                    // The server held the fighter still (a lock's hit, a knockout, a move it
                    // dropped): the path after that moment is taken out at once.
                    removeMotion(slot, stoppedSeconds, 0);
                }
                reconcileLocal(slot, snapshot.tick, server);
            }
        }
        slot.snapshotSeen = true;
    }
}

void ContentScene::placeLocal(CharacterSlot& slot, Vec3 server) {
    slot.position = slot.previousPosition = server;
    slot.correctionOffset = slot.previousCorrectionOffset = {};
    path_.clear();
    slot.lastDrawnPosition = server;
    slot.lastDrawnValid = true;
}

// The server's position for `tick` against the prediction for the same moment; from a
// difference the prediction is replayed from where the server had the fighter (the path behind
// it moved too, so the next snapshot compares like with like) while the drawn fighter glides
// there, or jumps when it is far.
void ContentScene::reconcileLocal(CharacterSlot& slot, u64 tick, Vec3 server) {
    f64 seconds = 0.0;
    if (!server_.comparableAt(tick, seconds) || !path_.reaches(seconds)) {
        return;  // the prediction already shows a command the server has not decided, or forgot that moment
    }
    // The server moves a whole tick at once: a snapshot a little ahead of the steps is compared
    // with the prediction carried on, as long as the fighter is still running; not across the
    // end of a lock or an action the view expects before it, which the next steps make.
    if (seconds > clockSeconds_ && moving_ != (server_.move().active && server_.movesAt(seconds))) {
        return;
    }
    const Vec3 error = server - path_.at(seconds, slot.position, moving_);
    if (squaredLength(error) <= kPredictionMatchMetres * kPredictionMatchMetres) {
        return;
    }
    correctLocal(slot, path_.replay(seconds, error, slot.position) - slot.position);
}

// Moves the local fighter's prediction by `shift` (its path already moved by the caller): the
// drawn fighter glides there from where it was drawn, or jumps when it is far.
void ContentScene::correctLocal(CharacterSlot& slot, Vec3 shift) {
    const f32 squared = squaredLength(shift);
    const Vec3 visible = slot.lastDrawnValid ? slot.lastDrawnPosition : slot.position + slot.correctionOffset;
    const Vec3 previousVisible = slot.previousPosition + slot.previousCorrectionOffset;
    // A shift measured away from the arena's edge does not carry the fighter through it.
    const auto inArena = [](Vec3 p) {
        return Vec3{std::clamp(p.x, -kArenaBoundMetres, kArenaBoundMetres), p.y,
                    std::clamp(p.z, -kArenaBoundMetres, kArenaBoundMetres)};
    };
    slot.position = inArena(slot.position + shift);
    slot.previousPosition = inArena(slot.previousPosition + shift);
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

// Takes the motion the server did not make out of the local fighter's path (every step after
// `afterSeconds`, or only those on move `moveId`), and moves the prediction back by it at once
// instead of tick by tick as the snapshots of those ticks come in.
void ContentScene::removeMotion(CharacterSlot& slot, f64 afterSeconds, u32 moveId) {
    const Vec3 removed = path_.removeMotion(afterSeconds, moveId);
    if (squaredLength(removed) > kPredictionMatchMetres * kPredictionMatchMetres) {
        correctLocal(slot, Vec3{} - removed);
    } else {
        slot.position = slot.position - removed;
        slot.previousPosition = slot.previousPosition - removed;
    }
}

// ---- Section: Remote fighter ----

// The opponent walks or runs as fast as it is drawn moving, unless an action plays: the
// action the server ran at its drawn moment, which starts where the playback meets it (that
// far into its clip) and ends where the playback leaves it. Its event only brings its effect,
// which comes as the action is heard of.
void ContentScene::animateRemote(u32 slotIndex, f64 stepSeconds) {
    CharacterSlot& slot = slots_[slotIndex];
    if (!remote_.started() || stepSeconds <= 0.0 || heldDown(slotIndex)) {
        return;
    }
    if (const RemoteSample* at = remote_.sampleAtPlayback()) {
        if (at->action.number > shownRemoteAction_.number) {
            shownRemoteAction_ = at->action;
            // As far into its clip as the playback is into the action (which began the tick
            // before its first sample) once this step has advanced the clip.
            showServerAction(slotIndex, at->action.skill, at->action.comboStep,
                             remote_.playbackTick() - static_cast<f64>(at->action.sinceTick) + 1.0 -
                                 stepSeconds * server_.tickRate());
        } else if (at->action.number != shownRemoteAction_.number) {
            shownRemoteAction_ = at->action;
            if (slot.action != kActionNone) {
                endAction(slotIndex);
            }
        }
    }
    const f32 speed = std::sqrt(squaredDistance(slot.position, slot.previousPosition)) / static_cast<f32>(stepSeconds);
    const ClipUse gait = remote_.gait(speed, stepSeconds);
    if (slot.action == kActionNone) {
        playClip(slotIndex, gait, false);
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
        // Whatever a peer says, a fighter that is down shows no action nor its effects; the
        // server still ran the local fighter's action it names.
        const bool down = heldDown(sourceIndex);
        if (event.kind == kEventActionStarted && event.sourceEntityId == localEntityId_) {
            ++figures_.confirmedLocalActions;
            // The prediction showed it, with its effect, when its key was pressed.
            if (server_.confirm(event.skill) || down || slots_[sourceIndex].action != kActionNone) {
                continue;
            }
            startServerAction(sourceIndex, event.skill, event.value);
        } else if (down || (event.kind != kEventActionStarted && event.kind != kEventHitImpact &&
                            event.kind != kEventHitResult)) {
            continue;
        }
        if (event.kind == kEventHitImpact) {
            raiseCue(CueKind::hitLanded, targetIndex, actionOfSkill(event.skill));
        }
        spawnEffect(event.eventId, event.kind, event.skill, sourceIndex, targetIndex);
    }
}

// An action of the local fighter that the server started without the prediction showing it
// (its event says so): not on a locked fighter, and a skill not over a running action.
void ContentScene::startServerAction(u32 slotIndex, u16 skill, i32 value) {
    const u8 action = actionOfSkill(skill);
    if (locked(slotIndex) || action == kActionNone ||
        (action != kActionBasicAttack && slots_[slotIndex].action != kActionNone)) {
        return;
    }
    showServerAction(slotIndex, skill, value, 0.0);
}

// Plays the clip of an action the server runs (chosen by the skill, not by the fighter, and
// for a swing by its combo step `value`) over the server's window for it, `elapsedTicks` into
// it. A skill of the other class (which no honest server sends) has no clip in this model: the
// fighter then shows its effect alone, and false is returned.
bool ContentScene::showServerAction(u32 slotIndex, u16 skill, i32 value, f64 elapsedTicks) {
    CharacterSlot& slot = slots_[slotIndex];
    const u8 action = actionOfSkill(skill);
    std::string_view clip;
    if (action == kActionBasicAttack) {
        const u32 step = static_cast<u32>(std::clamp(value, 1, static_cast<i32>(kComboSteps)) - 1);
        clip = clipName(slotIndex, basicAttackClip(step));
    } else {
        const u32 skillClass = skill == net::kSkillWarrior1 || skill == net::kSkillWarrior2 ? 0 : 1;
        clip = clipName(skillClass, action == kActionSkill1 ? ClipUse::skill1 : ClipUse::skill2);
        if (content::findClip(*slot.model, clip) == nullptr) {
            return false;
        }
    }
    slot.action = action;
    slot.hitResolved = false;
    playClip(slotIndex, clip, false, true);
    raiseCue(CueKind::actionStarted, slotIndex, action,
             action == kActionBasicAttack ? static_cast<u8>(std::clamp(value, 1, static_cast<i32>(kComboSteps)) - 1) : 0);
    playOverServerWindow(slotIndex, skill);
    slot.animation.timeSeconds = std::max(0.0, elapsedTicks) / server_.tickRate() * slot.animation.rate;
    return true;
}

}  // namespace kestrune::scene
