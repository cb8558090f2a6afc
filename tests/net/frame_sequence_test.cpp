#include <gtest/gtest.h>

#include "net/frame_sequence.h"
#include "net_test_support.h"

namespace kestrune::net {
namespace {

using test::expectRuntimeError;

Frame frameWith(u32 sequence, u64 sessionId) {
    Frame frame;
    frame.type = kServerTick;
    frame.sequence = sequence;
    frame.sessionId = sessionId;
    return frame;
}

TEST(FrameSequence, ServerFramesMustFollowOneAnotherInTheSession) {
    const struct {
        const char* name;
        u32 lastAccepted;
        u32 sequence;
        u64 sessionId;
        const char* error;  // nullptr: accepted
    } cases[] = {
        {"first frame carries 1", 0, 1, 77, nullptr},
        {"next in line", 7, 8, 77, nullptr},
        {"last possible", 0xFFFFFFFE, 0xFFFFFFFF, 77, nullptr},
        {"first frame with 0", 0, 0, 77, "expected duel server frame sequence 1, received 0"},
        {"gap", 7, 10, 77, "expected duel server frame sequence 8, received 10"},
        {"repeat", 7, 7, 77, "expected duel server frame sequence 8, received 7"},
        {"large numbers in decimal", 4000000000u, 1, 77,
         "expected duel server frame sequence 4000000001, received 1"},
        {"another session", 7, 8, 78, "received a frame for another session"},
        {"session 0 after the welcome", 7, 8, 0, "received a frame for another session"},
        {"session checked before the sequence", 7, 99, 78, "received a frame for another session"},
        {"exhausted", 0xFFFFFFFF, 0, 77, "duel server frame sequence is exhausted"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        u32 last = c.lastAccepted;
        const Frame frame = frameWith(c.sequence, c.sessionId);
        if (c.error == nullptr) {
            checkServerSequence(frame, 77, last);
            EXPECT_EQ(last, c.sequence);
        } else {
            expectRuntimeError([&] { checkServerSequence(frame, 77, last); }, c.error);
            EXPECT_EQ(last, c.lastAccepted) << "a refused frame does not advance the sequence";
        }
    }
}

TEST(FrameSequence, ServerSideChecksClientFramesWithItsOwnTexts) {
    u32 last = 0;
    checkClientSequence(frameWith(1, 0), 0, last);  // the hello, before a session exists
    EXPECT_EQ(last, 1u);
    expectRuntimeError([&] { checkClientSequence(frameWith(3, 5), 5, last); },
                       "expected duel client frame sequence 2, received 3");
    expectRuntimeError([&] { checkClientSequence(frameWith(2, 0), 5, last); },
                       "received a frame for another session");
    last = 0xFFFFFFFF;
    expectRuntimeError([&] { checkClientSequence(frameWith(0, 5), 5, last); },
                       "duel client frame sequence is exhausted");
}

TEST(FrameSequence, CommandsNumberFromOneAndFramesContinueAfterTheJoin) {
    u32 commandCounter = 0;
    u32 nextFrameSequence = 3;  // hello was 1, join 2
    const CommandNumbers first = takeCommandNumbers(commandCounter, nextFrameSequence);
    const CommandNumbers second = takeCommandNumbers(commandCounter, nextFrameSequence);
    EXPECT_EQ(first.commandSequence, 1u);
    EXPECT_EQ(first.frameSequence, 3u);
    EXPECT_EQ(second.commandSequence, 2u);
    EXPECT_EQ(second.frameSequence, 4u);
    EXPECT_EQ(commandCounter, 2u);
    EXPECT_EQ(nextFrameSequence, 5u);
}

TEST(FrameSequence, CommandNumbersNeverWrap) {
    const struct {
        const char* name;
        u32 commandCounter;
        u32 nextFrameSequence;
        bool exhausted;
    } cases[] = {
        {"last command sequence", 0xFFFFFFFE, 10, false},
        {"last frame sequence", 10, 0xFFFFFFFE, false},
        {"command counter at the end", 0xFFFFFFFF, 10, true},
        {"frame counter at the end", 10, 0xFFFFFFFF, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        u32 commandCounter = c.commandCounter;
        u32 nextFrameSequence = c.nextFrameSequence;
        if (c.exhausted) {
            expectRuntimeError([&] { takeCommandNumbers(commandCounter, nextFrameSequence); },
                               "duel client sequence is exhausted");
            EXPECT_EQ(commandCounter, c.commandCounter);
            EXPECT_EQ(nextFrameSequence, c.nextFrameSequence);
        } else {
            const CommandNumbers numbers = takeCommandNumbers(commandCounter, nextFrameSequence);
            EXPECT_EQ(numbers.commandSequence, c.commandCounter + 1);
            EXPECT_EQ(numbers.frameSequence, c.nextFrameSequence);
        }
    }
}

}  // namespace
}  // namespace kestrune::net
