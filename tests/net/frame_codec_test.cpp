#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "net/frame_codec.h"
#include "net_test_support.h"

namespace kestrune::net {
namespace {

using namespace test;

FrameHeader headerOf(std::span<const std::byte> frame) { return decodeFrameHeader(frame.first<kFrameHeaderBytes>()); }

TEST(FrameCodec, HeaderIsLittleEndianBeforeAPayloadOfAtMost64KiBAndARefusalWritesNothing) {
    std::vector<std::byte> frame = bytes({7});  // encoding replaces what the buffer held
    encodeFrame(frame, 0x0203, 0xF1020304, 0x1122334455667788ull, bytes({0xAA, 0xBB}));
    EXPECT_EQ(frame, bytes({'K', 'D', 'U', 'L', 2, 0, 3, 2, 2, 0, 0, 0, 4, 3, 2, 0xF1,
                            0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0xAA, 0xBB}));
    const FrameHeader header = headerOf(frame);  // the type is the whole u16
    EXPECT_EQ(std::tuple(header.type, header.payloadSizeBytes, header.sequence, header.sessionId),
              std::tuple(u16{0x0203}, 2u, 0xF1020304u, 0x1122334455667788ull));

    const std::vector<std::byte> largest(kMaxPayloadBytes, std::byte{0x5A});
    const auto largestFrame = frameBytes(kServerSnapshot, 1, 9, largest);
    ASSERT_EQ(largestFrame.size(), kFrameHeaderBytes + 65536);
    EXPECT_EQ(std::tuple(headerOf(largestFrame).payloadSizeBytes, largestFrame.back()),
              std::tuple(65536u, std::byte{0x5A}));

    // Appending keeps the frames already queued, and a refusal leaves them alone.
    std::vector<std::byte> queue = bytes({7});
    appendFrame(queue, kServerTick, 1, 9, bytes({0x11}));
    appendFrame(queue, kServerError, 2, 9, bytes({0x22, 0x33}));
    const auto expected = concat(concat(bytes({7}), frameBytes(kServerTick, 1, 9, bytes({0x11}))),
                                 frameBytes(kServerError, 2, 9, bytes({0x22, 0x33})));
    EXPECT_EQ(queue, expected);
    const std::vector<std::byte> tooLarge(kMaxPayloadBytes + 1);
    expectRuntimeError([&] { appendFrame(queue, kServerSnapshot, 3, 9, tooLarge); }, "protocol payload exceeds 64 KiB");
    expectRuntimeError([&] { encodeFrame(queue, kServerSnapshot, 3, 9, tooLarge); }, "protocol payload exceeds 64 KiB");
    EXPECT_EQ(queue, expected);
}

TEST(FrameCodec, RefusesBadHeadersInCheckOrder) {
    const auto valid = frameBytes(kServerTick, 1, 1, {});
    const struct { const char* name; std::size_t offset; std::vector<std::byte> patch; const char* error; } cases[] = {
        {"magic", 3, bytes({'X'}), "invalid duel protocol magic"},
        {"magic in lower case", 0, bytes({'k'}), "invalid duel protocol magic"},
        {"version 1", 4, bytes({1, 0}), "incompatible duel protocol version"},
        {"version 2 in the high byte", 4, bytes({0, 2}), "incompatible duel protocol version"},
        {"payload of 65537", 8, bytes({0x01, 0x00, 0x01, 0x00}), "duel protocol payload is too large"},
        {"payload of 4 GiB - 1", 8, bytes({0xFF, 0xFF, 0xFF, 0xFF}), "duel protocol payload is too large"},
        {"payload of 65536", 8, bytes({0x00, 0x00, 0x01, 0x00}), nullptr},
        {"magic before version", 0, bytes({'X', 'D', 'U', 'L', 9, 9}), "invalid duel protocol magic"},
        {"version before size", 4, bytes({3, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}), "incompatible duel protocol version"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto frame = test::patched(valid, c.offset, c.patch);
        if (c.error == nullptr) {
            EXPECT_NO_THROW(headerOf(frame));
        } else {
            expectRuntimeError([&] { headerOf(frame); }, c.error);
        }
    }
}

// Two frames, the second with an empty payload (complete with its header), fed whole and
// one byte at a time: the parser stops at the end of each frame until it is taken.
TEST(FrameParser, SplitsAStreamAtEachFrameEnd) {
    const auto first = frameBytes(kServerTick, 1, 5, bytes({1, 2, 3, 4, 5, 6, 7, 8}));
    const auto stream = concat(first, frameBytes(kServerCombatEvents, 2, 5, {}));
    FrameParser whole;
    EXPECT_TRUE(whole.atFrameBoundary());
    ASSERT_EQ(whole.feed(stream), first.size());
    ASSERT_TRUE(whole.hasFrame());
    EXPECT_EQ(whole.feed(std::span(stream).subspan(first.size())), 0u) << "a waiting frame blocks input";
    const Frame taken = whole.takeFrame();
    EXPECT_EQ(std::tuple(taken.type, taken.sequence, taken.sessionId, taken.payload),
              std::tuple(kServerTick, 1u, u64{5}, bytes({1, 2, 3, 4, 5, 6, 7, 8})));
    EXPECT_TRUE(whole.atFrameBoundary());
    EXPECT_EQ(whole.feed(std::span(stream).subspan(first.size())), stream.size() - first.size());
    EXPECT_EQ(whole.takeFrame().type, kServerCombatEvents);

    FrameParser bytewise;
    std::vector<Frame> frames;
    for (const std::byte b : stream) {
        EXPECT_EQ(bytewise.feed(std::span(&b, 1)), 1u);
        if (bytewise.hasFrame()) {
            frames.push_back(bytewise.takeFrame());
        } else {
            EXPECT_EQ(frames.size() == 2, bytewise.atFrameBoundary());
        }
    }
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(std::tuple(frames[0].payload.size(), frames[1].type, frames[1].sequence, frames[1].payload.size()),
              std::tuple(8u, kServerCombatEvents, 2u, 0u));
    EXPECT_TRUE(bytewise.atFrameBoundary());
    EXPECT_THROW(bytewise.takeFrame(), std::logic_error) << "no complete frame to take";
}

// A header refused before its payload arrives: the duel client's and the loopback server's
// suites announce a payload too large and send none.

}  // namespace
}  // namespace kestrune::net
