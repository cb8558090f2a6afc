#include <gtest/gtest.h>

#include <thread>

#include "net/frame_io.h"
#include "net/server_messages.h"
#include "net_test_support.h"
#include "test_peer.h"

namespace kestrune::net {
namespace {

using test::bytes;
using test::expectRuntimeError;

constexpr u32 kReadGuardMs = 5000;

// Both ends of one loopback connection, in this thread.
struct LoopbackPair {
    LoopbackPair() {
        u16 port = 0;
        Socket listener = listenOnLoopback(port);
        near = connectTcp("127.0.0.1", port);
        far = acceptConnection(listener);
        // A faulty read then fails instead of hanging the suite.
        setReceiveTimeout(near, kReadGuardMs);
    }

    test::SocketsStarted sockets;
    Socket near;
    Socket far;
};

std::vector<std::byte> frameBytes(u16 type, u32 sequence, std::span<const std::byte> payload) {
    std::vector<std::byte> out;
    encodeFrame(out, type, sequence, 1, payload);
    return out;
}

TEST(FrameIo, EmptyPayloadNeedsNoFurtherRead) {
    LoopbackPair pair;
    sendAll(pair.far, frameBytes(kServerTick, 1, {}));
    // Nothing else is sent and the connection stays open: a read for the empty payload
    // would time out or take the zero-length result for a close.
    const Frame frame = receiveFrame(pair.near);
    EXPECT_EQ(frame.type, kServerTick);
    EXPECT_TRUE(frame.payload.empty());
}

TEST(FrameIo, ReassemblesFramesFromShortReads) {
    LoopbackPair pair;
    setNoDelay(pair.far);
    const auto payload = encodeTick(0x0102030405060708ull);
    const auto frame = frameBytes(kServerTick, 1, payload);
    const std::size_t cuts[] = {0, 3, 17, 24, 27, frame.size()};
    for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
        sendAll(pair.far, std::span(frame).subspan(cuts[i], cuts[i + 1] - cuts[i]));
    }
    const Frame received = receiveFrame(pair.near);
    EXPECT_EQ(received.sequence, 1u);
    EXPECT_EQ(received.payload, payload);
}

TEST(FrameIo, TheLargestPayloadCrossesAndALargerOneIsNeverSent) {
    LoopbackPair pair;
    std::vector<std::byte> scratch;
    const std::vector<std::byte> tooLarge(kMaxPayloadBytes + 1, std::byte{1});
    expectRuntimeError([&] { sendFrame(pair.far, scratch, kServerSnapshot, 1, 1, tooLarge); },
                       "protocol payload exceeds 64 KiB");

    std::vector<std::byte> largest(kMaxPayloadBytes);
    for (std::size_t i = 0; i < largest.size(); ++i) {
        largest[i] = static_cast<std::byte>(i * 7);
    }
    // The socket buffers may hold less than a whole frame, so the far end sends on its own thread.
    std::thread sender([&] { sendFrame(pair.far, scratch, kServerSnapshot, 2, 1, largest); });
    const Frame received = receiveFrame(pair.near);
    sender.join();
    EXPECT_EQ(received.sequence, 2u) << "nothing of the refused frame went out";
    EXPECT_EQ(received.payload, largest);
}

TEST(FrameIo, ClosedConnectionInsideAFrame) {
    const struct {
        const char* name;
        std::size_t sentBytes;
    } cases[] = {
        {"nothing sent", 0},
        {"part of the header", 23},
        {"header without its payload", 24},
        {"payload cut short", 31},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackPair pair;
        const auto frame = frameBytes(kServerTick, 1, encodeTick(1));
        sendAll(pair.far, std::span(frame).first(c.sentBytes));
        shutdownBoth(pair.far);
        expectRuntimeError([&] { receiveFrame(pair.near); }, "duel server closed the connection");
    }
}

}  // namespace
}  // namespace kestrune::net
