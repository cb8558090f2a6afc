#include <gtest/gtest.h>

#include <tuple>

#include "net/frame_sequence.h"
#include "net_test_support.h"

namespace kestrune::net {
namespace {

using test::expectRuntimeError;

TEST(FrameSequence, FramesFollowOneAnotherInTheSessionAndCommandNumbersNeverWrap) {
    // client: a client frame checked by the server (else a server frame checked by the client); no error: accepted.
    const struct { const char* name; bool client; u32 last, sequence; u64 sessionId; const char* error; } cases[] = {
        {"first frame carries 1", false, 0, 1, 77, nullptr}, {"next in line", false, 7, 8, 77, nullptr},
        {"last possible", false, 0xFFFFFFFE, 0xFFFFFFFF, 77, nullptr},
        {"first frame with 0", false, 0, 0, 77, "expected duel server frame sequence 1, received 0"},
        {"gap", false, 7, 10, 77, "expected duel server frame sequence 8, received 10"},
        {"repeat", false, 7, 7, 77, "expected duel server frame sequence 8, received 7"},
        {"numbers in decimal", false, 4000000000u, 1, 77, "expected duel server frame sequence 4000000001, received 1"},
        {"another session", false, 7, 8, 78, "received a frame for another session"},
        {"session 0 after the welcome", false, 7, 8, 0, "received a frame for another session"},
        {"session checked before the sequence", false, 7, 99, 78, "received a frame for another session"},
        {"exhausted", false, 0xFFFFFFFF, 0, 77, "duel server frame sequence is exhausted"},
        {"client: next in line", true, 1, 2, 77, nullptr},
        {"client: gap", true, 1, 3, 77, "expected duel client frame sequence 2, received 3"},
        {"client: session 0 after the hello", true, 1, 2, 0, "received a frame for another session"},
        {"client: exhausted", true, 0xFFFFFFFF, 0, 77, "duel client frame sequence is exhausted"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        u32 last = c.last;
        const Frame frame{kServerTick, c.sequence, c.sessionId, {}};
        const auto check = [&] { (c.client ? checkClientSequence : checkServerSequence)(frame, 77, last); };
        if (c.error == nullptr) {
            check();
            EXPECT_EQ(last, c.sequence);
        } else {
            expectRuntimeError(check, c.error);
            EXPECT_EQ(last, c.last) << "a refused frame does not advance the sequence";
        }
    }

    const struct { const char* name; u32 commandCounter, nextFrameSequence; bool exhausted; } counters[] = {
        {"first command after hello (1) and join (2)", 0, 3, false}, {"last command sequence", 0xFFFFFFFE, 10, false},
        {"last frame sequence", 10, 0xFFFFFFFE, false}, {"command counter at the end", 0xFFFFFFFF, 10, true},
        {"frame counter at the end", 10, 0xFFFFFFFF, true}};
    for (const auto& c : counters) {
        SCOPED_TRACE(c.name);
        u32 commandCounter = c.commandCounter;
        u32 nextFrameSequence = c.nextFrameSequence;
        if (c.exhausted) {
            expectRuntimeError([&] { takeCommandNumbers(commandCounter, nextFrameSequence); },
                               "duel client sequence is exhausted");
            EXPECT_EQ(std::tuple(commandCounter, nextFrameSequence), std::tuple(c.commandCounter, c.nextFrameSequence));
        } else {
            const CommandNumbers numbers = takeCommandNumbers(commandCounter, nextFrameSequence);
            const u32 command = c.commandCounter + 1;
            EXPECT_EQ(std::tuple(numbers.commandSequence, numbers.frameSequence, commandCounter, nextFrameSequence),
                      std::tuple(command, c.nextFrameSequence, command, c.nextFrameSequence + 1));
        }
    }
}

}  // namespace
}  // namespace kestrune::net
