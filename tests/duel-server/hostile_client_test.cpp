// Clients that break the protocol, flood, stop reading, stay silent or vanish mid-frame.
// Each is closed alone (a refusal carries a ServerError naming the fault) while a duel of
// well-behaved clients on the same server goes on.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "duel_rules.h"
#include "net/client_messages.h"
#include "net/frame_codec.h"
#include "net/frame_io.h"
#include "net/frame_sequence.h"
#include "net/net_test_support.h"
#include "net/protocol.h"
#include "net/server_messages.h"
#include "net/socket.h"
#include "net/test_peer.h"
#include "server_harness.h"

namespace kestrune::duel {
namespace {

using namespace net::test;
using namespace test;

constexpr u32 kReadGuardMs = 20000;  // a hang guard for blocking reads, not a timing bound

// A client that writes whatever a test tells it to, and reads and checks server frames.
class RawClient {
public:
    explicit RawClient(u16 port) : socket_(net::connectTcp("127.0.0.1", port)) {
        net::setReceiveTimeout(socket_, kReadGuardMs);
    }

    void sendBytes(std::span<const std::byte> data) { net::sendAll(socket_, data); }
    void sendFrame(u16 type, std::span<const std::byte> payload) {
        net::sendFrame(socket_, scratch_, type, nextSequence_++, sessionId_, payload);
    }
    void sendCommand(u32 commandSequence, u8 kind) {
        sendFrame(net::kClientCommand, net::encodeCommand(commandSequence, kind, 0, 0, 0, 0));
    }

    net::Frame receive() {
        net::Frame frame = net::receiveFrame(socket_);
        if (sessionId_ == 0) sessionId_ = frame.sessionId;  // the first frame names the session
        net::checkServerSequence(frame, sessionId_, lastServerSequence_);
        return frame;
    }

    void hello() { sendFrame(net::kClientHello, net::encodeHello("", 1)); }

    // Hello, welcome, join, joined.
    void handshake(u8 characterClass) {
        hello();
        EXPECT_EQ(receive().type, net::kServerWelcome);
        sendFrame(net::kClientJoin, net::encodeJoin(characterClass, "Raw"));
        EXPECT_EQ(receive().type, net::kServerJoined);
    }

    // Reads past snapshots and results (kept in `results` if given) to the ServerError, then
    // expects the close.
    std::string errorThenClose(std::vector<net::CommandResult>* results = nullptr) {
        for (;;) {
            const net::Frame frame = receive();
            if (frame.type == net::kServerCommandResult && results != nullptr) {
                results->push_back(net::decodeCommandResult(frame.payload));
            } else if (frame.type == net::kServerError) {
                const std::string text = net::decodeServerError(frame.payload);
                expectClosed();
                return text;
            }
        }
    }

    void expectClosed() {
        try {
            for (;;) static_cast<void>(net::receiveFrame(socket_));
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "duel server closed the connection");
        }
    }

private:
    net::Socket socket_;
    std::vector<std::byte> scratch_;
    u64 sessionId_ = 0;
    u32 nextSequence_ = 1;
    u32 lastServerSequence_ = 0;
};

TEST(HostileClients, EveryProtocolFaultIsRefusedWithItsTextWhileADuelGoesOn) {
    ServerHarness server;
    Player warrior(server.port(), net::kWarrior);
    Player templar(server.port(), net::kTemplar);

    // One fault before the hello, one the server must refuse without waiting for its
    // payload, one after the join; the rest of the link's refusals are tested without sockets.
    // What a new connection sends; nothing stands for a join and then a command of kind 5.
    const struct { std::vector<std::byte> sent; const char* text; } cases[] = {
        {bytesOf("GET / HTTP/1.1\r\nHost: x\r\n\r\n"), "invalid duel protocol magic"},
        // 65537 bytes announced, none sent.
        {patched(frameBytes(net::kClientHello, 1, 0, {}), 8, bytes({1, 0, 1})), "duel protocol payload is too large"},
        {{}, "client command contains an invalid enum value"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        RawClient raw(server.port());
        if (c.sent.empty()) {
            raw.handshake(net::kWarrior);
            raw.sendCommand(1, 5);
        } else {
            raw.sendBytes(c.sent);
        }
        EXPECT_EQ(raw.errorThenClose(), std::string("server error 1: ") + c.text);
        EXPECT_TRUE(server.logged(std::string("refused with error 1: ") + c.text));
    }
    EXPECT_TRUE(eventually([&] { return server.counts().connections == 2; }));
    const u64 tick = server.advance(1);
    EXPECT_EQ(warrior.snapshotAt(tick).players.size(), 2u);
    EXPECT_TRUE(warrior.client.isRunning() && templar.client.isRunning());
}

TEST(HostileClients, AFloodOfCommandsIsRefusedAndThenClosed) {
    ServerHarness server;
    RawClient raw(server.port());
    raw.handshake(net::kWarrior);
    for (u32 sequence = 1; sequence <= 65; ++sequence) raw.sendCommand(sequence, net::kCommandStop);
    std::vector<net::CommandResult> results;
    EXPECT_EQ(raw.errorThenClose(&results), "server error 1: more than 64 commands in one tick");
    ASSERT_EQ(results.size(), 64u);
    EXPECT_EQ(std::tuple(results[kCommandsPerTickLimit - 1].reason, results[kCommandsPerTickLimit].reason,
                         results.back().commandSequence), std::tuple(kAccepted, kTooManyCommands, 64u));
}

TEST(HostileClients, ASilentClientIsClosedAtTheHandshakeDeadline) {
    ServerHarness server({.handshakeTimeoutMs = 50});
    RawClient silent(server.port());
    RawClient helloOnly(server.port());
    helloOnly.hello();
    EXPECT_EQ(helloOnly.receive().type, net::kServerWelcome);
    silent.expectClosed();
    helloOnly.expectClosed();
    EXPECT_TRUE(eventually([&] { return server.counts().connections == 0; }));
    EXPECT_TRUE(server.logged("connection 1 127.0.0.1:"));
    EXPECT_TRUE(server.logged("closed: no hello and join within 50 ms"));
}

TEST(HostileClients, HalfAFrameThenCloseLeavesNothingBehind) {
    ServerHarness server;
    // 30 bytes of a hello, then the client is gone.
    const auto hello = frameBytes(net::kClientHello, 1, 0, net::encodeHello("", 1));
    RawClient(server.port()).sendBytes(std::span(hello).first(30));
    const char* const closed = "closed: the client closed the connection in the middle of a frame";
    EXPECT_TRUE(eventually([&] { return server.logged(closed); }));
    EXPECT_EQ(server.counts().connections, 0u);
}

TEST(HostileClients, AClientThatStopsReadingIsDroppedAndItsOpponentPlaysOn) {
    ServerHarness server;
    RawClient stalled(server.port());
    stalled.handshake(net::kWarrior);
    Player templar(server.port(), net::kTemplar);
    // About 100 bytes of snapshot per tick: some ten thousand ticks fill the kernel's
    // buffers on both ends of the stalled connection, then its write queue. The templar
    // reads, so its queue never holds more than a burst.
    for (int round = 0; round < 5000 && server.counts().connections == 2; ++round) server.advance(100);
    EXPECT_EQ(server.counts().connections, 1u);
    EXPECT_TRUE(server.logged("closed: write queue full (65536 bytes): the client is not reading"));
    const u64 tick = server.advance(1);
    const net::DuelSnapshot snapshot = templar.snapshotAt(tick);
    ASSERT_EQ(snapshot.players.size(), 1u) << "the templar now waits for a new warrior";
    EXPECT_EQ(std::tuple(snapshot.players.front().entityId, templar.client.isRunning()),
              std::tuple(templar.client.localEntityId(), true));
}

TEST(HostileClients, ConnectionsPastTheLimitAreClosedAsTheyArrive) {
    ServerHarness server({.maxDuels = 1});  // room for 2 players and 64 handshakes
    std::vector<std::unique_ptr<RawClient>> open;
    for (int i = 0; i < 66; ++i) open.push_back(std::make_unique<RawClient>(server.port()));
    EXPECT_TRUE(eventually([&] { return server.counts().connections == 66; }));
    RawClient extra(server.port());
    extra.expectClosed();
    EXPECT_TRUE(server.logged("refused: 66 connections are open"));
    open.pop_back();
    EXPECT_TRUE(eventually([&] { return server.counts().connections == 65; }));
    RawClient late(server.port());
    late.hello();
    EXPECT_EQ(late.receive().type, net::kServerWelcome) << "a freed place is taken again";
}

}  // namespace
}  // namespace kestrune::duel
