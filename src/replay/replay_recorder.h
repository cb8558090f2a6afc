#pragma once
// Writes a replay as the run goes. The frame loop hands each frame's parts to the recorder on
// the main thread (the server's word as the duel tick passed it on, the commands' sequences,
// the session's figures), and endFrame() seals them into one frame with its length and
// checksum. A writer thread puts sealed frames on the disk and flushes after each batch, so a
// slow disk never holds a frame up and a killed program leaves a file that plays up to its
// last whole frame. Once its buffers have grown to the run's largest frame, recording
// allocates nothing.

#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/byte_writer.h"
#include "base/input_state.h"
#include "base/types.h"
#include "net/duel_records.h"
#include "replay/replay_format.h"

namespace kestrune::replay {

class ReplayRecorder {
public:
    // Creates (or replaces) the file and writes the header. Throws std::runtime_error
    // "Unable to create replay <path>." when the file cannot be opened.
    ReplayRecorder(const std::filesystem::path& path, const ReplayHeader& header);
    // Writes what is left; errors are for close() to report.
    ~ReplayRecorder();
    ReplayRecorder(const ReplayRecorder&) = delete;
    ReplayRecorder& operator=(const ReplayRecorder&) = delete;

    // ---- This frame's parts, before endFrame() ----
    void serverWord(std::span<const net::CommandResult> results, const net::DuelSnapshot* snapshot,
                    std::span<const net::CombatEvent> events);
    void sessionEnded(std::string_view reason);
    void commandSent(u32 commandSequence);
    // Kept only when they differ from the last ones kept.
    void figures(const SessionFigures& figures);

    // Seals the frame: its kind, its seconds and the keys as the scene read them.
    void endFrame(FrameKind kind, f64 seconds, const InputState& input);

    // Writes the rest and closes the file. Throws std::runtime_error "Unable to write replay
    // <path>." when anything was lost.
    void close();

    u64 framesRecorded() const noexcept { return framesRecorded_; }
    u64 bytesRecorded() const noexcept { return bytesRecorded_; }

private:
    void writeLateItems();
    void writeLoop();

    std::filesystem::path path_;
    std::ofstream file_;
    ByteWriter items_;     // this frame's items
    ByteWriter frame_;     // the sealed frame
    std::vector<std::byte> payload_;  // an encoded message, reused
    InputState lastInput_;
    SessionFigures lastFigures_;
    bool figuresChanged_ = false;
    bool ended_ = false;
    std::string endReason_;
    u64 framesRecorded_ = 0;
    u64 bytesRecorded_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::byte> pending_;  // sealed frames the writer has not taken yet
    std::vector<std::byte> writing_;  // the writer's batch
    bool stopping_ = false;
    bool failed_ = false;
    bool closed_ = false;
    std::thread writer_;
};

}  // namespace kestrune::replay
