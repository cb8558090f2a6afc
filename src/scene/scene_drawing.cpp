// One frame of the arena: the camera follows the local fighter, then the ground, both
// fighters with their bars and rings, the effects and the beam. Everything moving is drawn
// `alpha` of the way from the previous fixed step to the current one.

#include <algorithm>
#include <cmath>

#include "content/animation.h"
#include "net/rule_book.h"
#include "render/render_device.h"
#include "scene/content_scene.h"

namespace kestrune::scene {
namespace {

constexpr f64 kCameraSmoothingPerSecond = 8.0;
constexpr f32 kGroundGridHalfExtentMetres = 10.0f;
constexpr Vec3 kCameraTargetOffset{0.0f, 1.05f, 0.4f};
constexpr Vec3 kCameraEyeOffset{0.0f, 3.15f, -6.4f};  // orbit angle 0: straight behind
constexpr std::array<f32, 2> kStatusBarHeightMetres{3.0f, 2.35f};

constexpr render::Color kWhite{1.0f, 1.0f, 1.0f, 1.0f};
constexpr render::Color kLockedTint{0.62f, 0.78f, 1.0f, 1.0f};
constexpr render::Color kTargetRingColor{0.95f, 0.72f, 0.16f, 0.88f};
constexpr render::Color kLockedRingColor{0.3f, 0.72f, 1.0f, 0.85f};
constexpr render::Color kBeamColor{0.45f, 0.82f, 1.0f, 0.88f};

constexpr f32 kTargetRingLiftMetres = 0.015f;
constexpr f32 kTargetRingRadius = 0.78f;
constexpr f32 kTargetRingThickness = 0.07f;
constexpr u32 kTargetRingSegments = 48;
constexpr f32 kLockedRingLiftMetres = 2.0f;
constexpr f32 kLockedRingRadius = 0.42f;
constexpr f32 kLockedRingThickness = 0.09f;
constexpr u32 kLockedRingSegments = 32;
constexpr f32 kBeamSizeMetres = 0.72f;
constexpr f32 kBeamTurnsRadians = 4.0f;

constexpr f32 kAdditiveAlphaFactor = 0.24f;
constexpr f32 kQuadMinimumMetres = 0.15f;
constexpr f32 kAdditiveQuadMinimumMetres = 0.35f;
constexpr f32 kGroundMinimumRadius = 0.25f;
constexpr f32 kGroundMinimumThickness = 0.04f;
constexpr f32 kGroundThicknessPerRadius = 0.08f;
constexpr u32 kGroundSegments = 48;

// The warrior's spare weapon on its back is never shown.
constexpr std::array<std::string_view, 1> kWarriorHiddenMeshes{"CH01021101"};

Vec3 smoothToward(Vec3 from, Vec3 to, f32 k) noexcept { return from + (to - from) * k; }

}  // namespace

void ContentScene::present(f64 alpha) {
    const f32 a = alpha > 0.0 ? static_cast<f32>(std::min(alpha, 1.0)) : 0.0f;
    alpha_ = a;
    for (u32 index = 0; index < 2; ++index) {
        CharacterSlot& slot = slots_[index];
        slot.lastDrawnPosition = drawnPosition(index, a);
        slot.lastDrawnYawRadians = lerpYaw(slot.previousYawRadians, slot.yawRadians, a);
        slot.lastDrawnValid = true;
    }
    // The local fighter is drawn ahead of the server and the opponent behind it: running at each
    // other they would meet on the screen before they do on the server, which keeps them a body's
    // width apart. The local one is drawn at the other's edge meanwhile.
    Vec3& local = slots_[controlledSlot_].lastDrawnPosition;
    const Vec3 other = slots_[opponentSlot_].lastDrawnPosition;
    const f32 dx = local.x - other.x;
    const f32 dz = local.z - other.z;
    const f32 apart = std::hypot(dx, dz);
    if (apart < kBodyWidthMetres) {
        // Drawn on the very same spot (a prediction that waits for a frozen link's commands),
        // the local fighter steps back from where it faces.
        const f32 yaw = slots_[controlledSlot_].lastDrawnYawRadians;
        const f32 awayX = apart > kBodyWidthMetres * 1e-6f ? dx / apart : -std::sin(yaw);
        const f32 awayZ = apart > kBodyWidthMetres * 1e-6f ? dz / apart : -std::cos(yaw);
        local.x = std::clamp(other.x + awayX * kBodyWidthMetres, -kArenaBoundMetres, kArenaBoundMetres);
        local.z = std::clamp(other.z + awayZ * kBodyWidthMetres, -kArenaBoundMetres, kArenaBoundMetres);
        // Against the arena's edge it steps along the edge instead.
        const auto along = [](f32 from, f32 across, f32 away) {
            const f32 length = std::sqrt(std::max(0.0f, kBodyWidthMetres * kBodyWidthMetres - across * across));
            return std::clamp(from + std::copysign(length, away), -kArenaBoundMetres, kArenaBoundMetres);
        };
        if (std::abs(local.x) == kArenaBoundMetres && std::abs(local.z) < kArenaBoundMetres) {
            local.z = along(other.z, local.x - other.x, awayZ);
        } else if (std::abs(local.z) == kArenaBoundMetres && std::abs(local.x) < kArenaBoundMetres) {
            local.x = along(other.x, local.z - other.z, awayX);
        }
    }
    const f32 k = static_cast<f32>(1.0 - std::exp(-kCameraSmoothingPerSecond * lastFrameSeconds_));
    const Vec3 focus = slots_[controlledSlot_].lastDrawnPosition + kCameraTargetOffset;
    const Vec3 target = smoothToward({camera_.target[0], camera_.target[1], camera_.target[2]}, focus, k);
    const Vec3 eye = smoothToward({camera_.eye[0], camera_.eye[1], camera_.eye[2]}, focus + kCameraEyeOffset, k);
    camera_.target = toRender(target);
    camera_.eye = toRender(eye);
}

void ContentScene::draw(render::RenderDevice& renderer, f64 alpha) {
    present(alpha);
    renderer.BeginFrame(camera_, static_cast<f32>(presentationSeconds_));
    renderer.DrawGroundGrid({0.0f, 0.0f, 0.0f}, kGroundGridHalfExtentMetres);
    drawCharacter(renderer, 0);
    drawCharacter(renderer, 1);
    drawEffects(renderer);
    if (beam_.active) {
        const f32 progress = static_cast<f32>(std::clamp(beam_.elapsedSeconds / kBeamSeconds, 0.0, 1.0));
        renderer.DrawBillboard(beam_.texture, toRender(lerp(beam_.start, beam_.end, progress)), kBeamSizeMetres,
                               kBeamSizeMetres, kBeamColor, kBeamTurnsRadians * progress, true);
    }
}

FighterView ContentScene::fighterView(u32 slotIndex) const {
    const CharacterSlot& slot = slots_[slotIndex];
    FighterView view;
    view.down = slot.down;
    if (locked(slotIndex)) {
        view.lockSecondsLeft =
            networked_ && slotIndex == controlledSlot_ ? server_.lockSecondsLeft(clockSeconds_) : slot.lockedSecondsLeft;
    }
    view.drawn = slot.lastDrawnValid;
    view.barCentre = toRender(slot.lastDrawnPosition + Vec3{0.0f, kStatusBarHeightMetres[slotIndex], 0.0f});
    return view;
}

// The local fighter is drawn with its correction offset, so that a server correction moves
// it smoothly instead of at once; an offset left over as the fighter runs into the arena's
// edge would draw it beyond the edge, where it never is.
Vec3 ContentScene::drawnPosition(u32 slotIndex, f32 alpha) const noexcept {
    const CharacterSlot& slot = slots_[slotIndex];
    const Vec3 position = lerp(slot.previousPosition, slot.position, alpha);
    if (slotIndex != controlledSlot_) {
        return position;
    }
    const Vec3 drawn = position + lerp(slot.previousCorrectionOffset, slot.correctionOffset, alpha);
    return {std::clamp(drawn.x, -kArenaBoundMetres, kArenaBoundMetres), drawn.y,
            std::clamp(drawn.z, -kArenaBoundMetres, kArenaBoundMetres)};
}

// Clip and fade times are wound back by the part of the step that has not happened yet.
void ContentScene::evaluateDrawPose(CharacterSlot& slot, f32 alpha) {
    const AnimationPlayer& player = slot.animation;
    const f64 behindSeconds = (1.0 - alpha) * stepSeconds_;
    const f64 clipSeconds = std::max(0.0, player.timeSeconds - behindSeconds * player.rate);
    const f64 fadeSeconds = std::max(0.0, player.fadeElapsedSeconds - behindSeconds);
    if (player.fading && fadeSeconds < player.fadeSeconds) {
        blendFade(slot, clipSeconds, fadeSeconds, slot.locals);
    } else {
        content::sampleClip(*slot.model, *player.clip, clipSeconds, player.loop, slot.locals);
    }
    content::computeGlobalMatrices(*slot.model, slot.locals, slot.globals);
}

void ContentScene::drawCharacter(render::RenderDevice& renderer, u32 slotIndex) {
    CharacterSlot& slot = slots_[slotIndex];
    const Vec3 position = slot.lastDrawnPosition;
    const f32 yaw = slot.lastDrawnYawRadians;
    evaluateDrawPose(slot, alpha_);

    const content::Matrix4 world =
        yawTranslation(yaw + slot.drawYawOffsetRadians, position + Vec3{0.0f, slot.drawLiftMetres, 0.0f});
    const std::span<const std::string_view> hidden =
        slotIndex == 0 ? std::span<const std::string_view>(kWarriorHiddenMeshes) : std::span<const std::string_view>();
    renderer.DrawModel(slot.modelHandle, *slot.model, slot.globals, world, locked(slotIndex) ? kLockedTint : kWhite, hidden,
                       render::kNoTexture, false);

    const f32 fraction = slot.maxHealth < 1 ? 0.0f : static_cast<f32>(slot.health) / static_cast<f32>(slot.maxHealth);
    const bool opponent = slotIndex == opponentSlot_;
    renderer.DrawStatusBar(toRender(position + Vec3{0.0f, kStatusBarHeightMetres[slotIndex], 0.0f}), fraction,
                           opponent);
    if (opponent) {
        renderer.DrawRing({position.x, kTargetRingLiftMetres, position.z}, kTargetRingRadius, kTargetRingThickness,
                          kTargetRingColor, kTargetRingSegments, false);
    }
    if (locked(slotIndex)) {
        renderer.DrawRing(toRender(position + Vec3{0.0f, kLockedRingLiftMetres, 0.0f}), kLockedRingRadius,
                          kLockedRingThickness, kLockedRingColor, kLockedRingSegments, false);
    }
}

void ContentScene::drawEffects(render::RenderDevice& renderer) {
    for (const effects::EffectDrawItem& item : effects_.drawItems()) {
        if (!item.visible) {
            continue;
        }
        const bool additive = item.blend == 1;
        const render::Color tint{item.colour[0], item.colour[1], item.colour[2],
                                 additive ? item.alpha * kAdditiveAlphaFactor : item.alpha};
        const render::Vec3 centre{item.world[12], item.world[13], item.world[14]};
        switch (item.renderType) {
            case effects::RenderType::GroundMark: {
                const f32 half = std::max(item.groundSizeFactor, item.groundMinimumSize) * 0.5f;
                renderer.DrawRing({centre[0], centre[1] + item.groundLiftMetres, centre[2]},
                                  std::max(kGroundMinimumRadius, half),
                                  std::max(kGroundMinimumThickness, kGroundThicknessPerRadius * half), tint,
                                  kGroundSegments, additive);
                break;
            }
            case effects::RenderType::Quad:
            case effects::RenderType::AdditiveQuad: {
                const render::TextureHandle* texture = effectTexture(item.texturePath);
                if (texture == nullptr) {
                    break;
                }
                const bool alwaysAdditive = item.renderType == effects::RenderType::AdditiveQuad;
                const f32 minimum = alwaysAdditive ? kAdditiveQuadMinimumMetres : kQuadMinimumMetres;
                renderer.DrawBillboard(*texture, centre, std::max(minimum, item.quadWidthMetres),
                                       std::max(minimum, item.quadHeightMetres), tint, item.quadRotationRadians,
                                       alwaysAdditive || additive);
                break;
            }
            case effects::RenderType::Model: {
                const EffectModel* effect = effectModel(item.modelPath);
                if (effect == nullptr) {
                    break;
                }
                const render::TextureHandle* texture = effectTexture(item.texturePath);
                renderer.DrawModel(effect->handle, effect->model, effect->staticPose, content::Matrix4{item.world},
                                   tint, {}, texture != nullptr ? *texture : render::kNoTexture, additive);
                break;
            }
        }
    }
}

}  // namespace kestrune::scene
