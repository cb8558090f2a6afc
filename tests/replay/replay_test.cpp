#include "replay/replay_reader.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/crc32.h"
#include "base/little_endian.h"
#include "net/protocol.h"
#include "replay/replay_recorder.h"

namespace kestrune::replay {
namespace {

const std::filesystem::path kFile = std::filesystem::path(KESTRUNE_BINARY_DIR) / "test-output/replay/sample.krpl";

std::vector<std::byte> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    const auto* first = reinterpret_cast<const std::byte*>(text.data());
    return {first, first + text.size()};
}

std::string refusal(std::span<const std::byte> bytes) {
    try {
        ReplayReader reader(bytes, "F");
        return "";
    } catch (const std::runtime_error& error) {
        return error.what();
    }
}

// Rewrites a frame's checksum after a change to its body, so the reader looks at the body.
void resealFrame(std::vector<std::byte>& bytes, std::size_t frameAt) {
    const u32 length = loadU32le(bytes.data() + frameAt);
    storeU32le(bytes.data() + frameAt + 4, crc32(std::span(bytes).subspan(frameAt + 8, length)));
}

constexpr ReplayHeader kHeader{.characterClass = 1, .online = true, .automaticSkill = true, .tickRate = 30,
                               .localEntityId = 7, .fixedFps = 60, .contentDigest = {1, 2, 3, 31}};

// Four frames holding every kind of item (as many events as asked, which may be more than one
// message takes) and a minimised frame between.
struct Sample {
    explicit Sample(std::size_t eventCount = 2) : events(eventCount, {5, 2, 7, 8, 1, 80, 0}) {}
    std::vector<net::CommandResult> results{{1, true, 0, 40}, {2, false, 7, 41}};
    net::DuelSnapshot snapshot{9, {{7, 2, 1500, -250, 900, 1000, 3, 12, 0, 1001, 2}}, {}};
    std::vector<net::CombatEvent> events;
    SessionFigures figures{true, {650, 30.0, 12, 11, 54.5, 99.25, 120.0}};

    std::size_t record() const {
        ReplayRecorder recorder(kFile, kHeader);
        InputState input;
        input.keyPressed('W', false);
        input.analogMoveX = 0.5f;
        recorder.serverWord(results, &snapshot, events);
        recorder.commandSent(3);
        recorder.commandSent(0);
        recorder.figures(figures);
        recorder.endFrame(FrameKind::played, 1.0 / 60.0, input);
        recorder.sessionEnded("server error 3: gone");
        recorder.endFrame(FrameKind::minimized, 2.5, input);
        input.beginFrame();
        input.keyPressed('2', false);
        input.keyReleased('2');
        recorder.figures(figures);  // unchanged: not written again
        recorder.endFrame(FrameKind::played, -0.001, input);
        input.beginFrame();
        input.keyReleased('W');
        recorder.figures({false, figures.statistics});  // only the session's end changed
        recorder.endFrame(FrameKind::played, 0.25, input);
        // Written as the run goes: the file already plays every frame sealed, before it is closed.
        const auto framesOnDisk = [] {
            const std::vector<std::byte> bytes = readBytes(kFile);  // the header may not be there yet
            return bytes.size() < kReplayHeaderBytes ? 0u : ReplayReader(bytes, "F").frameCount();
        };
        for (int wait = 0; wait < 500 && framesOnDisk() < 4; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(framesOnDisk(), 4u);
        recorder.close();
        return recorder.framesRecorded();
    }
};

TEST(Replay, TheReaderGivesBackWhatTheRecorderWasGivenFrameByFrame) {
    const Sample sample(net::kMaxCombatEvents + 3);
    ASSERT_EQ(sample.record(), 4u);
    ReplayReader reader(kFile);
    EXPECT_EQ(std::tuple(reader.header(), reader.frameCount(), reader.truncation().has_value()),
              std::tuple(kHeader, 4u, false));
    const auto keys = [&reader] {
        std::string seen;
        for (const char key : {'W', '2'}) {
            seen += std::string(reader.input().keyDown[key] ? "held " : "") + (reader.input().pressed[key] ? "pressed " : "") +
                    (reader.input().released[key] ? "released " : "") + "| ";
        }
        return seen;
    };

    ASSERT_TRUE(reader.advance());
    EXPECT_EQ(std::tuple(reader.kind(), reader.seconds(), keys(), reader.input().analogMoveX, reader.nextSeconds()),
              std::tuple(FrameKind::played, 1.0 / 60.0, "held pressed | | ", 0.5f, 2.5));
    EXPECT_EQ(std::vector(reader.results().begin(), reader.results().end()), sample.results);
    ASSERT_NE(reader.snapshot(), nullptr);
    EXPECT_EQ(*reader.snapshot(), sample.snapshot);
    EXPECT_EQ(std::vector(reader.events().begin(), reader.events().end()), sample.events);
    EXPECT_EQ(std::vector(reader.sentSequences().begin(), reader.sentSequences().end()), (std::vector<u32>{3, 0}));
    EXPECT_EQ(std::tuple(reader.figures(), reader.sessionEnd()), std::tuple(sample.figures, nullptr));

    ASSERT_TRUE(reader.advance());
    ASSERT_NE(reader.sessionEnd(), nullptr);
    EXPECT_EQ(std::tuple(reader.kind(), reader.seconds(), *reader.sessionEnd(), keys(), reader.snapshot()),
              std::tuple(FrameKind::minimized, 2.5, "server error 3: gone", "held | | ", nullptr));

    ASSERT_TRUE(reader.advance());
    EXPECT_EQ(std::tuple(reader.seconds(), keys(), reader.results().size(), reader.figures()),
              std::tuple(-0.001, "held | pressed released | ", 0u, sample.figures));
    ASSERT_TRUE(reader.advance());
    EXPECT_EQ(std::tuple(keys(), reader.input().analogMoveX, reader.finished(), reader.playedFrames(),
                         reader.figures()),
              std::tuple("released | | ", 0.5f, true, 4u, SessionFigures{false, sample.figures.statistics}));
    EXPECT_FALSE(reader.advance());
}

// A file cut anywhere plays its whole frames and says where the cut frame began; any other
// change to a byte is refused, however small: nothing damaged plays as if it were whole.
TEST(Replay, ACutFilePlaysItsWholeFramesAndAnyChangedByteIsRefused) {
    Sample{}.record();
    const std::vector<std::byte> whole = readBytes(kFile);
    std::vector<std::size_t> frameStarts;
    for (std::size_t at = kReplayHeaderBytes; at < whole.size(); at += kReplayFrameHeadBytes + loadU32le(whole.data() + at)) {
        frameStarts.push_back(at);
    }
    ASSERT_EQ(frameStarts.size(), 4u);
    for (std::size_t cut = kReplayHeaderBytes; cut < whole.size(); ++cut) {
        const ReplayReader reader{std::span(whole).first(cut), "F"};
        const std::size_t wholeFrames = std::ranges::count_if(frameStarts, [&](std::size_t at) {
            return at + kReplayFrameHeadBytes + loadU32le(whole.data() + at) <= cut;
        });
        ASSERT_EQ(reader.frameCount(), wholeFrames) << "cut at " << cut;
        const bool atBoundary = std::ranges::find(frameStarts, cut) != frameStarts.end();
        ASSERT_EQ(reader.truncation().has_value(), !atBoundary) << "cut at " << cut;
        if (!atBoundary) {
            EXPECT_EQ(std::tuple(reader.truncation()->frame, reader.truncation()->byte),
                      std::tuple(wholeFrames + 1, frameStarts[wholeFrames]));
        }
    }
    for (std::size_t at = 0; at < whole.size(); ++at) {
        for (const u8 flip : {0x01, 0x80}) {
            std::vector<std::byte> changed = whole;
            changed[at] ^= std::byte{flip};
            const std::string message = refusal(changed);
            if (message.empty()) {
                // Only a frame's length can change and leave a file that reads: as cut short.
                const ReplayReader reader{changed, "F"};
                ASSERT_TRUE(reader.truncation().has_value() && reader.frameCount() < 4) << "byte " << at;
            } else {
                ASSERT_TRUE(message.starts_with("Replay F is ")) << message;
            }
        }
    }
}

TEST(Replay, RefusalsNameTheFileAndTheFault) {
    Sample{}.record();
    const std::vector<std::byte> whole = readBytes(kFile);
    const std::size_t frame1 = kReplayHeaderBytes;
    const std::size_t body1 = frame1 + kReplayFrameHeadBytes;
    const std::size_t items1 = body1 + 1 + 8 + 2 + 2;  // kind, seconds, the key W; the stick's item next
    const std::size_t result2 = items1 + 9 + 16;        // the second result's item
    const std::size_t snapshot1 = result2 + 16;
    const struct {
        const char* name;
        std::function<void(std::vector<std::byte>&)> change;
        std::string message;
    } cases[] = {
        {"another format", [](auto& b) { b[0] = std::byte{'P'}; }, "Replay F is not a Kestrune replay."},
        {"another version", [](auto& b) { b[4] = std::byte{2}; storeU32le(b.data() + 52, crc32(std::span(b).first(52))); },
         "Replay F is version 2; this program plays version 1."},
        {"a tick rate offline", [](auto& b) { b[7] = std::byte{0}; storeU32le(b.data() + 52, crc32(std::span(b).first(52))); },
         "Replay F is damaged: the header's tick rate does not fit its mode at byte 8."},
        {"a header cut short", [](auto& b) { b.resize(20); }, "Replay F is damaged: the header is cut short at byte 20."},
        {"the header's checksum", [](auto& b) { b[20] ^= std::byte{1}; },
         "Replay F is damaged: the header's checksum does not match at byte 52."},
        {"a frame's checksum", [&](auto& b) { b[body1 + 3] ^= std::byte{1}; },
         "Replay F is damaged: frame 1 does not match its checksum at byte 56."},
        {"a frame too long", [&](auto& b) { storeU32le(b.data() + frame1, kMaxReplayFrameBytes + 1); },
         "Replay F is damaged: a frame longer than 4194304 bytes at byte 56."},
        {"an unknown item", [&](auto& b) { b[items1] = std::byte{9}; resealFrame(b, frame1); },
         "Replay F is damaged: frame 1: unknown item 9 at byte " + std::to_string(items1) + "."},
        {"a snapshot the protocol refuses", [&](auto& b) { b[snapshot1 + 1 + 4 + 8 + 1] = std::byte{0xFF}; resealFrame(b, frame1); },
         "Replay F is damaged: frame 1: snapshot player limit exceeded at byte " + std::to_string(snapshot1) + "."},
        {"a time that is not a number", [&](auto& b) { storeU64le(b.data() + body1 + 1, std::bit_cast<u64>(std::nan(""))); resealFrame(b, frame1); },
         "Replay F is damaged: frame 1: seconds out of range at byte " + std::to_string(body1 + 1) + "."},
        {"items out of order", [&](auto& b) { b[result2] = std::byte{1}; resealFrame(b, frame1); },
         "Replay F is damaged: frame 1: an item out of order at byte " + std::to_string(result2) + "."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::byte> bytes = whole;
        c.change(bytes);
        EXPECT_EQ(refusal(bytes), c.message);
    }
    EXPECT_EQ(refusal({}), "Replay F is not a Kestrune replay.");
    EXPECT_THROW(ReplayReader(kFile.parent_path() / "missing.krpl"), std::runtime_error);
    EXPECT_THROW(ReplayRecorder(kFile.parent_path() / "sample.krpl" / "below-a-file.krpl", kHeader), std::runtime_error);
}

}  // namespace
}  // namespace kestrune::replay
