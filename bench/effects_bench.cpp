#include <benchmark/benchmark.h>

#include "effects/effect_system.h"

// The duel scene's effect system: 4096 live components and 8192 remembered events.

namespace kestrune::effects {
namespace {

constexpr u64 kMaxActiveComponents = 4096;
constexpr u64 kMaxRememberedEvents = 8192;

EffectSpawnRequest request(u64 eventId, u32 skill, u8 kind) {
    EffectSpawnRequest r;
    r.eventId = eventId;
    r.kind = kind;
    r.skill = skill;
    r.sourceEntityId = 7;
    r.targetEntityId = 9;
    r.source = yawTransform({0.5f, 0.0f, -1.0f}, 0.3f);
    r.target = yawTransform({0.0f, 0.0f, 2.5f}, 3.0f);
    return r;
}

bool spawned(EffectSystem& system, const EffectSpawnRequest& r) {
    return system.spawn(r).status == EffectSpawnStatus::Spawned;
}

// A full system of every effect the catalogue has, spawned over 0.25 s so that components sit
// at different points of their tracks: rounds of 4 + 4 + 7 + 28 components, topped up to 4096.
bool fillWithLiveComponents(EffectSystem& system) {
    constexpr u64 kRoundComponents = 4 + 4 + 7 + 28;
    constexpr u64 kRounds = kMaxActiveComponents / kRoundComponents;
    constexpr f64 kSpreadSeconds = 0.25;
    u64 eventId = 1;
    for (u64 round = 0; round < kRounds; ++round) {
        if (!spawned(system, request(eventId++, 1001, 1)) || !spawned(system, request(eventId++, 1001, 2)) ||
            !spawned(system, request(eventId++, 1002, 1)) || !spawned(system, request(eventId++, 1002, 2)))
            return false;
        system.update(kSpreadSeconds / kRounds);
    }
    // 95 rounds leave 11 = 7 + 4.
    return spawned(system, request(eventId++, 1002, 1)) && spawned(system, request(eventId++, 1001, 1)) &&
           system.activeComponentCount() == kMaxActiveComponents;
}

void BM_EffectUpdateWith4096LiveComponents(benchmark::State& state) {
    EffectSystem system = EffectSystem::create({kMaxActiveComponents, kMaxRememberedEvents});
    if (!fillWithLiveComponents(system)) {
        state.SkipWithError("could not reach 4096 live components");
        return;
    }
    // Small enough that nothing expires however many iterations run (the first components
    // have 30 ms left), large enough that every component's time moves.
    constexpr f64 kStepSeconds = 1e-8;
    for (auto _ : state) {
        system.update(kStepSeconds);
        benchmark::DoNotOptimize(system.drawItems().data());
    }
    if (system.activeComponentCount() != kMaxActiveComponents) state.SkipWithError("components expired");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kMaxActiveComponents));
}
BENCHMARK(BM_EffectUpdateWith4096LiveComponents)->Unit(benchmark::kMicrosecond);

// Remembers 8192 events whose components have all finished.
EffectSystem systemWithFullEventMemory(u64& nextEventId) {
    EffectSystem system = EffectSystem::create({kMaxActiveComponents, kMaxRememberedEvents});
    for (; nextEventId <= kMaxRememberedEvents; ++nextEventId) {
        system.spawn(request(nextEventId, 1001, 1));
        system.update(1.0);
    }
    return system;
}

// Each spawn searches all 8192 remembered events, drops the oldest and creates the four
// components of skill 1001's action start. The batch's components are cleared outside the
// timed region.
void BM_EffectSpawnAgainstFullEventMemory(benchmark::State& state) {
    constexpr int kBatch = 256;
    u64 nextEventId = 1;
    EffectSystem system = systemWithFullEventMemory(nextEventId);
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) benchmark::DoNotOptimize(system.spawn(request(nextEventId++, 1001, 1)));
        state.PauseTiming();
        system.update(1.0);
        state.ResumeTiming();
    }
    state.counters["spawn"] = benchmark::Counter(static_cast<double>(state.iterations()) * kBatch,
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EffectSpawnAgainstFullEventMemory)->Unit(benchmark::kMicrosecond);

// A repeat of the newest remembered event: the search runs to the end of the memory.
void BM_EffectSpawnDuplicateOfNewestEvent(benchmark::State& state) {
    u64 nextEventId = 1;
    EffectSystem system = systemWithFullEventMemory(nextEventId);
    const EffectSpawnRequest newest = request(nextEventId - 1, 1001, 1);
    for (auto _ : state) benchmark::DoNotOptimize(system.spawn(newest));
}
BENCHMARK(BM_EffectSpawnDuplicateOfNewestEvent)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kestrune::effects
