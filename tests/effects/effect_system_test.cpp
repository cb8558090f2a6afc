#include <gmock/gmock.h>

#include <array>
#include <cmath>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "allocation_counter.h"
#include "effects/effect_system.h"
#include "effects/keyframe_sampling.h"

namespace kestrune::effects {

std::ostream& operator<<(std::ostream& out, EffectSpawnStatus status) { return out << int{static_cast<u8>(status)}; }

namespace {

constexpr f64 kLargestDouble = std::numeric_limits<f64>::max();
constexpr f32 kNaN = std::numeric_limits<f32>::quiet_NaN();
constexpr f32 kInfinity = std::numeric_limits<f32>::infinity();
using Request = EffectSpawnRequest;
using Edit = void (*)(Request&);
using enum EffectSpawnStatus;

// 1e-6f, whose square is just below the 1e-12 a rotation must exceed, and the next float.
constexpr f32 kShortW = 0x1.0c6f7ap-20f;
constexpr f32 kLongW = 0x1.0c6f7cp-20f;
constexpr u32 kSource = 11;
constexpr u32 kTarget = 22;

EffectSystem makeSystem(u64 active = 4096, u64 events = 8192) { return EffectSystem::create({active, events}); }

EffectSpawnRequest request(u64 eventId, u32 skill, u8 kind) {
    return {eventId, kind, skill, kSource, kTarget, yawTransform({1, 0, 2}, 0.5f), yawTransform({-3, 0, 4}, -2.0f)};
}

EffectSpawnStatus spawnStatus(EffectSystem& system, const EffectSpawnRequest& r) { return system.spawn(r).status; }

// Spawns events from `nextEvent` on until exactly `count` more components are live: skill 1002
// kind 2 makes 28, skill 1001 kind 1 makes 4.
void spawnComponents(EffectSystem& system, u64 count, u64& nextEvent) {
    for (; count >= 28; count -= 28) ASSERT_EQ(spawnStatus(system, request(nextEvent++, 1002, 2)), Spawned);
    for (; count >= 4; count -= 4) ASSERT_EQ(spawnStatus(system, request(nextEvent++, 1001, 1)), Spawned);
    ASSERT_EQ(count, 0u) << "not a sum of 28s and 4s";
}

// The clock lands exactly on `clock` when the step is exact, as it is between two clocks
// within a factor of two of each other.
void advanceTo(EffectSystem& system, f64 clock) { system.update(clock - system.clock()); }

// What a caller can see of a system, to show that a refused call changed nothing.
// Clock, live count, and each draw item's id and alpha.
auto observe(const EffectSystem& system) {
    std::vector<std::pair<u64, f32>> items;
    for (const EffectDrawItem& item : system.drawItems()) items.emplace_back(item.componentId, item.alpha);
    return std::tuple(system.clock(), system.activeComponentCount(), items);
}

using namespace testing;

TEST(EffectSystem, SpawnsTheCatalogueEffectOfEachSkillAndKind) {
    const struct { u32 skill; u8 kind; EffectSpawnStatus status; u64 definitions, components; u32 firstDefinitionId;
                   bool followsTarget; } cases[] = {
        {1001, 1, Spawned, 1, 4, 194, false}, {1001, 2, Spawned, 1, 4, 195, true},
        {1001, 3, Spawned, 1, 4, 195, true}, {1002, 1, Spawned, 2, 7, 221, false},
        {1002, 2, Spawned, 1, 28, 232, false}, {1001, 0, NotApplicable, 0, 0, 0, false},
        {1002, 3, NotApplicable, 0, 0, 0, false},  // a skill with effects, but not at this stage
        {2001, 1, NotApplicable, 0, 0, 0, false}};  // a skill without effects
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "skill " << c.skill << " kind " << int{c.kind});
        EffectSystem system = makeSystem();
        const EffectSpawnResult result = system.spawn(request(1, c.skill, c.kind));
        EXPECT_EQ(std::tuple(result.status, result.definitionsStarted, result.componentsCreated),
                  std::tuple(c.status, c.definitions, c.components));
        EXPECT_EQ(system.activeComponentCount(), c.components);
        ASSERT_EQ(system.drawItems().size(), c.components);
        if (c.components == 0) continue;
        EXPECT_EQ(system.drawItems().front().definitionId, c.firstDefinitionId);
        EXPECT_EQ(system.drawItems().back().followsTarget, c.followsTarget);
    }
}

TEST(EffectSystem, RefusesInvalidRequestsAndChecksOnlyTheAnchor) {
    const struct { const char* name; u32 skill; u8 kind; Edit edit; EffectSpawnStatus status; } cases[] = {
        {"source id 0", 1001, 1, [](Request& r) { r.sourceEntityId = 0; }, InvalidRequest},
        {"source id 0 at a hit", 1001, 3, [](Request& r) { r.sourceEntityId = 0; }, InvalidRequest},
        {"followed target id 0", 1001, 2, [](Request& r) { r.targetEntityId = 0; }, InvalidRequest},
        {"unfollowed target id 0", 1001, 1, [](Request& r) { r.targetEntityId = 0; }, Spawned},
        {"unfollowed target id 0 at a hit", 1002, 2, [](Request& r) { r.targetEntityId = 0; }, Spawned},
        {"no rule comes before validation", 2001, 1, [](Request& r) { r.sourceEntityId = 0; }, NotApplicable},
        {"anchor position NaN", 1001, 1, [](Request& r) { r.source.position.y = kNaN; }, InvalidRequest},
        {"anchor position infinite", 1002, 2, [](Request& r) { r.source.position.z = -kInfinity; }, InvalidRequest},
        {"anchor rotation NaN", 1001, 2, [](Request& r) { r.target.rotation.w = kNaN; }, InvalidRequest},
        {"anchor rotation infinite", 1001, 3, [](Request& r) { r.target.rotation.x = kInfinity; }, InvalidRequest},
        {"anchor scale infinite", 1002, 1, [](Request& r) { r.source.scale.x = kInfinity; }, InvalidRequest},
        {"anchor scale NaN", 1001, 2, [](Request& r) { r.target.scale.z = kNaN; }, InvalidRequest},
        {"zero rotation", 1001, 1, [](Request& r) { r.source.rotation = {0, 0, 0, 0}; }, InvalidRequest},
        {"rotation too short", 1001, 1, [](Request& r) { r.source.rotation = {0, 0, 0, kShortW}; }, InvalidRequest},
        {"rotation just long enough", 1001, 1, [](Request& r) { r.source.rotation = {0, 0, 0, kLongW}; }, Spawned},
        {"non-anchor position NaN", 1001, 1, [](Request& r) { r.target.position.x = kNaN; }, Spawned},
        {"non-anchor rotation zero", 1001, 2, [](Request& r) { r.source.rotation = {0, 0, 0, 0}; }, Spawned}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EffectSystem system = makeSystem();
        EffectSpawnRequest r = request(5, c.skill, c.kind);
        c.edit(r);
        const EffectSpawnResult result = system.spawn(r);
        EXPECT_EQ(result.status, c.status);
        if (c.status == Spawned) continue;
        EXPECT_EQ(std::tuple(result.componentsCreated, system.activeComponentCount(), system.drawItems().size()),
                  std::tuple(0u, 0u, 0u));
        // A refused request is not remembered.
        EXPECT_EQ(spawnStatus(system, request(5, 1001, 1)), Spawned);
    }

    // Squared in single precision this rotation (a half turn about x) would overflow to
    // infinity and normalise to nothing.
    EffectSystem system = makeSystem();
    EffectSpawnRequest huge = request(5, 1001, 1);
    huge.source.rotation = {1e30f, 0.0f, 0.0f, 0.0f};
    ASSERT_EQ(spawnStatus(system, huge), Spawned);
    EXPECT_FLOAT_EQ(system.drawItems().front().world[5], -1.0f);
}

TEST(EffectSystem, RecognisesRepeatsByEventSkillSourceAttachedTargetAndStageAndEvictsTheOldestFirst) {
    const auto same = [](Request&) {};
    const struct { const char* name; u32 skill; u8 firstKind, secondKind; Edit edit; EffectSpawnStatus status; }
        cases[] = {
        {"the same request", 1001, 1, 1, same, Duplicate}, {"kind 2 then kind 3 of 1001", 1001, 2, 3, same, Duplicate},
        {"kind 3 then kind 2 of 1001", 1001, 3, 2, same, Duplicate},
        {"action start then hit", 1001, 1, 2, same, Spawned},
        {"action start then hit, both anchored to the source", 1002, 1, 2, same, Spawned},
        {"another event id", 1002, 1, 1, [](Request& r) { r.eventId = 6; }, Spawned},
        {"another skill", 1002, 1, 1, [](Request& r) { r.skill = 1001; }, Spawned},
        {"another source", 1001, 1, 1, [](Request& r) { r.sourceEntityId = 12; }, Spawned},
        {"another followed target", 1001, 2, 2, [](Request& r) { r.targetEntityId = 23; }, Spawned},
        {"another target, not followed", 1001, 1, 1, [](Request& r) { r.targetEntityId = 23; }, Duplicate},
        {"another target of a source-anchored hit", 1002, 2, 2, [](Request& r) { r.targetEntityId = 23; }, Duplicate},
        {"moved characters", 1001, 1, 1, [](Request& r) { r.source.position.x += 5.0f; }, Duplicate}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EffectSystem system = makeSystem();
        ASSERT_EQ(spawnStatus(system, request(5, c.skill, c.firstKind)), Spawned);
        const auto before = observe(system);
        EffectSpawnRequest second = request(5, c.skill, c.secondKind);
        c.edit(second);
        const EffectSpawnResult result = system.spawn(second);
        EXPECT_EQ(result.status, c.status);
        if (c.status == Duplicate) {
            EXPECT_EQ(std::tuple(result.componentsCreated, observe(system)), std::tuple(0u, before));
            system.forgetEvents();
            EXPECT_EQ(spawnStatus(system, second), Spawned);
        }
    }

    // Remembered events are evicted oldest first, and a large memory finds them all.
    EffectSystem system = makeSystem(4096, 3);
    const auto spawnEvent = [&](u64 event) { return spawnStatus(system, request(event, 1001, 1)); };
    const struct { u64 eventId; EffectSpawnStatus status; } steps[] = {
        {1, Spawned}, {2, Spawned}, {3, Spawned}, {1, Duplicate}, {3, Duplicate}, {4, Spawned},  // drops 1
        {1, Spawned},   // drops 2
        {3, Duplicate}, {2, Spawned},  // drops 3
        {4, Duplicate}, {3, Spawned},  // drops 4: the ring wrapped round
        {4, Spawned},   {1, Spawned},  {2, Spawned}, {4, Duplicate}};
    for (std::size_t i = 0; i < std::size(steps); ++i)
        EXPECT_EQ(spawnEvent(steps[i].eventId), steps[i].status) << "step " << i << ", event " << steps[i].eventId;

    // A large memory finds every remembered event and only those: more than two search blocks
    // of 64 keys plus a tail.
    constexpr u64 kMemory = 130;
    constexpr u64 kHighBit = u64{1} << 32;
    system = makeSystem(4096, kMemory);
    for (u64 event = 1; event <= kMemory; ++event) ASSERT_EQ(spawnEvent(event), Spawned);
    for (u64 event = 1; event <= kMemory; ++event) EXPECT_EQ(spawnEvent(event), Duplicate) << event;
    // Equal in the low 32 bits to event 2, which is still remembered; pushes out event 1.
    EXPECT_EQ((std::tuple{spawnEvent(kHighBit + 2), spawnEvent(kHighBit + 2), spawnEvent(2), spawnEvent(1)}),
              std::tuple(Spawned, Duplicate, Duplicate, Spawned));
}

TEST(EffectSystem, RefusesWhatDoesNotFitWithinComponentAndIdLimitsAndAcceptsTheRetryLater) {
    EffectSystem system = makeSystem();
    u64 nextEvent = 100;
    ASSERT_NO_FATAL_FAILURE(spawnComponents(system, 4092, nextEvent));
    // Exactly the room that is left.
    ASSERT_EQ(spawnStatus(system, request(1, 1001, 1)), Spawned);
    ASSERT_EQ(system.activeComponentCount(), 4096u);

    const auto full = observe(system);
    // A known event is still a duplicate, not a capacity failure.
    EXPECT_EQ((std::tuple{spawnStatus(system, request(2, 1001, 1)), spawnStatus(system, request(3, 1002, 1)),
                          spawnStatus(system, request(1, 1001, 1))}),
              std::tuple(CapacityExceeded, CapacityExceeded, Duplicate));
    EXPECT_EQ(observe(system), full);

    system.update(2.0);  // longer than any component lives
    ASSERT_EQ(system.activeComponentCount(), 0u);
    ASSERT_EQ(spawnStatus(system, request(2, 1001, 1)), Spawned);
    EXPECT_EQ(system.drawItems().front().componentId, 4097u);

    // The decision itself, at the component and id limits.
    constexpr u64 kLargest = ~u64{0};
    const struct { const char* name; u64 live, maxActive, nextId, needed; bool fits; } cases[] = {
        // Exactly the room left and a full system are spawned end to end above.
        {"one more than the room left", 4093, 4096, 1, 4, false}, {"needs more than the maximum", 0, 3, 1, 4, false},
        {"one more than a huge room", 5, kLargest, 1, kLargest - 4, false},
        {"a huge room up to the last id", 0, kLargest, 1, kLargest - 1, true},
        {"a huge room past the last id", 0, kLargest, 1, kLargest, false},
        {"ids up to one below the largest", 0, 4096, kLargest - 4, 4, true},
        {"the counter would wrap", 0, 4096, kLargest - 3, 4, false},
        {"the counter is at its largest", 0, 4096, kLargest, 1, false}};
    for (const auto& c : cases) EXPECT_EQ(detail::spawnFits(c.live, c.maxActive, c.nextId, c.needed), c.fits) << c.name;
}

TEST(EffectSystem, SkillTwoStartCreatesSevenComponentsInCatalogueOrderWithTheirTracks) {
    EffectSystem system = makeSystem();
    ASSERT_EQ(spawnStatus(system, request(40, 1001, 1)), Spawned);  // ids 1 to 4
    ASSERT_EQ(spawnStatus(system, request(41, 1002, 1)), Spawned);

    using Row = std::tuple<u32, u16, u16, u16, u16, RenderType, f32, f32, f32, std::string_view>;
    const Row expected[] = {
        // definition, group, order, template number, instance, type, delay, lifetime, duration, texture
        {221, 406, 0, 268, 0, RenderType::Quad, 0.0f, 0.6f, 3.0f, "textures/preffect011.png"},
        {221, 406, 1, 269, 0, RenderType::Quad, 0.1f, 1.1f, 3.0f, "textures/partstreetlight01.png"},
        {221, 406, 2, 268, 0, RenderType::Quad, 0.1f, 0.6f, 3.0f, "textures/preffect011.png"},
        {221, 406, 3, 268, 0, RenderType::Quad, 0.2f, 0.6f, 3.0f, "textures/preffect011.png"},
        {222, 408, 0, 273, 0, RenderType::Quad, 0.0f, 0.4f, 1.0f, "textures/wrslugger02.png"},
        {222, 408, 1, 863, 0, RenderType::AdditiveQuad, 0.0f, 0.28f, 1.0f, "textures/mtgyration02.png"},
        {222, 408, 1, 863, 1, RenderType::AdditiveQuad, 0.0f, 0.28f, 1.0f, "textures/mtgyration02.png"}};
    const auto items = system.drawItems();
    ASSERT_EQ(items.size(), 4u + std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        const EffectDrawItem& item = items[4 + i];
        EXPECT_EQ(Row(item.definitionId, item.group, item.order, item.templateNumber, item.instanceIndex,
                      item.renderType, item.delaySeconds, item.lifetimeSeconds, item.durationSeconds, item.texturePath),
                  expected[i]);
        EXPECT_EQ(std::tuple(item.componentId, item.eventId, item.skill, item.kind, item.sourceEntityId,
                             item.targetEntityId, item.modelPath, item.depthWrite),
                  std::tuple(5u + i, u64{41}, u32{1002}, u8{1}, kSource, kTarget, "", false));
    }
    // The two instances of template 863 run along tracks 27 and 28, whose quad spins differ.
    EXPECT_EQ(std::tuple(items[9].quadRotationRadians, items[10].quadRotationRadians), std::tuple(0.0f, 1.2f));

    // Template 66/268 on track 6: at t = 0.18 / 0.6 = 0.3 exactly its key of 5 x 5 with alpha
    // AA and colour FF6D50.
    system.update(0.18);
    const EffectDrawItem& quad = system.drawItems()[4];
    const std::array size{quad.quadWidthMetres, quad.quadHeightMetres, quad.quadRotationRadians, quad.groundLiftMetres};
    EXPECT_THAT(size, ElementsAre(FloatEq(5.0f), FloatEq(5.0f), 0.0f, 0.0f));
    // ARGB AAFF6D50; the colour carries the alpha again.
    EXPECT_FLOAT_EQ(quad.alpha, 0xAA / 255.0f);
    EXPECT_THAT(quad.colour, ElementsAre(FloatEq(1.0f), FloatEq(0x6D / 255.0f), FloatEq(0x50 / 255.0f), quad.alpha));
}

// Skill 1001 kind 2: template 80/71 twice (reference order 0), then template 80/74 (lifetime
// 0.32 s) without delay (order 1) and with a delay of 0.15 s (order 2).
TEST(EffectSystem, DelayedComponentsAreListedButInvisibleUntilTheirDelayPassesEvenIfTheirTrackStartsOpaque) {
    constexpr f64 kSpawnClock = 8.0;  // ages count from the spawn, not from clock 0
    EffectSystem system = makeSystem();
    system.update(kSpawnClock);
    ASSERT_EQ(spawnStatus(system, request(1, 1001, 2)), Spawned);
    const struct { f64 clock; f32 alpha; bool visible; f32 delayedAlpha, delayedAge, delayedTime; bool delayedVisible; }
        steps[] = {
        {0.0, 0.0f, false, 0.0f, -0.15f, 0.0f, false}, {0.1, 76.0f / 255.0f, true, 0.0f, -0.05f, 0.0f, false},
        {0.15, 66.0f / 255.0f, true, 0.0f, 0.0f, 0.0f, false},
        {0.2, 48.0f / 255.0f, true, 50.0f / 255.0f, 0.05f, 0.15625f, true}};
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message() << "clock " << step.clock);
        advanceTo(system, kSpawnClock + step.clock);
        const auto items = system.drawItems();
        ASSERT_EQ(items.size(), 4u);
        // Template 80/71 has no offsets: it sits at the followed target.
        EXPECT_EQ(std::tuple(items[0].world[12], items[0].world[13], items[0].world[14]), std::tuple(-3.0f, 0.0f, 4.0f));
        const EffectDrawItem& delayed = items[3];
        EXPECT_THAT((std::array{items[2].alpha, delayed.alpha, delayed.ageSeconds, delayed.normalizedTime}),
                    Pointwise(FloatNear(1e-6f), {step.alpha, step.delayedAlpha, step.delayedAge, step.delayedTime}));
        EXPECT_EQ(std::tuple(items[2].visible, delayed.visible), std::tuple(step.visible, step.delayedVisible));
        EXPECT_EQ(delayed.colour[3], delayed.alpha);
    }

    // Waiting hides even a track that starts opaque. Skill 1002 kind 2, item 5: the impact
    // ground model, delay 0.05 s, track 17 at alpha FF from its first key.
    system = makeSystem();
    ASSERT_EQ(spawnStatus(system, request(1, 1002, 2)), Spawned);
    const struct { f64 clock; f32 alpha; bool visible; } opaqueSteps[] = {
        {0.0, 0.0f, false}, {0.04, 0.0f, false}, {0.05, 1.0f, true}};
    for (const auto& step : opaqueSteps) {
        SCOPED_TRACE(testing::Message() << "clock " << step.clock);
        advanceTo(system, step.clock);
        const EffectDrawItem& impact = system.drawItems()[5];
        EXPECT_EQ(std::tuple(impact.templateNumber, impact.alpha, impact.colour[3], impact.visible),
                  std::tuple(860, step.alpha, step.alpha, step.visible));
    }
}

TEST(EffectSystem, ComponentsExpireWhenTheirAgeReachesTheLifetime) {
    EffectSystem system = makeSystem();
    ASSERT_EQ(spawnStatus(system, request(1, 1001, 2)), Spawned);
    const struct { f64 clock; std::vector<u16> orders; } steps[] = {
        {std::nextafter(0.32, 0.0), {0, 0, 1, 2}}, {0.32, {0, 0, 2}},
        {0.46, {0, 0, 2}},  // the delayed one lives 0.15 s longer
        {0.48, {0, 0}}, {std::nextafter(0.5, 0.0), {0, 0}}, {0.5, {}}};
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message() << "clock " << step.clock);
        advanceTo(system, step.clock);
        ASSERT_EQ(system.clock(), step.clock);
        std::vector<u16> orders;
        for (const EffectDrawItem& item : system.drawItems()) orders.push_back(item.order);
        EXPECT_EQ(std::tuple(orders, system.activeComponentCount()), std::tuple(step.orders, step.orders.size()));
    }
}

// ---- World matrices, checked against plain matrix products ----

using Matrix = std::array<f64, 16>;

Matrix translation(f64 x, f64 y, f64 z) { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1}; }
// The product of `factors`, the first applied first.
Matrix product(std::initializer_list<Matrix> factors) {
    Matrix out = translation(0, 0, 0);
    for (const Matrix& m : factors) {
        Matrix next{};
        for (int i = 0; i < 16; ++i)  // row i / 4, column i % 4
            for (int k = 0; k < 4; ++k) next[i] += out[i / 4 * 4 + k] * m[k * 4 + i % 4];
        out = next;
    }
    return out;
}
Matrix scaling(f64 x, f64 y, f64 z) { return {x, 0, 0, 0, 0, y, 0, 0, 0, 0, z, 0, 0, 0, 0, 1}; }
// The row-vector rotation by `a` about axis 0 (x), 1 (y) or 2 (z): each row is the image of
// one unit axis, so the axis that follows the turning one gains sin(a) towards the next.
Matrix turn(int axis, f64 a) {
    Matrix m = translation(0, 0, 0);
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    m[i * 4 + i] = m[j * 4 + j] = std::cos(a);
    m[i * 4 + j] = std::sin(a);
    m[j * 4 + i] = -std::sin(a);
    return m;
}

void expectMatrixNear(const Matrix4& actual, const Matrix& expected) {
    for (std::size_t i = 0; i < 16; ++i) EXPECT_NEAR(actual[i], expected[i], 2e-5) << "element " << i;
}

TEST(EffectSystem, WorldMatricesStackAnchorReferenceTrackAndRenderType) {
    // Skill 1002 kind 2 at a source with a stretched scale and an unnormalised rotation.
    constexpr f64 kYaw = 0.7;
    EffectSpawnRequest r = request(9, 1002, 2);
    r.source = {{1.0f, 2.0f, 3.0f}, {0.0f, 3.0f * std::sin(0.35f), 0.0f, 3.0f * std::cos(0.35f)}, {2.0f, 1.0f, 0.5f}};
    const Matrix anchor = product({scaling(2, 1, 0.5), turn(1, kYaw), translation(1, 2, 3)});

    EffectSystem system = makeSystem();
    ASSERT_EQ(spawnStatus(system, r), Spawned);
    system.update(0.3);  // 0.25 s after the 0.05 s delay of the impact stones: t = 0.25 of 1.0 s
    const auto items = system.drawItems();
    ASSERT_EQ(items.size(), 28u);

    ASSERT_EQ(std::tuple(items[0].renderType, items[8].renderType, items[12].renderType, items[24].renderType),
              std::tuple(RenderType::GroundMark, RenderType::Model, RenderType::Model, RenderType::Quad));
    // Template 80/861, instance 2: track 20, angles (3, 3, -1), 0.07 x 0.07, offset z 1.
    expectMatrixNear(items[8].world, product({scaling(0.07, 0.07, 1), turn(2, -1), turn(1, 3), turn(0, 3),
                                              translation(0, 0, 1), anchor}));
    // Template 80/862, instance 2: track 24 halfway from (-1, -2, 0), 0.2 x 0.2 at time 0 to
    // (0, 0, 0), 0.25 x 0.15 at time 0.5: interpolated angles and unequal scales.
    expectMatrixNear(items[12].world,
                     product({scaling(0.225, 0.175, 1), turn(1, -1), turn(0, -0.5), translation(0, 0, 1), anchor}));

    // Template 66/271: track 9's offset (0, 0, 1) on the reference's (0, 0.5, 0). A camera-facing
    // quad carries only its position.
    const Matrix position = product({translation(0, 0.5, 1), anchor});
    expectMatrixNear(items[24].world, translation(position[12], position[13], position[14]));
    EXPECT_EQ(items[8].modelPath, "models/impact_stone_01/effect.kmdl");
    EXPECT_TRUE(items[8].depthWrite);

    // Ground mark 68/52: track 12's offset (0, 0, 1); the lift travels beside the matrix.
    const EffectDrawItem& ground = items[0];
    const Matrix ahead = product({translation(0, 0, 1), anchor});
    EXPECT_EQ(std::tuple(ground.groundSizeFactor, ground.groundMinimumSize, ground.groundLiftMetres),
              std::tuple(1.0f, 1.0f, 0.012f));
    for (const std::size_t i : {12u, 13u, 14u}) EXPECT_NEAR(ground.world[i], ahead[i], 1e-5) << i;
}

// ---- Keyframe tracks ----

// A key whose every value is `value`, with the given alpha and a red channel of 0x33.
Keyframe ramp(f32 time, f32 value, u32 alpha) {
    return {time, (alpha << 24) | 0x330000u, {value, value, value, value}, {value, value, value, value}};
}

TEST(KeyframeSampling, HoldsEndsInterpolatesBetweenKeysAndRefusesAnEmptyTrack) {
    const std::vector<Keyframe> keys{ramp(0.2f, 10.0f, 0x00), ramp(0.5f, 20.0f, 0xFF), ramp(0.5f, 40.0f, 0x00),
                                     ramp(0.75f, 50.0f, 0x80)};
    const std::vector<Keyframe> single{ramp(0.5f, 7.0f, 0x40)};
    // Keys at most a millionth apart step to the later key.
    const std::vector<Keyframe> aMillionthApart{ramp(0.0f, 1.0f, 0), ramp(1e-6f, 2.0f, 0)};
    const std::vector<Keyframe> twoMillionthsApart{ramp(0.0f, 1.0f, 0), ramp(2e-6f, 2.0f, 0)};
    const struct { const char* name; const std::vector<Keyframe>& keys; f32 t, value, alpha; } cases[] = {
        {"before the first key", keys, 0.0f, 10.0f, 0.0f}, {"at the first key", keys, 0.2f, 10.0f, 0.0f},
        {"between the first two keys", keys, 0.35f, 15.0f, 0.5f},
        {"at a key shared by two keys takes the earlier", keys, 0.5f, 20.0f, 1.0f},
        {"just after a shared time ramps from the later", keys, 0.625f, 45.0f, 64.0f / 255.0f},
        {"at the last key", keys, 0.75f, 50.0f, 128.0f / 255.0f},
        {"past the last key", keys, 1.0f, 50.0f, 128.0f / 255.0f},
        {"a single key before it", single, 0.0f, 7.0f, 64.0f / 255.0f},
        {"a single key at it", single, 0.5f, 7.0f, 64.0f / 255.0f},
        {"a single key after it", single, 1.0f, 7.0f, 64.0f / 255.0f},
        {"a millionth apart is a step", aMillionthApart, 0.5e-6f, 2.0f, 0.0f},
        {"two millionths apart is a ramp", twoMillionthsApart, 1e-6f, 1.5f, 0.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const KeyframeSample sample = sampleTrack(c.keys, c.t);
        EXPECT_THAT((std::array{sample.a[0], sample.a[3], sample.b[0], sample.b[3]}), Each(FloatEq(c.value)));
        EXPECT_FLOAT_EQ(sample.colour[3], c.alpha);
        EXPECT_FLOAT_EQ(sample.colour[0], 0x33 / 255.0f);
    }
    // Track 0 starts with two keys at time 0; an empty track has nothing to sample.
    const auto track = trackKeys(keyframeTracks()[0]);
    EXPECT_EQ(sampleTrack(track, 0.0f).colour[3], 0.0f);
    // Halfway from the second time-0 key to the key at 0.1 (alpha 0x90).
    EXPECT_FLOAT_EQ(sampleTrack(track, 0.05f).colour[3], 0.5f * 0x90 / 255.0f);
    EXPECT_FLOAT_EQ(sampleTrack(track, 0.05f).a[3], 4.8f);
    EXPECT_THAT([] { sampleTrack({}, 0.5f); }, ThrowsMessage<std::invalid_argument>("keyframe track has no keys"));
}

// ---- Creation and update arguments, and the clock ----

TEST(EffectSystem, CreateRejectsZeroLimitsInOrderAndUpdateAdvancesTheClockOrRefusesTheStepAndChangesNothing) {
    const std::string active = "effect maxActiveComponents must be greater than zero";
    const std::pair<EffectConfig, std::string> configs[] = {
        {{0, 0}, active}, {{0, 1}, active}, {{1, 0}, "effect maxRememberedEvents must be greater than zero"}};
    for (const auto& [config, message] : configs)
        EXPECT_THAT([&] { EffectSystem::create(config); }, ThrowsMessage<std::invalid_argument>(message));

    enum Outcome { kAdvances, kBadStep, kOverflow };
    constexpr f64 kInfiniteStep = std::numeric_limits<f64>::infinity();
    const struct { const char* name; f64 start, deltaSeconds; Outcome outcome; } cases[] = {
        {"zero only rebuilds the draw list", 0.1, 0.0, kAdvances},
        {"minus zero only rebuilds the draw list", 0.1, -0.0, kAdvances},
        {"up to the largest double", kLargestDouble / 2, kLargestDouble / 2, kAdvances},
        {"zero at the largest double", kLargestDouble, 0.0, kAdvances},
        {"NaN", 0.2, std::numeric_limits<f64>::quiet_NaN(), kBadStep}, {"infinity", 0.2, kInfiniteStep, kBadStep},
        {"minus infinity", 0.2, -kInfiniteStep, kBadStep}, {"negative", 0.2, -0.01, kBadStep},
        {"smallest negative", 0.2, -std::numeric_limits<f64>::denorm_min(), kBadStep},
        {"any step at the largest double", kLargestDouble, 1.0, kOverflow},
        {"past the largest double", kLargestDouble / 2, kLargestDouble, kOverflow},
        {"the largest double twice", kLargestDouble, kLargestDouble, kOverflow}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EffectSystem system = makeSystem();
        // Components part-way through their tracks, and fresh ones even after a huge start.
        ASSERT_EQ(spawnStatus(system, request(1, 1002, 2)), Spawned);
        system.update(c.start);
        ASSERT_EQ(spawnStatus(system, request(2, 1001, 1)), Spawned);
        const auto before = observe(system);
        const auto update = [&] { system.update(c.deltaSeconds); };
        if (c.outcome == kAdvances) {
            update();
            EXPECT_EQ(system.clock(), c.start + c.deltaSeconds);
        } else if (c.outcome == kBadStep) {
            EXPECT_THAT(update,
                        ThrowsMessage<std::invalid_argument>("effect deltaSeconds must be finite and non-negative"));
        } else {
            EXPECT_THAT(update, ThrowsMessage<std::overflow_error>("effect presentation clock overflow"));
        }
        // A refused step, and a zero one, change nothing.
        if (c.outcome != kAdvances || c.deltaSeconds == 0.0) EXPECT_EQ(observe(system), before);
    }
}

TEST(EffectSystem, UpdateAllocatesNothingOnceTheDrawListHasGrown) {
    const std::size_t beforeSpawning = test::allocationCount();
    EffectSystem system = makeSystem();
    u64 nextEvent = 1;
    ASSERT_NO_FATAL_FAILURE(spawnComponents(system, 4096, nextEvent));
    ASSERT_GT(test::allocationCount(), beforeSpawning) << "the allocation counter does not see allocations";
    system.update(0.0);

    const std::size_t before = test::allocationCount();
    for (int frame = 0; frame < 120; ++frame) system.update(1.0 / 60.0);
    EXPECT_EQ(test::allocationCount(), before);
    EXPECT_LT(system.activeComponentCount(), 4096u);  // components expired on the way
}

}  // namespace
}  // namespace kestrune::effects
