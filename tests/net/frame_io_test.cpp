#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "net/frame_io.h"
#include "net/server_messages.h"
#include "net_test_support.h"
#include "test_peer.h"

namespace kestrune::net {
namespace {

using test::frameBytes;

constexpr u32 kReadGuardMs = 5000;

// Both ends of one loopback connection, in this thread.
struct LoopbackPair {
    LoopbackPair() {
        u16 port = 0;
        Socket listener = listenOnLoopback(port);
        near = connectTcp("127.0.0.1", port);
        far = acceptConnection(listener);
        setReceiveTimeout(near, kReadGuardMs);  // a faulty read then fails instead of hanging the suite
    }

    test::SocketsStarted sockets;
    Socket near;
    Socket far;
};

TEST(FrameIo, ReassemblesFramesFromShortReadsAndNeedsNoReadForAnEmptyPayload) {
    LoopbackPair pair;
    setNoDelay(pair.far);
    const auto payload = encodeTick(0x0102030405060708ull);
    const auto frame = frameBytes(kServerTick, 1, 1, payload);
    const std::size_t cuts[] = {0, 3, 17, 24, 27, frame.size()};
    for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
        sendAll(pair.far, std::span(frame).subspan(cuts[i], cuts[i + 1] - cuts[i]));
    }
    const Frame received = receiveFrame(pair.near);
    EXPECT_EQ(std::tuple(received.sequence, received.payload), std::tuple(1u, payload));

    // Nothing follows and the connection stays open: a read for the empty payload would time
    // out or take the zero-length result for a close.
    sendAll(pair.far, frameBytes(kServerTick, 2, 1, {}));
    const Frame empty = receiveFrame(pair.near);
    EXPECT_EQ(std::tuple(empty.sequence, empty.payload.size()), std::tuple(2u, 0u));
}

TEST(FrameIo, TheLargestPayloadCrossesAndALargerOneIsNeverSent) {
    LoopbackPair pair;
    std::vector<std::byte> scratch;
    const std::vector<std::byte> tooLarge(kMaxPayloadBytes + 1, std::byte{1});
    test::expectRuntimeError([&] { sendFrame(pair.far, scratch, kServerSnapshot, 1, 1, tooLarge); },
                             "protocol payload exceeds 64 KiB");
    std::vector<std::byte> largest(kMaxPayloadBytes);
    for (std::size_t i = 0; i < largest.size(); ++i) largest[i] = static_cast<std::byte>(i * 7);
    // The socket buffers may hold less than a whole frame, so the far end sends on its own thread.
    std::thread sender([&] { sendFrame(pair.far, scratch, kServerSnapshot, 2, 1, largest); });
    const Frame received = receiveFrame(pair.near);
    sender.join();
    EXPECT_EQ(std::tuple(received.sequence, received.payload), std::tuple(2u, largest))
        << "nothing of the refused frame went out";
}

TEST(FrameIo, ClosedConnectionInsideAFrame) {
    // Nothing, part of the header, the header without its payload, a payload cut short.
    for (const std::size_t sentBytes : {0, 23, 24, 31}) {
        SCOPED_TRACE(sentBytes);
        LoopbackPair pair;
        const auto frame = frameBytes(kServerTick, 1, 1, encodeTick(1));
        sendAll(pair.far, std::span(frame).first(sentBytes));
        shutdownBoth(pair.far);
        test::expectRuntimeError([&] { receiveFrame(pair.near); }, "duel server closed the connection");
    }
}

}  // namespace
}  // namespace kestrune::net
