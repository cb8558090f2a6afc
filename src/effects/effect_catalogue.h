#pragma once
// The effect catalogue: every skill effect the program can show, as constant data compiled
// into the program. Definitions name a contiguous run of component references; a reference
// places a component template with a delay and an offset; a template says how the component
// looks and which keyframe tracks animate it; the spawn rule says which definitions a skill
// and stage start. All tables are read-only, indexed by position, and live for the whole
// program; the spans and pointers returned here never dangle. Model and texture paths are
// relative to the content's "effects" directory.

#include <array>
#include <span>
#include <string_view>

#include "base/types.h"
#include "effects/effect_math.h"

namespace kestrune::effects {

enum class RenderType : u8 {
    Model = 0,         // the template's model, drawn with its texture
    Quad = 1,          // camera-facing textured quad sized by the track
    GroundMark = 2,    // flat ring on the ground
    AdditiveQuad = 3,  // camera-facing textured quad, always blended additively
};

// One key of a track, 40 bytes.
struct Keyframe {
    f32 time = 0.0f;           // normalised 0..1, never decreasing within a track
    u32 colour = 0;            // A in bits 24..31, R 16..23, G 8..15, B 0..7
    std::array<f32, 4> a{};    // A0..A2 local offset in metres; A3 quad width (before the
                               // size factor) or model x scale
    std::array<f32, 4> b{};    // B0 quad height or model y scale; B1 quad rotation, or with
                               // B2 and B3 the model's angles about x, y and z (radians)
};
static_assert(sizeof(Keyframe) == 40, "a key is 40 bytes");

struct KeyframeTrack {
    u16 firstKey = 0;
    u8 keyCount = 0;
};

struct ComponentTemplate {
    u16 family = 0;
    u16 number = 0;                // carried into the draw items
    std::string_view modelPath;    // empty when the component has no model
    std::string_view texturePath;
    RenderType renderType = RenderType::Model;
    u8 blend = 1;                  // 1 additive translucent, 0 opaque
    f64 lifetimeSeconds = 0.0;
    f32 sizeFactor = 1.0f;
    u16 firstTrack = 0;            // instance i animates along track firstTrack + i
    u16 instanceCount = 1;         // 0 counts as 1
};

// Instances a template creates per reference.
constexpr u16 instancesOf(const ComponentTemplate& componentTemplate) noexcept {
    return componentTemplate.instanceCount == 0 ? u16{1} : componentTemplate.instanceCount;
}

struct ComponentReference {
    u16 templateIndex = 0;
    f64 delaySeconds = 0.0;
    Vec3 offsetMetres{};
    u16 group = 0;
    u16 order = 0;
};

struct EffectDefinition {
    u32 id = 0;
    f64 durationSeconds = 0.0;   // nominal, carried into the draw items
    u16 firstReference = 0;
    u16 lastReference = 0;       // inclusive
};

// What one skill at one stage (combat event kind 1, 2 or 3) starts.
struct SpawnRule {
    u32 skill = 0;
    u8 kind = 0;
    // The components are anchored at the target's transform and follow the target;
    // otherwise they are anchored at the source's transform.
    bool followsTarget = false;
    u8 definitionCount = 0;
    std::array<u16, 2> definitions{};  // indices into effectDefinitions()
    u64 componentCount = 0;            // components one spawn creates
};

std::span<const EffectDefinition> effectDefinitions() noexcept;
std::span<const ComponentReference> componentReferences() noexcept;
std::span<const ComponentTemplate> componentTemplates() noexcept;
std::span<const KeyframeTrack> keyframeTracks() noexcept;
std::span<const Keyframe> keyframes() noexcept;
std::span<const SpawnRule> spawnRules() noexcept;

// The keys of one of the catalogue's tracks.
std::span<const Keyframe> trackKeys(const KeyframeTrack& track) noexcept;

// nullptr when no definition has this id.
const EffectDefinition* findEffectDefinition(u32 id) noexcept;

// nullptr when the skill shows nothing at this stage.
const SpawnRule* findSpawnRule(u32 skill, u8 kind) noexcept;

}  // namespace kestrune::effects
