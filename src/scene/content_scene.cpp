#include "scene/content_scene.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "base/json_text.h"
#include "content/animation.h"

namespace kestrune::scene {
namespace {

render::Camera startCamera() noexcept {
    render::Camera camera;
    camera.eye = {0.0f, 3.25f, -7.4f};
    camera.target = {0.0f, 1.0f, -0.5f};
    camera.up = {0.0f, 1.0f, 0.0f};
    camera.fieldOfViewYRadians = 0.78f;
    camera.nearPlane = 0.05f;
    camera.farPlane = 250.0f;
    return camera;
}

f64 smoothstep(f64 s) noexcept {
    s = std::clamp(s, 0.0, 1.0);
    return s * s * (3.0 - 2.0 * s);
}

const char* phaseName(ServerPhase phase) noexcept {
    switch (phase) {
        case ServerPhase::standing: return "standing";
        case ServerPhase::moving: return "moving";
        case ServerPhase::acting: return "acting";
        case ServerPhase::locked: return "locked";
        case ServerPhase::down: return "down";
    }
    return "standing";
}

}  // namespace

ContentScene::ContentScene()
    : effects_(effects::EffectSystem::create({kMaxEffectComponents, kMaxRememberedEffectEvents})),
      camera_(startCamera()) {
    intents_.reserve(kMaxQueuedIntents);
}

// ---- Section: Start ----

void ContentScene::load(const std::filesystem::path& root, const SceneLaunch& launch, render::RenderDevice& renderer) {
    start(loadSceneContent(root, renderer), launch);
}

void ContentScene::start(std::shared_ptr<const SceneContent> content, const SceneLaunch& launch) {
    content_ = std::move(content);
    smokeTest_ = launch.smokeTest;
    networked_ = launch.networked;
    controlledSlot_ = launch.controlledSlot == 1 ? 1 : 0;
    opponentSlot_ = 1 - controlledSlot_;
    server_.reset(networked_);
    for (u32 index = 0; index < 2; ++index) {
        CharacterSlot& slot = slots_[index];
        slot.model = &content_->characters[index];
        slot.modelHandle = content_->characterHandles[index];
        const std::size_t nodeCount = slot.model->nodes.size();
        slot.locals.assign(nodeCount, content::Transform{});
        slot.previousLocals.assign(nodeCount, content::Transform{});
        slot.frozenLocals.assign(nodeCount, content::Transform{});
        slot.globals.assign(nodeCount, content::Matrix4{});
        slot.hasKnockDownClip = content::findClip(*slot.model, clipName(index, ClipUse::knockDown)) != nullptr;
        playClip(index, ClipUse::idle, true);
    }
    placeFighters();

    statistics_.charactersLoaded = 2;
    statistics_.effectModelsLoaded = static_cast<u32>(content_->effectModels.size());
    statistics_.meshesAvailable = static_cast<u32>(slots_[0].model->meshes.size() + slots_[1].model->meshes.size());
    statistics_.clipsAvailable = static_cast<u32>(slots_[0].model->clips.size() + slots_[1].model->clips.size());
}

// ---- Section: Clips ----

void ContentScene::playClip(u32 slotIndex, std::string_view name, bool loop, bool force) {
    CharacterSlot& slot = slots_[slotIndex];
    AnimationPlayer& player = slot.animation;
    if (!force && player.clip != nullptr && player.clip->name == name) {
        return;
    }
    const content::AnimationClip* clip = content::findClip(*slot.model, name);
    if (clip == nullptr) {
        throw std::runtime_error("Required presentation clip is missing: " + std::string(name));
    }
    if (player.clip != nullptr) {
        const bool previousLoops = player.loop;
        if (player.fading) {
            // Cutting a fade short: start from the pose it has reached, not from either clip.
            blendFade(slot, player.timeSeconds, player.fadeElapsedSeconds, slot.frozenLocals);
            player.previousFrozen = true;
        } else {
            player.previousClip = player.clip;
            player.previousTimeSeconds = player.timeSeconds;
            player.previousLoop = player.loop;
            player.previousFrozen = false;
        }
        player.fading = true;
        player.fadeElapsedSeconds = 0.0;
        player.fadeSeconds = !loop ? 0.075 : previousLoops ? 0.14 : 0.1;
    }
    player.clip = clip;
    player.timeSeconds = 0.0;
    player.loop = loop;
    player.rate = 1.0;
}

// The fade's pose `fadeTimeSeconds` into it, with the current clip at `clipTimeSeconds`: the
// faded-out clip (or the frozen pose) blended toward the current clip, eased in and out.
void ContentScene::blendFade(CharacterSlot& slot, f64 clipTimeSeconds, f64 fadeTimeSeconds,
                             std::span<content::Transform> out) {
    const AnimationPlayer& player = slot.animation;
    content::sampleClip(*slot.model, *player.clip, clipTimeSeconds, player.loop, slot.locals);
    std::span<const content::Transform> from = slot.frozenLocals;
    if (!player.previousFrozen) {
        content::sampleClip(*slot.model, *player.previousClip, player.previousTimeSeconds + fadeTimeSeconds,
                            player.previousLoop, slot.previousLocals);
        from = slot.previousLocals;
    }
    const f32 weight = static_cast<f32>(smoothstep(fadeTimeSeconds / player.fadeSeconds));
    content::blendPoses(from, slot.locals, weight, out);
}

// ---- Section: Intents ----

// Every intent is the server view's to know from the moment it is queued: what the server
// will do with the next one depends on it.
void ContentScene::queueIntent(const PlayerIntent& intent) {
    if (intents_.size() < kMaxQueuedIntents) {
        server_.queued(intent, clockSeconds_, intent.kind == kIntentMove ? currentMoveId_ : 0);
        intents_.push_back(intent);
    }
}

void ContentScene::takeIntents(std::vector<PlayerIntent>& out) {
    server_.taken(clockSeconds_);
    out.clear();
    out.swap(intents_);
    if (intents_.capacity() < kMaxQueuedIntents) {
        intents_.reserve(kMaxQueuedIntents);  // only until the caller's vector has grown too
    }
}

void ContentScene::commandSent(u32 commandSequence) { server_.sent(commandSequence); }

// ---- Section: Trace ----

void ContentScene::appendTrace(std::string& line) const {
    appendJsonMember(line, "controlledSlot", controlledSlot_);
    appendJsonKey(line, "slots");
    line.push_back('[');
    for (u32 index = 0; index < 2; ++index) {
        const CharacterSlot& slot = slots_[index];
        if (index > 0) line.push_back(',');
        line.push_back('{');
        appendJsonMember(line, "x", slot.lastDrawnPosition.x, true);
        appendJsonMember(line, "y", slot.lastDrawnPosition.y);
        appendJsonMember(line, "z", slot.lastDrawnPosition.z);
        appendJsonMember(line, "yaw", slot.lastDrawnYawRadians);
        appendJsonMember(line, "clip", slot.animation.clipName());
        appendJsonMember(line, "clipTime", slot.animation.timeSeconds);
        appendJsonMember(line, "action", slot.action);
        appendJsonMember(line, "health", slot.health);
        appendJsonMember(line, "down", slot.down);
        appendJsonMember(line, "maxHealth", slot.maxHealth);
        appendJsonMember(line, "locked", locked(index));
        appendJsonMember(line, "correction", std::sqrt(squaredLength(slot.correctionOffset)));
        appendJsonMember(line, "entityId", slot.entityId);
        line.push_back('}');
    }
    line.push_back(']');
    appendJsonKey(line, "scene");
    line.push_back('{');
    appendJsonMember(line, "authoritativeSnapshots", statistics_.authoritativeSnapshots, true);
    appendJsonMember(line, "authoritativeEvents", statistics_.authoritativeEvents);
    appendJsonMember(line, "effectsSpawned", statistics_.effectsSpawned);
    appendJsonMember(line, "liveEffects", effects_.activeComponentCount());
    appendJsonMember(line, "beam", beam_.active);
    line.push_back('}');
    if (networked_) {
        appendJsonKey(line, "net");
        line.push_back('{');
        appendJsonMember(line, "snapshotTick", lastSnapshotTick_, true);
        appendJsonMember(line, "serverX", localServerPosition_.x);
        appendJsonMember(line, "serverZ", localServerPosition_.z);
        appendJsonMember(line, "serverPhase", std::string_view(phaseName(server_.phase(clockSeconds_))));
        appendJsonMember(line, "playbackTick", remote_.playbackTick());
        appendJsonMember(line, "remoteSamples", remote_.sampleCount());
        appendJsonMember(line, "glides", figures_.glides);
        appendJsonMember(line, "snaps", figures_.snaps);
        appendJsonMember(line, "largestCorrection", figures_.largestCorrectionMetres);
        appendJsonMember(line, "confirmedLocalActions", figures_.confirmedLocalActions);
        appendJsonMember(line, "refusedActions", figures_.refusedLocalActions);
        appendJsonMember(line, "lastEventId", figures_.lastEventId);
        appendJsonMember(line, "eventIdBreaks", figures_.eventIdBreaks);
        appendJsonMember(line, "heldSteps", figures_.heldSteps);
        appendJsonMember(line, "droppedSamples", figures_.droppedSamples);
        appendJsonMember(line, "remoteJumps", figures_.remoteJumps);
        appendJsonMember(line, "interpolationDelayMs", figures_.averageInterpolationDelayMs());
        line.push_back('}');
    }
}

}  // namespace kestrune::scene
