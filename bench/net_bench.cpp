// Decoding the largest server messages: a snapshot with 256 players and 2048 projectiles
// (57 356 bytes, the largest that fits a frame) and a list of 4096 combat events. Each
// benchmark also verifies that decoding allocates nothing beyond its result vectors.

#include <benchmark/benchmark.h>

#include <vector>

#include "allocation_counter.h"
#include "net/protocol.h"
#include "net/server_messages.h"

namespace {

using namespace kestrune;
using namespace kestrune::net;

std::vector<std::byte> fullSnapshotPayload() {
    DuelSnapshot snapshot;
    snapshot.tick = 123456;
    for (u32 i = 0; i < kMaxSnapshotPlayers; ++i) {
        snapshot.players.push_back(SnapshotPlayer{i + 1, static_cast<u8>(1 + i % 2), static_cast<i32>(i) * 37 - 4000,
                                                  static_cast<i32>(i) * -53, 100, 100, static_cast<u16>(i % 32),
                                                  static_cast<u16>(i % 9), 0, kSkillWarrior1, i * 3});
    }
    for (u32 i = 0; i < kMaxSnapshotProjectiles; ++i) {
        snapshot.projectiles.push_back(SnapshotProjectile{{i, i + 1, i + 2, i + 3, i + 4}, 0, kSkillTemplar2});
    }
    return encodeSnapshot(snapshot);
}

std::vector<std::byte> eventListPayload() {
    std::vector<CombatEvent> events;
    for (u32 i = 0; i < kMaxCombatEvents; ++i) {
        events.push_back(CombatEvent{1000 + i, static_cast<u8>(1 + i % 7), 1, 2, kSkillBasicAttack,
                                     static_cast<i32>(i % 4 + 1), 0});
    }
    return encodeCombatEvents(events);
}

template <class Decode>
void runDecode(benchmark::State& state, const std::vector<std::byte>& payload, Decode decode,
               std::size_t allowedAllocations) {
    const std::size_t before = bench::allocationCount();
    for (auto _ : state) {
        auto decoded = decode(payload);
        benchmark::DoNotOptimize(decoded);
    }
    const std::size_t allocations = bench::allocationCount() - before;
    const auto iterations = static_cast<std::size_t>(state.iterations());
    state.counters["allocs_per_message"] = static_cast<double>(allocations) / static_cast<double>(iterations);
    if (allocations != allowedAllocations * iterations) {
        state.SkipWithError("decoding allocated beyond its result vectors");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(iterations));
    state.SetBytesProcessed(static_cast<std::int64_t>(iterations * payload.size()));
}

void DecodeSnapshot256Players2048Projectiles(benchmark::State& state) {
    const auto payload = fullSnapshotPayload();
    state.counters["message_bytes"] = static_cast<double>(payload.size());
    runDecode(state, payload, [](const auto& bytes) { return decodeSnapshot(bytes); }, 2);  // players, projectiles
}
BENCHMARK(DecodeSnapshot256Players2048Projectiles);

void DecodeCombatEvents4096(benchmark::State& state) {
    const auto payload = eventListPayload();
    state.counters["message_bytes"] = static_cast<double>(payload.size());
    runDecode(state, payload, [](const auto& bytes) { return decodeCombatEvents(bytes); }, 1);
}
BENCHMARK(DecodeCombatEvents4096);

}  // namespace
