// What recording a replay costs a frame: an online frame as the duel tick and the loop hand it
// over (the keys, a two-player snapshot every other frame, a command and its result now and
// then, figures that changed) sealed and queued for the writer thread, which writes to a
// scratch file beside. The frame must allocate nothing once the buffers have grown.

#include <benchmark/benchmark.h>

#include <filesystem>

#include "allocation_counter.h"
#include "net/protocol.h"
#include "replay/replay_recorder.h"

namespace {

using namespace kestrune;

void RecordOnlineFrame(benchmark::State& state) {
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "kestrune-bench-replay.krpl";
    replay::ReplayRecorder recorder(path, replay::ReplayHeader{.online = true, .tickRate = 30, .localEntityId = 1});
    net::DuelSnapshot snapshot{100,
                               {{1, net::kWarrior, 1500, -2500, 900, 1000, 0, 0, 0, 0, 7},
                                {2, net::kTemplar, -1500, 2500, 1000, 1000, 0, 0, 0, 0, 0}},
                               {}};
    const net::CommandResult results[] = {{7, true, 0, 101}};
    const net::CombatEvent events[] = {{40, 2, 1, 2, net::kSkillBasicAttack, 80, 0}};
    replay::SessionFigures figures{true, {0, 30.0, 7, 7, 51.0, 80.0, 95.0}};
    InputState input;
    u64 frame = 0;
    const auto recordFrame = [&] {
        ++frame;
        const bool snapshotFrame = frame % 2 == 0;
        const bool commandFrame = frame % 30 == 0;
        if (frame % 40 == 0) {
            input.keyDown['W'] = !input.keyDown['W'];
        }
        snapshot.tick += snapshotFrame ? 1 : 0;
        recorder.serverWord(commandFrame ? std::span(results) : std::span<const net::CommandResult>(),
                            snapshotFrame ? &snapshot : nullptr,
                            commandFrame ? std::span(events) : std::span<const net::CombatEvent>());
        if (commandFrame) {
            recorder.commandSent(7);
        }
        figures.statistics.snapshotsReceived += snapshotFrame ? 1 : 0;
        recorder.figures(figures);
        recorder.endFrame(replay::FrameKind::played, 1.0 / 60.0, input);
    };
    for (int warm = 0; warm < 600; ++warm) {
        recordFrame();
    }
    const u64 bytesBefore = recorder.bytesRecorded();
    const u64 framesBefore = recorder.framesRecorded();
    bench::runFramesCountingAllocations(state, recordFrame);
    const f64 bytesPerFrame = static_cast<f64>(recorder.bytesRecorded() - bytesBefore) /
                              static_cast<f64>(recorder.framesRecorded() - framesBefore);
    state.counters["bytesPerFrame"] = bytesPerFrame;
    state.counters["kilobytesPerMinuteAt60"] = bytesPerFrame * 3600.0 / 1000.0;
    recorder.close();
    std::filesystem::remove(path);
}
BENCHMARK(RecordOnlineFrame);

}  // namespace
