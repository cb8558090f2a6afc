#pragma once
// EffectSystem: the live skill effects of one duel. Spawn requests (local predictions and
// server combat events) start the catalogue's definitions as timed components; the system
// refuses an event it has already shown, never holds more than its configured number of
// components, advances on its own presentation clock and keeps a flat list of draw items.
//
// Single-threaded (the main thread owns it). spawn() reports bad requests through its
// status and never throws for them; create() and update() throw as documented, and a
// throwing update() changes nothing. spawn() reserves all the room its components need, so
// update() never allocates. A moved-from system may only be destroyed or assigned to.

#include <array>
#include <memory>
#include <span>
#include <string_view>

#include "base/types.h"
#include "effects/effect_catalogue.h"
#include "effects/effect_math.h"

namespace kestrune::effects {

struct EffectConfig {
    u64 maxActiveComponents = 0;
    u64 maxRememberedEvents = 0;
};

// Callers build rotations about the vertical axis only, with unit scale (yawTransform).
struct EffectTransform {
    Vec3 position{};
    Quat rotation{};
    Vec3 scale{1.0f, 1.0f, 1.0f};
};

// A character at `position` facing `yawRadians` (atan2(x, z) of its forward direction).
EffectTransform yawTransform(Vec3 position, f32 yawRadians) noexcept;

struct EffectSpawnRequest {
    u64 eventId = 0;  // the server's event id, or a local counter for local spawns
    u8 kind = 0;      // 1 action started; 2 and 3 the two hit stages
    u32 skill = 0;
    u32 sourceEntityId = 0;
    u32 targetEntityId = 0;
    EffectTransform source{};  // the acting character
    EffectTransform target{};  // the character it acts on
};

enum class EffectSpawnStatus : u8 {
    Spawned = 0,
    NotApplicable = 1,     // no effect belongs to this skill and stage
    Duplicate = 2,         // this event was already shown
    CapacityExceeded = 3,  // nothing created and the event not remembered, so a retry may succeed
    InvalidRequest = 4,
};

struct EffectSpawnResult {
    EffectSpawnStatus status = EffectSpawnStatus::NotApplicable;
    u64 definitionsStarted = 0;
    u64 componentsCreated = 0;
};

// What the scene draws for one live component. Paths are catalogue strings (static storage),
// empty when the template has none.
struct EffectDrawItem {
    u64 componentId = 0;
    u64 eventId = 0;
    u32 skill = 0;
    u32 definitionId = 0;
    u32 sourceEntityId = 0;
    u32 targetEntityId = 0;
    u16 group = 0;           // of the component reference
    u16 order = 0;           // of the component reference
    u16 templateNumber = 0;  // the template's second id
    u16 instanceIndex = 0;
    u8 kind = 0;
    bool followsTarget = false;
    RenderType renderType = RenderType::Model;
    u8 blend = 0;  // 1 additive translucent, 0 opaque
    std::string_view modelPath;
    std::string_view texturePath;
    // Models use all of it; quads and ground marks only the translation (elements 12..14).
    Matrix4 world{};
    std::array<f32, 4> colour{};  // R, G, B in 0..1, then the alpha again
    f32 alpha = 0.0f;             // 0..1, 0 while waiting for the reference's delay
    f32 normalizedTime = 0.0f;    // age / lifetime clamped to 0..1, 0 while waiting
    f32 ageSeconds = 0.0f;        // negative while waiting
    f32 lifetimeSeconds = 0.0f;
    f32 delaySeconds = 0.0f;
    f32 durationSeconds = 0.0f;   // of the definition
    // Quads (types 1 and 3): width A3 x size factor and height B0 in metres, rotation B1.
    f32 quadWidthMetres = 0.0f;
    f32 quadHeightMetres = 0.0f;
    f32 quadRotationRadians = 0.0f;
    // Ground marks (type 2): the size factor, the smallest extent it is drawn at (1.0) and
    // its lift above the ground (0.012 m), not included in `world`.
    f32 groundSizeFactor = 0.0f;
    f32 groundMinimumSize = 0.0f;
    f32 groundLiftMetres = 0.0f;
    bool depthWrite = false;  // opaque components (blend 0) write depth
    bool depthTest = true;    // every component is depth-tested
    bool visible = false;     // alpha > 0.002 and the delay has passed
};

class EffectSystem {
public:
    // Throws std::invalid_argument "effect maxActiveComponents must be greater than zero" or
    // "effect maxRememberedEvents must be greater than zero", checked in that order.
    static EffectSystem create(const EffectConfig& config);

    EffectSystem(EffectSystem&&) noexcept;
    EffectSystem& operator=(EffectSystem&&) noexcept;
    EffectSystem(const EffectSystem&) = delete;
    EffectSystem& operator=(const EffectSystem&) = delete;
    ~EffectSystem();

    // Creates all components of the request's definitions or none; on any status but
    // Spawned the system is unchanged, and so it is when std::bad_alloc escapes (every
    // allocation happens before the first change).
    EffectSpawnResult spawn(const EffectSpawnRequest& request);

    // Advances the clock, drops finished components and rebuilds the draw list. Throws
    // std::invalid_argument "effect deltaSeconds must be finite and non-negative" and, when
    // the exact sum would pass the largest finite double (even if the rounded one would not),
    // std::overflow_error "effect presentation clock overflow".
    void update(f64 deltaSeconds);

    // One item per live component, in spawn order; valid until the next spawn or update.
    std::span<const EffectDrawItem> drawItems() const noexcept;
    u64 activeComponentCount() const noexcept;
    f64 clock() const noexcept;  // seconds

    // Forgets every shown event, so that any of them may be spawned again.
    void forgetEvents() noexcept;

private:
    struct State;
    explicit EffectSystem(std::unique_ptr<State> state) noexcept;

    std::unique_ptr<State> state_;
};

namespace detail {

// Whether `needed` more components fit beside `live` ones under `maxActiveComponents`
// without the component id counter (next id `nextComponentId`) passing its largest value.
constexpr bool spawnFits(u64 live, u64 maxActiveComponents, u64 nextComponentId, u64 needed) noexcept {
    return live <= maxActiveComponents && needed <= maxActiveComponents - live &&
           needed <= ~u64{0} - nextComponentId;
}

}  // namespace detail

}  // namespace kestrune::effects
