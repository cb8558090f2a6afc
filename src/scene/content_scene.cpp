#include "scene/content_scene.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "base/json_text.h"
#include "content/kmdl_reader.h"
#include "content/transform_math.h"
#include "render/render_device.h"

namespace kestrune::scene {
namespace {

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

constexpr std::array<const char*, 2> kCharacterDirectories{"warrior", "templar"};

render::Camera startCamera() noexcept {
    render::Camera camera;
    camera.eye = {0.0f, 3.0f, -7.0f};
    camera.target = {0.0f, 1.0f, 0.0f};
    camera.up = {0.0f, 1.0f, 0.0f};
    camera.fieldOfViewYRadians = 0.82f;
    camera.nearPlane = 0.05f;
    camera.farPlane = 250.0f;
    return camera;
}

std::string utf8Name(const std::filesystem::path& path) {
    const std::u8string name = path.filename().u8string();
    return std::string(name.begin(), name.end());
}

f64 smoothstep(f64 s) noexcept {
    s = std::clamp(s, 0.0, 1.0);
    return s * s * (3.0 - 2.0 * s);
}

}  // namespace

ContentScene::ContentScene()
    : effects_(effects::EffectSystem::create({kMaxEffectComponents, kMaxRememberedEffectEvents})),
      camera_(startCamera()) {
    intents_.reserve(kMaxQueuedIntents);
}

// ---- Section: Load ----

void ContentScene::load(const std::filesystem::path& root, const SceneLaunch& launch, render::RenderDevice& renderer) {
    contentRoot_ = root;
    effectsDirectory_ = root / "effects";
    smokeTest_ = launch.smokeTest;
    networked_ = launch.networked;
    controlledSlot_ = launch.controlledSlot == 1 ? 1 : 0;
    opponentSlot_ = 1 - controlledSlot_;

    for (u32 index = 0; index < 2; ++index) {
        loadCharacter(index, root / kCharacterDirectories[index], renderer);
    }
    placeFighters();
    camera_.eye = {0.0f, 3.25f, -7.4f};
    camera_.target = {0.0f, 1.0f, -0.5f};
    camera_.fieldOfViewYRadians = 0.78f;
    loadEffectContent(renderer);

    statistics_.charactersLoaded = 2;
    statistics_.meshesAvailable = static_cast<u32>(slots_[0].model.meshes.size() + slots_[1].model.meshes.size());
    statistics_.clipsAvailable = static_cast<u32>(slots_[0].model.clips.size() + slots_[1].model.clips.size());
}

void ContentScene::loadCharacter(u32 slotIndex, const std::filesystem::path& directory,
                                 render::RenderDevice& renderer) {
    CharacterSlot& slot = slots_[slotIndex];
    slot.model = content::loadModelFile(directory / "character.kmdl", content::ModelLimits{});
    slot.modelHandle = renderer.UploadModel(slot.model, directory);
    const std::size_t nodeCount = slot.model.nodes.size();
    slot.locals.assign(nodeCount, content::Transform{});
    slot.previousLocals.assign(nodeCount, content::Transform{});
    slot.frozenLocals.assign(nodeCount, content::Transform{});
    slot.globals.assign(nodeCount, content::Matrix4{});
    slot.drawYawOffsetRadians = kFighterStarts[slotIndex].drawYawOffsetRadians;
    slot.drawLiftMetres = kFighterStarts[slotIndex].drawLiftMetres;
    slot.hasKnockDownClip = content::findClip(slot.model, clipName(slotIndex, ClipUse::knockDown)) != nullptr;
    playClip(slotIndex, ClipUse::idle, true);
}

void ContentScene::placeFighters() {
    for (u32 index = 0; index < 2; ++index) {
        CharacterSlot& slot = slots_[index];
        slot.position = slot.previousPosition = kFighterStarts[index].position;
        slot.yawRadians = slot.previousYawRadians = kFighterStarts[index].yawRadians;
        // Offline nobody names the fighters or counts their health: the scene does, as the
        // duel server would, so that local effects have a source and hits have an end.
        if (!networked_) {
            slot.entityId = kOfflineEntityIds[index];
            slot.health = slot.maxHealth = kOfflineHealth;
        }
    }
}

void ContentScene::loadEffectContent(render::RenderDevice& renderer) {
    namespace fs = std::filesystem;
    const fs::path modelsDirectory = effectsDirectory_ / "models";
    if (fs::is_directory(modelsDirectory)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(modelsDirectory)) {
            const fs::path file = entry.path() / "effect.kmdl";
            if (!entry.is_directory() || !fs::is_regular_file(file)) {
                continue;
            }
            EffectModel effect;
            effect.model = content::loadModelFile(file, content::ModelLimits{});
            std::vector<content::Transform> locals;
            locals.reserve(effect.model.nodes.size());
            for (const content::Node& node : effect.model.nodes) {
                locals.push_back(node.transform);
            }
            effect.staticPose.assign(locals.size(), content::Matrix4{});
            content::computeGlobalMatrices(effect.model, locals, effect.staticPose);
            effect.handle = renderer.UploadModel(effect.model, entry.path());
            effectModels_.insert_or_assign("models/" + utf8Name(entry.path()) + "/effect.kmdl", std::move(effect));
            ++statistics_.effectModelsLoaded;
        }
    }
    const fs::path texturesDirectory = effectsDirectory_ / "textures";
    if (fs::is_directory(texturesDirectory)) {
        for (const fs::directory_entry& entry : fs::directory_iterator(texturesDirectory)) {
            if (entry.path().extension() != ".png" || entry.is_directory()) {
                continue;
            }
            effectTextures_.insert_or_assign("textures/" + utf8Name(entry.path()), renderer.LoadTexture(entry.path()));
        }
    }
}

const EffectModel* ContentScene::effectModel(std::string_view key) const noexcept {
    const auto found = effectModels_.find(key);
    return found == effectModels_.end() ? nullptr : &found->second;
}

const render::TextureHandle* ContentScene::effectTexture(std::string_view key) const noexcept {
    const auto found = effectTextures_.find(key);
    return found == effectTextures_.end() ? nullptr : &found->second;
}

// ---- Section: Clips ----

void ContentScene::playClip(u32 slotIndex, std::string_view name, bool loop, bool force) {
    CharacterSlot& slot = slots_[slotIndex];
    AnimationPlayer& player = slot.animation;
    if (!force && player.clip != nullptr && player.clip->name == name) {
        return;
    }
    const content::AnimationClip* clip = content::findClip(slot.model, name);
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
}

// The fade's pose `fadeTimeSeconds` into it, with the current clip at `clipTimeSeconds`: the
// faded-out clip (or the frozen pose) blended toward the current clip, eased in and out.
void ContentScene::blendFade(CharacterSlot& slot, f64 clipTimeSeconds, f64 fadeTimeSeconds,
                             std::span<content::Transform> out) {
    const AnimationPlayer& player = slot.animation;
    content::sampleClip(slot.model, *player.clip, clipTimeSeconds, player.loop, slot.locals);
    std::span<const content::Transform> from = slot.frozenLocals;
    if (!player.previousFrozen) {
        content::sampleClip(slot.model, *player.previousClip, player.previousTimeSeconds + fadeTimeSeconds,
                            player.previousLoop, slot.previousLocals);
        from = slot.previousLocals;
    }
    const f32 weight = static_cast<f32>(smoothstep(fadeTimeSeconds / player.fadeSeconds));
    content::blendPoses(from, slot.locals, weight, out);
}

// ---- Section: Intents ----

void ContentScene::queueIntent(const PlayerIntent& intent) {
    if (intents_.size() < kMaxQueuedIntents) {
        queuedIssueSeconds_[intents_.size()] = clockSeconds_;
        queuedMoveIds_[intents_.size()] = intent.kind == kIntentMove ? currentMoveId_ : 0;
        intents_.push_back(intent);
    }
}

void ContentScene::takeIntents(std::vector<PlayerIntent>& out) {
    takenCount_ = static_cast<u32>(intents_.size());
    takenNext_ = 0;
    for (u32 i = 0; i < takenCount_; ++i) {
        takenIssueSeconds_[i] = queuedIssueSeconds_[i];
        takenKinds_[i] = intents_[i].kind;
        takenMoveIds_[i] = queuedMoveIds_[i];
    }
    out.clear();
    out.swap(intents_);
    if (intents_.capacity() < kMaxQueuedIntents) {
        intents_.reserve(kMaxQueuedIntents);  // only until the caller's vector has grown too
    }
}

void ContentScene::commandSent(u32 commandSequence) {
    if (takenNext_ >= takenCount_) {
        return;
    }
    const u32 index = takenNext_++;
    if (commandSequence == 0) {
        return;
    }
    commands_[commandNext_] = {commandSequence, takenKinds_[index], takenIssueSeconds_[index], takenMoveIds_[index]};
    commandNext_ = (commandNext_ + 1) % kRememberedCommands;
    commandCount_ = std::min(commandCount_ + 1, kRememberedCommands);
}

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
        appendJsonMember(line, "locked", slot.locked);
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
        const CharacterSlot& remote = slots_[opponentSlot_];
        appendJsonKey(line, "net");
        line.push_back('{');
        appendJsonMember(line, "snapshotTick", lastSnapshotTick_, true);
        appendJsonMember(line, "serverX", slots_[controlledSlot_].serverPosition.x);
        appendJsonMember(line, "serverZ", slots_[controlledSlot_].serverPosition.z);
        appendJsonMember(line, "playbackTick", remote.playbackTick);
        appendJsonMember(line, "remoteSamples", remote.remoteSampleCount);
        appendJsonMember(line, "glides", figures_.glides);
        appendJsonMember(line, "snaps", figures_.snaps);
        appendJsonMember(line, "largestCorrection", figures_.largestCorrectionMetres);
        appendJsonMember(line, "confirmedLocalActions", figures_.confirmedLocalActions);
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
