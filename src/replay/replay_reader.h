#pragma once
// Reads a replay whole when it opens, checks every frame (its checksum, its items, each server
// message through the duel protocol's own decoder) and keeps the decoded frames, so playing
// them back allocates nothing and a damaged file is refused before anything is drawn. A file
// that ends inside a frame, as a killed recording leaves it, plays up to its last whole frame.
//
// Playback: advance() moves to the next frame; the accessors then say what that frame holds,
// as the duel client and the keyboard would have said it. Main thread only.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/input_state.h"
#include "base/types.h"
#include "net/duel_records.h"
#include "replay/replay_format.h"

namespace kestrune::replay {

// Where the file stopped short: the whole frames before it still play.
struct ReplayTruncation {
    u64 frame = 0;  // the frame cut off, counted from 1
    u64 byte = 0;   // where it starts
};

class ReplayReader {
public:
    // Throws std::runtime_error naming the file: "Unable to read replay F.", "Replay F is not a
    // Kestrune replay.", "Replay F is version N; this program plays version 1." or "Replay F is
    // damaged: <what> at byte B."
    explicit ReplayReader(const std::filesystem::path& path);
    // The same from bytes in memory; `name` stands for the file in the messages.
    ReplayReader(std::span<const std::byte> bytes, const std::string& name);

    const ReplayHeader& header() const noexcept { return header_; }
    std::size_t frameCount() const noexcept { return frames_.size(); }
    const std::optional<ReplayTruncation>& truncation() const noexcept { return truncation_; }

    // ---- Playback ----
    // Moves to the next frame; false once every frame has been played.
    bool advance();
    // Frames played so far, the current one included.
    std::size_t playedFrames() const noexcept { return next_; }
    bool finished() const noexcept { return next_ >= frames_.size(); }
    FrameKind kind() const noexcept { return frame().kind; }
    f64 seconds() const noexcept { return frame().seconds; }
    // The seconds of the frame advance() would play next (0 at the end).
    f64 nextSeconds() const noexcept { return finished() ? 0.0 : frames_[next_].seconds; }
    // The keys and the stick as the scene read them in this frame.
    const InputState& input() const noexcept { return input_; }
    std::span<const net::CommandResult> results() const noexcept;
    const net::DuelSnapshot* snapshot() const noexcept;
    std::span<const net::CombatEvent> events() const noexcept;
    // The session's error, in the frame in which the duel tick found it ended.
    const std::string* sessionEnd() const noexcept;
    // The sequences this frame's intents went out with, in order.
    std::span<const u32> sentSequences() const noexcept;
    // The session's figures as of this frame.
    const SessionFigures& figures() const noexcept { return figures_; }

private:
    struct Range {
        u32 first = 0;
        u32 count = 0;
    };
    struct Frame {
        FrameKind kind = FrameKind::played;
        f64 seconds = 0.0;
        Range keys;
        bool stickMoved = false;
        f32 stickX = 0.0f;
        f32 stickZ = 0.0f;
        Range results;
        i32 snapshot = -1;
        Range events;
        Range sent;
        i32 ended = -1;
        i32 figures = -1;
    };
    struct KeyChange {
        u8 key = 0;
        u8 bits = 0;
    };

    void parse(std::span<const std::byte> bytes);
    void parseFrame(std::span<const std::byte> body, u64 bodyOffset);
    const Frame& frame() const noexcept { return frames_[next_ - 1]; }

    std::string name_;
    ReplayHeader header_;
    std::optional<ReplayTruncation> truncation_;
    std::vector<Frame> frames_;
    std::vector<KeyChange> keyChanges_;
    std::vector<net::CommandResult> results_;
    std::vector<net::DuelSnapshot> snapshots_;
    std::vector<net::CombatEvent> events_;
    std::vector<u32> sent_;
    std::vector<std::string> endings_;
    std::vector<SessionFigures> figureChanges_;

    std::size_t next_ = 0;
    InputState input_;
    SessionFigures figures_;
};

}  // namespace kestrune::replay
