#include "effects/effect_system.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <limits>
#include <span>
#include <stdexcept>
#include <vector>

#include "effects/keyframe_sampling.h"

namespace kestrune::effects {
namespace {

constexpr f64 kLargestClockSeconds = std::numeric_limits<f64>::max();
// Below this a rotation has no direction to normalise to.
constexpr f64 kMinimumRotationSquaredLength = 1e-12;
// Fainter components are listed but not drawn.
constexpr f32 kVisibleAlphaThreshold = 0.002f;
constexpr f32 kGroundMinimumSize = 1.0f;
// Keeps ground marks clear of the floor's depth.
constexpr f32 kGroundLiftMetres = 0.012f;
// First allocation of the component and draw lists and of the event memory; they grow
// geometrically from here up to their configured maximum.
constexpr std::size_t kInitialCapacity = 64;

// A ground mark is drawn in its local xy plane; this turns that plane onto the ground with
// the mark's front (+z) facing up: x stays, y goes to -z, z goes to +y.
constexpr std::array<Vec3, 3> kGroundAxes{Vec3{1.0f, 0.0f, 0.0f}, Vec3{0.0f, 0.0f, -1.0f},
                                          Vec3{0.0f, 1.0f, 0.0f}};

struct RememberedEvent {
    u64 eventId = 0;
    u32 skill = 0;
    u32 sourceEntityId = 0;
    u32 attachedTargetId = 0;  // the target entity when the effect follows it, else 0
    u8 stage = 0;              // 0 for kind 1, 1 for the hit stages

    friend bool operator==(const RememberedEvent&, const RememberedEvent&) = default;
};

// Grows `list` so that `required` entries fit: geometrically, never past `limit` (which is at
// least `required`), so that spawns do not reallocate every time.
template <typename T>
void reserveFor(std::vector<T>& list, std::size_t required, u64 limit) {
    if (required <= list.capacity()) return;
    const std::size_t grown = std::max({required, list.capacity() * 2, kInitialCapacity});
    list.reserve(static_cast<std::size_t>(std::min<u64>(grown, limit)));
}

// The keys of the last spawns, at most `capacity`, the oldest dropped first. The low 32 bits
// of the event ids also sit in a dense array of their own: the search compares them a block
// at a time, a loop the compiler vectorises even for plain SSE2 (which has no 64-bit compare),
// and compares whole keys only inside a block where such an id matches.
class EventMemory {
public:
    explicit EventMemory(u64 capacity) noexcept : capacity_(capacity) {}

    bool contains(const RememberedEvent& key) const noexcept {
        constexpr std::size_t kBlock = 64;
        const u32* idLows = idLows_.data();
        const u32 idLow = lowBits(key.eventId);
        const std::size_t count = idLows_.size();
        for (std::size_t start = 0; start < count; start += kBlock) {
            const std::size_t end = std::min(count, start + kBlock);
            u32 matches = 0;
            for (std::size_t i = start; i < end; ++i) matches |= static_cast<u32>(idLows[i] == idLow);
            if (matches == 0) continue;
            for (std::size_t i = start; i < end; ++i) {
                if (keys_[i] == key) return true;
            }
        }
        return false;
    }

    // Makes room for one more key, so that the add() that follows cannot fail.
    void reserveForOne() {
        if (idLows_.size() == capacity_) return;
        reserveFor(idLows_, idLows_.size() + 1, capacity_);
        reserveFor(keys_, keys_.size() + 1, capacity_);
    }

    void add(const RememberedEvent& key) noexcept {
        if (idLows_.size() < capacity_) {
            idLows_.push_back(lowBits(key.eventId));
            keys_.push_back(key);
            return;
        }
        idLows_[oldest_] = lowBits(key.eventId);
        keys_[oldest_] = key;
        oldest_ = (oldest_ + 1) % idLows_.size();
    }

    void clear() noexcept {
        idLows_.clear();
        keys_.clear();
        oldest_ = 0;
    }

private:
    static constexpr u32 lowBits(u64 eventId) noexcept { return static_cast<u32>(eventId); }

    u64 capacity_;
    std::vector<u32> idLows_;
    std::vector<RememberedEvent> keys_;
    std::size_t oldest_ = 0;  // once full, the next slot to reuse
};

struct Component {
    // The expiry pass reads only the first three fields.
    f64 spawnClock = 0.0;
    f64 delaySeconds = 0.0;
    f64 lifetimeSeconds = 0.0;
    u64 id = 0;
    const EffectDefinition* definition = nullptr;
    const ComponentReference* reference = nullptr;
    const ComponentTemplate* componentTemplate = nullptr;
    std::span<const Keyframe> keys;
    // The anchor's scale, normalised rotation and position; fixed for the component's life.
    Affine anchor;
    EffectSpawnRequest request;
    bool followsTarget = false;
    u16 instance = 0;
    // The model rotation of the last rebuild and the angles it was made from. Most tracks hold
    // their angles over a whole key span (the sampling returns them bit for bit), so this
    // saves the trigonometry and the quaternion products on most frames.
    std::array<f32, 3> rotationAngles{0.0f, 0.0f, 0.0f};
    std::array<Vec3, 3> rotationAxes = Affine{}.axes;
};

// Rows of the model rotation qx(B1) x qy(B2) x qz(B3) (z applied first), reusing the last
// one when the angles have not changed.
const std::array<Vec3, 3>& modelRotation(Component& component, f32 aboutX, f32 aboutY, f32 aboutZ) noexcept {
    const std::array<f32, 3> angles{aboutX, aboutY, aboutZ};
    if (angles != component.rotationAngles) {
        component.rotationAngles = angles;
        component.rotationAxes = rotationAxes(normalized(
            hamiltonProduct(hamiltonProduct(rotationAboutX(aboutX), rotationAboutY(aboutY)), rotationAboutZ(aboutZ))));
    }
    return component.rotationAxes;
}

f64 ageSeconds(const Component& component, f64 clock) noexcept {
    return clock - component.spawnClock - component.delaySeconds;
}

bool isFinite(Vec3 v) noexcept { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

bool isUsableAnchor(const EffectTransform& anchor) noexcept {
    const Quat& q = anchor.rotation;
    return isFinite(anchor.position) && isFinite(anchor.scale) && std::isfinite(q.x) && std::isfinite(q.y) &&
           std::isfinite(q.z) && std::isfinite(q.w) && squaredLength(q) > kMinimumRotationSquaredLength;
}

void fillDrawItem(Component& component, f64 clock, EffectDrawItem& item) noexcept {
    const EffectDefinition& definition = *component.definition;
    const ComponentReference& reference = *component.reference;
    const ComponentTemplate& componentTemplate = *component.componentTemplate;
    const EffectSpawnRequest& request = component.request;

    const f64 age = ageSeconds(component, clock);
    const bool waiting = age < 0.0;
    const f64 t = waiting ? 0.0 : std::clamp(age / component.lifetimeSeconds, 0.0, 1.0);
    // A catalogue track is never empty, so this cannot throw.
    const KeyframeSample sample = sampleTrack(component.keys, static_cast<f32>(t));
    const f32 alpha = waiting ? 0.0f : std::clamp(sample.colour[3], 0.0f, 1.0f);

    item.componentId = component.id;
    item.eventId = request.eventId;
    item.skill = request.skill;
    item.definitionId = definition.id;
    item.sourceEntityId = request.sourceEntityId;
    item.targetEntityId = request.targetEntityId;
    item.group = reference.group;
    item.order = reference.order;
    item.templateNumber = componentTemplate.number;
    item.instanceIndex = component.instance;
    item.kind = request.kind;
    item.followsTarget = component.followsTarget;
    item.renderType = componentTemplate.renderType;
    item.blend = componentTemplate.blend;
    item.modelPath = componentTemplate.modelPath;
    item.texturePath = componentTemplate.texturePath;

    // Anchor, then the reference's offset, then the track's offset, then the render type's
    // own orientation and size.
    const Vec3 offset = reference.offsetMetres + Vec3{sample.a[0], sample.a[1], sample.a[2]};
    item.quadWidthMetres = 0.0f;
    item.quadHeightMetres = 0.0f;
    item.quadRotationRadians = 0.0f;
    item.groundSizeFactor = 0.0f;
    item.groundMinimumSize = 0.0f;
    item.groundLiftMetres = 0.0f;
    switch (componentTemplate.renderType) {
    case RenderType::Model: {
        const auto& rows = modelRotation(component, sample.b[1], sample.b[2], sample.b[3]);
        const Affine local{{rows[0] * sample.a[3], rows[1] * sample.b[0], rows[2]}, offset};
        item.world = toMatrix4(compose(local, component.anchor));
        break;
    }
    case RenderType::GroundMark: {
        const f32 size = componentTemplate.sizeFactor;
        const Affine local{{kGroundAxes[0] * size, kGroundAxes[1] * size, kGroundAxes[2]}, offset};
        item.world = toMatrix4(compose(local, component.anchor));
        item.groundSizeFactor = size;
        item.groundMinimumSize = kGroundMinimumSize;
        item.groundLiftMetres = kGroundLiftMetres;
        break;
    }
    case RenderType::Quad:
    case RenderType::AdditiveQuad:
        // Camera-facing: only the position is placed here; the quad's own size and spin travel
        // beside the matrix.
        item.world = toMatrix4(Affine{.translation = transformPoint(component.anchor, offset)});
        item.quadWidthMetres = sample.a[3] * componentTemplate.sizeFactor;
        item.quadHeightMetres = sample.b[0];
        item.quadRotationRadians = sample.b[1];
        break;
    }

    item.colour = {sample.colour[0], sample.colour[1], sample.colour[2], alpha};
    item.alpha = alpha;
    item.normalizedTime = static_cast<f32>(t);
    item.ageSeconds = static_cast<f32>(age);
    item.lifetimeSeconds = static_cast<f32>(component.lifetimeSeconds);
    item.delaySeconds = static_cast<f32>(component.delaySeconds);
    item.durationSeconds = static_cast<f32>(definition.durationSeconds);
    item.depthWrite = componentTemplate.blend == 0;
    item.depthTest = true;
    item.visible = alpha > kVisibleAlphaThreshold && !waiting;
}

}  // namespace

struct EffectSystem::State {
    u64 maxActiveComponents = 0;
    f64 clock = 0.0;
    u64 nextComponentId = 1;
    EventMemory remembered{0};
    std::vector<Component> components;
    std::vector<EffectDrawItem> drawItems;  // always one per component, in the same order

    void fillDrawItems(std::size_t first) noexcept {
        for (std::size_t i = first; i < components.size(); ++i) fillDrawItem(components[i], clock, drawItems[i]);
    }
};

EffectTransform yawTransform(Vec3 position, f32 yawRadians) noexcept {
    return {position, rotationAboutY(yawRadians), Vec3{1.0f, 1.0f, 1.0f}};
}

EffectSystem EffectSystem::create(const EffectConfig& config) {
    if (config.maxActiveComponents == 0)
        throw std::invalid_argument("effect maxActiveComponents must be greater than zero");
    if (config.maxRememberedEvents == 0)
        throw std::invalid_argument("effect maxRememberedEvents must be greater than zero");
    auto state = std::make_unique<State>();
    state->maxActiveComponents = config.maxActiveComponents;
    state->remembered = EventMemory(config.maxRememberedEvents);
    return EffectSystem(std::move(state));
}

EffectSystem::EffectSystem(std::unique_ptr<State> state) noexcept : state_(std::move(state)) {}
EffectSystem::EffectSystem(EffectSystem&&) noexcept = default;
EffectSystem& EffectSystem::operator=(EffectSystem&&) noexcept = default;
EffectSystem::~EffectSystem() = default;

EffectSpawnResult EffectSystem::spawn(const EffectSpawnRequest& request) {
    State& state = *state_;
    const SpawnRule* rule = findSpawnRule(request.skill, request.kind);
    if (rule == nullptr) return {EffectSpawnStatus::NotApplicable, 0, 0};

    const bool followsTarget = rule->followsTarget;
    const EffectTransform& anchor = followsTarget ? request.target : request.source;
    if (request.sourceEntityId == 0 || (followsTarget && request.targetEntityId == 0) || !isUsableAnchor(anchor))
        return {EffectSpawnStatus::InvalidRequest, 0, 0};

    const RememberedEvent key{request.eventId, request.skill, request.sourceEntityId,
                              followsTarget ? request.targetEntityId : 0u, request.kind == 1 ? u8{0} : u8{1}};
    if (state.remembered.contains(key)) return {EffectSpawnStatus::Duplicate, 0, 0};

    const u64 needed = rule->componentCount;
    if (!detail::spawnFits(state.components.size(), state.maxActiveComponents, state.nextComponentId, needed))
        return {EffectSpawnStatus::CapacityExceeded, 0, 0};

    // Every allocation happens here, before anything changes, so that a failure leaves the
    // system as it was and the loops below cannot fail halfway.
    const std::size_t firstNew = state.components.size();
    const std::size_t liveAfter = firstNew + static_cast<std::size_t>(needed);
    reserveFor(state.components, liveAfter, state.maxActiveComponents);
    reserveFor(state.drawItems, liveAfter, state.maxActiveComponents);
    state.remembered.reserveForOne();

    const Affine anchorTransform =
        scaleRotateTranslate(anchor.scale, normalized(anchor.rotation), anchor.position);
    const auto definitions = effectDefinitions();
    const auto references = componentReferences();
    const auto templates = componentTemplates();
    const auto tracks = keyframeTracks();
    for (u8 d = 0; d < rule->definitionCount; ++d) {
        const EffectDefinition& definition = definitions[rule->definitions[d]];
        for (std::size_t r = definition.firstReference; r <= definition.lastReference; ++r) {
            const ComponentReference& reference = references[r];
            const ComponentTemplate& componentTemplate = templates[reference.templateIndex];
            for (u16 instance = 0; instance < instancesOf(componentTemplate); ++instance) {
                Component component;
                component.spawnClock = state.clock;
                component.delaySeconds = reference.delaySeconds;
                component.lifetimeSeconds = componentTemplate.lifetimeSeconds;
                component.id = state.nextComponentId++;
                component.definition = &definition;
                component.reference = &reference;
                component.componentTemplate = &componentTemplate;
                component.keys = trackKeys(tracks[std::size_t{componentTemplate.firstTrack} + instance]);
                component.anchor = anchorTransform;
                component.request = request;
                component.followsTarget = followsTarget;
                component.instance = instance;
                state.components.push_back(component);
            }
        }
    }
    assert(state.components.size() == liveAfter);
    state.remembered.add(key);

    // The clock has not moved, so the existing items stand as they are.
    state.drawItems.resize(liveAfter);
    state.fillDrawItems(firstNew);
    return {EffectSpawnStatus::Spawned, rule->definitionCount, needed};
}

void EffectSystem::update(f64 deltaSeconds) {
    State& state = *state_;
    if (!std::isfinite(deltaSeconds) || deltaSeconds < 0.0)
        throw std::invalid_argument("effect deltaSeconds must be finite and non-negative");
    if (deltaSeconds > kLargestClockSeconds - state.clock)
        throw std::overflow_error("effect presentation clock overflow");
    state.clock += deltaSeconds;

    const f64 clock = state.clock;
    std::erase_if(state.components,
                  [clock](const Component& c) { return ageSeconds(c, clock) >= c.lifetimeSeconds; });
    state.drawItems.resize(state.components.size());
    state.fillDrawItems(0);
}

std::span<const EffectDrawItem> EffectSystem::drawItems() const noexcept { return state_->drawItems; }

u64 EffectSystem::activeComponentCount() const noexcept { return state_->components.size(); }

f64 EffectSystem::clock() const noexcept { return state_->clock; }

void EffectSystem::forgetEvents() noexcept {
    state_->remembered.clear();
}

}  // namespace kestrune::effects
