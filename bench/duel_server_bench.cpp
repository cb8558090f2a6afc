// The duel server's own work per tick, without sockets: for 500 duels with a bot on each
// side, the bots decide, the rules step, and each duel's snapshot and events are encoded
// once (as the server sends them to both players). The loopback sends that follow in the
// real server are measured by tools/duel-server/load-test instead.

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "allocation_counter.h"
#include "duel_bot.h"
#include "duel_rules.h"
#include "net/protocol.h"
#include "net/server_messages.h"

namespace {

using namespace kestrune;
using namespace kestrune::duel;

constexpr u16 kTickRate = 30;

struct BotDuel {
    explicit BotDuel(u32 firstEntityId) {
        duel.seat(net::kWarrior, firstEntityId);
        duel.seat(net::kTemplar, firstEntityId + 1);
    }
    Duel duel{kTickRate};
    DuelBot warrior{net::kWarrior, kTickRate};
    DuelBot templar{net::kTemplar, kTickRate};
};

void ServerTick500BotDuels(benchmark::State& state) {
    constexpr u32 kDuels = 500;
    std::vector<std::unique_ptr<BotDuel>> duels;
    for (u32 i = 0; i < kDuels; ++i) {
        duels.push_back(std::make_unique<BotDuel>(1 + 2 * i));
    }
    net::DuelSnapshot snapshot;
    std::vector<std::byte> snapshotPayload;
    std::vector<std::byte> eventsPayload;
    u64 tick = 0;
    std::size_t payloadBytes = 0;
    const std::size_t before = bench::allocationCount();
    for (auto _ : state) {
        ++tick;
        for (const std::unique_ptr<BotDuel>& entry : duels) {
            entry->warrior.think(entry->duel);
            entry->templar.think(entry->duel);
            entry->duel.step();
            entry->duel.writeSnapshot(tick, snapshot);
            net::encodeSnapshot(snapshot, snapshotPayload);
            payloadBytes += snapshotPayload.size();
            if (!entry->duel.events().empty()) {
                net::encodeCombatEvents(entry->duel.events(), eventsPayload);
                payloadBytes += eventsPayload.size();
            }
            entry->duel.clearEvents();
        }
    }
    benchmark::DoNotOptimize(payloadBytes);
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["allocs_per_tick"] = static_cast<double>(bench::allocationCount() - before) / iterations;
    state.counters["time_per_duel"] = benchmark::Counter(kDuels * iterations, benchmark::Counter::kIsRate |
                                                                           benchmark::Counter::kInvert);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kDuels);
}
BENCHMARK(ServerTick500BotDuels)->Unit(benchmark::kMicrosecond);

}  // namespace
