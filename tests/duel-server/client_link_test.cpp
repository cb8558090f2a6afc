#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>
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

using namespace net::test;

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
    bool refuseJoin = false, answerJoin = true;
    std::vector<net::ClientHelloMessage> hellos;
    std::vector<net::ClientJoinMessage> joins;
    std::vector<net::ClientCommandMessage> commands;
};

std::vector<std::byte> hello() { return frameBytes(net::kClientHello, 1, 0, net::encodeHello("tk_1", 99)); }
// Hello (frame 1, session 0) and join (frame 2) as a client opens.
std::vector<std::byte> opening() {
    return concat(hello(), frameBytes(net::kClientJoin, 2, kSessionId, net::encodeJoin(net::kTemplar, "Tess")));
}
std::vector<std::byte> stop(u32 commandSequence) {
    return net::test::commandPayload(commandSequence, net::kCommandStop, 0, 0, 0, 0);
}
std::vector<std::byte> commandFrame(u32 frameSequence, u32 commandSequence) {
    return frameBytes(net::kClientCommand, frameSequence, kSessionId, stop(commandSequence));
}

// Parses the link's output as the client would: sequence-checked frames in order.
std::vector<net::Frame> drain(ClientLink& link, u32 lastServerSequence = 0) {
    std::vector<std::byte> out;
    link.takeOutput(out);
    net::FrameParser parser;
    std::vector<net::Frame> frames;
    for (std::span<const std::byte> rest(out); !rest.empty();) {
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
    for (const std::byte b : concat(opening(), commandFrame(3, 1), commandFrame(4, 2))) {
        link.receive(std::span<const std::byte>(&b, 1), recorder);
    }
    EXPECT_EQ(std::tuple(recorder.hellos, link.gameTicket(), recorder.joins),
              std::tuple(std::vector<net::ClientHelloMessage>{{99, "tk_1"}}, "tk_1",
                         std::vector<net::ClientJoinMessage>{{net::kTemplar, "Tess"}}));
    EXPECT_EQ(recorder.commands, (std::vector<net::ClientCommandMessage>{{1, net::kCommandStop, 0, 0, 0, 0},
                                                                       {2, net::kCommandStop, 0, 0, 0, 0}}));
    EXPECT_EQ(link.phase(), LinkPhase::Joined);

    const std::vector<net::Frame> frames = drain(link);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(std::tuple(frames[0].type, frames[1].type), std::tuple(net::kServerWelcome, net::kServerJoined));
    EXPECT_EQ(net::decodeWelcome(frames[0].payload), (net::ServerWelcomeMessage{kSessionId, kTickRate, 0}));
    EXPECT_EQ(net::decodeJoined(frames[1].payload), (net::ServerJoinedMessage{77, net::kTemplar, 5, 0}));
    EXPECT_FALSE(link.hasOutput());
}

TEST(ClientLink, RefusesEachFaultThenIgnoresEverythingAndAnUnansweredJoinIsAProgrammingError) {
    const auto join = [](u32 sequence, u64 sessionId, const std::vector<std::byte>& payload) {
        return concat(hello(), frameBytes(net::kClientJoin, sequence, sessionId, payload));
    };
    // A decoder's own refusals are shown once per message type, and the frame sequence check once
    // per phase; the rest of them and the header faults are the codecs' business (and the loopback
    // server's, for a bad header).
    // Rows without a comment are named by their message.
    const struct { std::vector<std::byte> stream; const char* message; } cases[] = {
        {frameBytes(257, 1, 0, net::encodeHello("", 1)), "client did not open with ClientHello"},  // type byte 7 set
        {frameBytes(net::kClientJoin, 1, 0, net::encodeJoin(1, "Early")), "client did not open with ClientHello"},
        {frameBytes(net::kClientHello, 2, 0, net::encodeHello("", 1)),
         "expected duel client frame sequence 1, received 2"},
        {frameBytes(net::kClientHello, 1, 0, net::encodeHello("two words", 1)), "game ticket is invalid"},
        {concat(hello(), frameBytes(net::kClientHello, 2, kSessionId, net::encodeHello("", 1))),
         "client did not send ClientJoin after ServerWelcome"},
        {join(2, 0, net::encodeJoin(1, "A")), "received a frame for another session"},
        {join(2, kSessionId, bytes({1, 0, 0})), "character name cannot be empty"},
        {concat(opening(), frameBytes(net::kClientJoin, 3, kSessionId, net::encodeJoin(1, "A"))),
         "unexpected duel client message"},
        {concat(opening(), commandFrame(2, 1)), "expected duel client frame sequence 3, received 2"},
        {concat(opening(), commandFrame(3, 0)), "expected duel client command sequence 1, received 0"},
        {concat(opening(), commandFrame(3, 1), commandFrame(4, 1)),
         "expected duel client command sequence 2, received 1"},
        {concat(opening(), commandFrame(3, 2)), "expected duel client command sequence 1, received 2"},
        {concat(opening(), frameBytes(net::kClientCommand, 3, kSessionId, concat(stop(1), bytes({0})))),
         "protocol payload contains trailing bytes"}};
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const auto& c = cases[row];
        SCOPED_TRACE("row " + std::to_string(row) + ": " + c.message);
        ClientLink link(kSessionId, kTickRate, kRoomyLimitBytes);
        Recorder recorder(link);
        net::test::expectRuntimeError([&] { link.receive(c.stream, recorder); }, c.message);
        EXPECT_EQ(link.phase(), LinkPhase::Closing);
        const std::size_t commandsBefore = recorder.commands.size();
        link.receive(concat(opening(), commandFrame(3, 1)), recorder);
        EXPECT_EQ(recorder.commands.size(), commandsBefore) << "a closing link reads nothing more";
    }

    ClientLink link(kSessionId, kTickRate, kRoomyLimitBytes);
    Recorder recorder(link);
    recorder.refuseJoin = true;
    link.receive(concat(opening(), commandFrame(3, 1)), recorder);
    EXPECT_EQ(std::tuple(link.phase(), recorder.commands.size()), std::tuple(LinkPhase::Closing, 0u));
    const std::vector<net::Frame> frames = drain(link);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ((std::tuple{frames[1].type, net::decodeServerError(frames[1].payload)}),
              std::tuple(net::kServerError, "server error 3: taken"));

    ClientLink unanswered(kSessionId, kTickRate, kRoomyLimitBytes);
    Recorder silent(unanswered);
    silent.answerJoin = false;
    EXPECT_THROW(unanswered.receive(opening(), silent), std::logic_error);
}

TEST(ClientLink, TheWriteQueueStopsExactlyAtItsLimit) {
    constexpr std::size_t kLimitBytes = 100;
    ClientLink link(kSessionId, kTickRate, kLimitBytes);
    EXPECT_TRUE(link.send(net::kServerTick, std::vector<std::byte>(kLimitBytes - net::kFrameHeaderBytes)));
    EXPECT_FALSE(link.send(net::kServerTick, {})) << "even an empty frame does not fit";
    EXPECT_EQ(link.queuedBytes(), kLimitBytes);

    std::vector<std::byte> taken = bytes({9, 9, 9});
    link.takeOutput(taken);
    EXPECT_EQ(std::tuple(taken.size(), link.queuedBytes()), std::tuple(kLimitBytes, 0u));
    EXPECT_TRUE(link.send(net::kServerTick, net::encodeTick(5)));
    const std::vector<net::Frame> frames = drain(link, 1);  // the first frame was taken above
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].sequence, 2u) << "a refused frame uses no sequence number";
}

}  // namespace
}  // namespace kestrune::duel
