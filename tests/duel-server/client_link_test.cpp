#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "client_link.h"
#include "net/client_messages.h"
#include "net/frame_codec.h"
#include "net/frame_sequence.h"
#include "net/net_test_support.h"
#include "net/protocol.h"
#include "net/server_messages.h"

namespace kestrune::duel {
namespace {

using net::test::bytes;
using net::test::concat;
using net::test::expectRuntimeError;

constexpr u64 kSessionId = 0xABCDEF0123456789ull;
constexpr u16 kTickRate = 30;
constexpr std::size_t kRoomyLimitBytes = 64 * 1024;

// Records what the link reports and answers joins as told.
struct Recorder final : ClientLinkHandler {
    explicit Recorder(ClientLink& owner) : link(owner) {}
    void onHello(const net::ClientHelloMessage& hello) override { hellos.push_back(hello); }
    void onJoin(const net::ClientJoinMessage& join) override {
        joins.push_back(join);
        if (refuseJoin) {
            link.refuse(3, "taken");
        } else if (answerJoin) {
            link.joined(77, join.characterClass, 5);
        }
    }
    void onCommand(const net::ClientCommandMessage& command) override { commands.push_back(command); }

    ClientLink& link;
    bool refuseJoin = false;
    bool answerJoin = true;
    std::vector<net::ClientHelloMessage> hellos;
    std::vector<net::ClientJoinMessage> joins;
    std::vector<net::ClientCommandMessage> commands;
};

std::vector<std::byte> frame(u16 type, u32 sequence, u64 sessionId, std::span<const std::byte> payload) {
    std::vector<std::byte> out;
    net::encodeFrame(out, type, sequence, sessionId, payload);
    return out;
}

std::vector<std::byte> helloFrame() { return frame(net::kClientHello, 1, 0, net::encodeHello("tk_1", 99)); }
std::vector<std::byte> joinFrame(u8 characterClass = net::kTemplar) {
    return frame(net::kClientJoin, 2, kSessionId, net::encodeJoin(characterClass, "Tess"));
}
std::vector<std::byte> stopCommandPayload(u32 commandSequence) {
    const auto payload = net::encodeCommand(commandSequence, net::kCommandStop, 0, 0, 0, 0);
    return std::vector<std::byte>(payload.begin(), payload.end());
}
std::vector<std::byte> commandFrame(u32 frameSequence, u32 commandSequence) {
    return frame(net::kClientCommand, frameSequence, kSessionId, stopCommandPayload(commandSequence));
}

// Parses the link's output as the client would: sequence-checked frames in order.
std::vector<net::Frame> drain(ClientLink& link, u32& lastServerSequence) {
    std::vector<std::byte> out;
    link.takeOutput(out);
    net::FrameParser parser;
    std::vector<net::Frame> frames;
    std::span<const std::byte> rest(out);
    while (!rest.empty()) {
        rest = rest.subspan(parser.feed(rest));
        if (parser.hasFrame()) {
            frames.push_back(parser.takeFrame());
            net::checkServerSequence(frames.back(), kSessionId, lastServerSequence);
        }
    }
    EXPECT_TRUE(parser.atFrameBoundary());
    return frames;
}

TEST(ClientLink, WelcomesJoinsAndPassesCommandsOnEvenWhenFedOneByteAtATime) {
    ClientLink link(kSessionId, kTickRate, kRoomyLimitBytes);
    Recorder recorder(link);
    const std::vector<std::byte> stream =
        concat(concat(concat(helloFrame(), joinFrame()), commandFrame(3, 1)), commandFrame(4, 2));
    for (const std::byte b : stream) {
        link.receive(std::span<const std::byte>(&b, 1), recorder);
    }
    ASSERT_EQ(recorder.hellos.size(), 1u);
    EXPECT_EQ(recorder.hellos[0].gameTicket, "tk_1");
    EXPECT_EQ(link.gameTicket(), "tk_1");
    ASSERT_EQ(recorder.joins.size(), 1u);
    EXPECT_EQ(recorder.joins[0].characterName, "Tess");
    ASSERT_EQ(recorder.commands.size(), 2u);
    EXPECT_EQ(recorder.commands[1].commandSequence, 2u);
    EXPECT_EQ(link.phase(), LinkPhase::Joined);

    u32 lastServerSequence = 0;
    const std::vector<net::Frame> frames = drain(link, lastServerSequence);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].type, net::kServerWelcome);
    EXPECT_EQ(net::decodeWelcome(frames[0].payload), (net::ServerWelcomeMessage{kSessionId, kTickRate, 0}));
    EXPECT_EQ(frames[1].type, net::kServerJoined);
    EXPECT_EQ(net::decodeJoined(frames[1].payload), (net::ServerJoinedMessage{77, net::kTemplar, 5, 0}));
    EXPECT_FALSE(link.hasOutput());
}

TEST(ClientLink, RefusesEachFaultAndThenIgnoresEverything) {
    const struct {
        const char* name;
        std::vector<std::byte> stream;
        const char* message;
    } cases[] = {
        {"bad magic", bytes({'K', 'D', 'U', 'X', 2, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
         "invalid duel protocol magic"},
        {"type byte 7 set", frame(257, 1, 0, net::encodeHello("", 1)), "client did not open with ClientHello"},
        {"join before hello", frame(net::kClientJoin, 1, 0, net::encodeJoin(1, "Early")),
         "client did not open with ClientHello"},
        {"hello with sequence 2", frame(net::kClientHello, 2, 0, net::encodeHello("", 1)),
         "expected duel client frame sequence 1, received 2"},
        {"hello with a session id", frame(net::kClientHello, 1, 99, net::encodeHello("", 1)),
         "received a frame for another session"},
        {"ticket with a space", frame(net::kClientHello, 1, 0, net::encodeHello("two words", 1)),
         "game ticket is invalid"},
        {"hello twice", concat(helloFrame(), frame(net::kClientHello, 2, kSessionId, net::encodeHello("", 1))),
         "client did not send ClientJoin after ServerWelcome"},
        {"join with session 0", concat(helloFrame(), frame(net::kClientJoin, 2, 0, net::encodeJoin(1, "A"))),
         "received a frame for another session"},
        {"join with an empty name", concat(helloFrame(), frame(net::kClientJoin, 2, kSessionId, bytes({1, 0, 0}))),
         "character name cannot be empty"},
        {"join as class 3", concat(helloFrame(), frame(net::kClientJoin, 2, kSessionId, net::encodeJoin(3, "A"))),
         "invalid duel character class"},
        {"second join",
         concat(concat(helloFrame(), joinFrame()), frame(net::kClientJoin, 3, kSessionId, net::encodeJoin(1, "A"))),
         "unexpected duel client message"},
        {"command for another session",
         concat(concat(helloFrame(), joinFrame()), frame(net::kClientCommand, 3, 12345, stopCommandPayload(1))),
         "received a frame for another session"},
        {"frame sequence repeated", concat(concat(helloFrame(), joinFrame()), commandFrame(2, 1)),
         "expected duel client frame sequence 3, received 2"},
        {"command sequence 0", concat(concat(helloFrame(), joinFrame()), commandFrame(3, 0)),
         "expected duel client command sequence 1, received 0"},
        {"command sequence repeated",
         concat(concat(concat(helloFrame(), joinFrame()), commandFrame(3, 1)), commandFrame(4, 1)),
         "expected duel client command sequence 2, received 1"},
        {"trailing byte after a command",
         concat(concat(helloFrame(), joinFrame()),
                frame(net::kClientCommand, 3, kSessionId, concat(stopCommandPayload(1), bytes({0})))),
         "protocol payload contains trailing bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ClientLink link(kSessionId, kTickRate, kRoomyLimitBytes);
        Recorder recorder(link);
        expectRuntimeError([&] { link.receive(c.stream, recorder); }, c.message);
        EXPECT_EQ(link.phase(), LinkPhase::Closing);
        const std::size_t commandsBefore = recorder.commands.size();
        link.receive(concat(concat(helloFrame(), joinFrame()), commandFrame(3, 1)), recorder);
        EXPECT_EQ(recorder.commands.size(), commandsBefore) << "a closing link reads nothing more";
    }
}

TEST(ClientLink, RefusalQueuesAServerErrorAndStopsReading) {
    ClientLink link(kSessionId, kTickRate, kRoomyLimitBytes);
    Recorder recorder(link);
    recorder.refuseJoin = true;
    link.receive(concat(concat(helloFrame(), joinFrame()), commandFrame(3, 1)), recorder);
    EXPECT_EQ(link.phase(), LinkPhase::Closing);
    EXPECT_TRUE(recorder.commands.empty());
    u32 lastServerSequence = 0;
    const std::vector<net::Frame> frames = drain(link, lastServerSequence);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].type, net::kServerError);
    EXPECT_EQ(net::decodeServerError(frames[1].payload), "server error 3: taken");
}

TEST(ClientLink, AJoinLeftUnansweredIsAProgrammingError) {
    ClientLink link(kSessionId, kTickRate, kRoomyLimitBytes);
    Recorder recorder(link);
    recorder.answerJoin = false;
    EXPECT_THROW(link.receive(concat(helloFrame(), joinFrame()), recorder), std::logic_error);
}

TEST(ClientLink, TheWriteQueueStopsExactlyAtItsLimit) {
    constexpr std::size_t kLimitBytes = 100;
    ClientLink link(kSessionId, kTickRate, kLimitBytes);
    const std::vector<std::byte> payload(kLimitBytes - net::kFrameHeaderBytes, std::byte{1});
    EXPECT_TRUE(link.send(net::kServerTick, payload));
    EXPECT_EQ(link.queuedBytes(), kLimitBytes);
    EXPECT_FALSE(link.send(net::kServerTick, {})) << "even an empty frame does not fit";
    EXPECT_EQ(link.queuedBytes(), kLimitBytes);

    std::vector<std::byte> taken = bytes({9, 9, 9});
    link.takeOutput(taken);
    EXPECT_EQ(taken.size(), kLimitBytes);
    EXPECT_EQ(link.queuedBytes(), 0u);
    EXPECT_TRUE(link.send(net::kServerTick, net::encodeTick(5)));
    u32 lastServerSequence = 1;  // the first frame was taken above
    const std::vector<net::Frame> frames = drain(link, lastServerSequence);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].sequence, 2u) << "a refused frame uses no sequence number";
}

}  // namespace
}  // namespace kestrune::duel
