#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <optional>
#include <regex>
#include <string>
#include <tuple>

#include "net/client_messages.h"
#include "net/duel_client.h"
#include "net/server_messages.h"
#include "net_test_support.h"
#include "test_peer.h"

namespace kestrune::net {
namespace {

using namespace test;

constexpr const char* kHost = "127.0.0.1";
constexpr const char* kName = "Fighter";

// A server frame of the peer's session.
auto frame(u16 type, u32 sequence, std::span<const std::byte> payload, u64 sessionId = kPeerSessionId) {
    return test::frameBytes(type, sequence, sessionId, payload);
}

DuelSnapshot snapshotAt(u64 tick) {
    return DuelSnapshot{tick, {{kPeerEntityId, kWarrior, 100, -200, 90, 100, 0, 0, 0, kSkillNone, 0}}, {}};
}

std::vector<CombatEvent> eventsOf(u64 firstEventId, std::size_t count) {
    std::vector events(count, CombatEvent{0, kEventActionStarted, kPeerEntityId, 8, kSkillBasicAttack, 1, 0});
    for (std::size_t i = 0; i < count; ++i) events[i].eventId = firstEventId + i;
    return events;
}

TEST(DuelClient, JoinsAndKeepsWhatArrivesBeforeServerJoined) {
    const std::string ticket(256, 'K');
    const std::string name = "\xC3\x89" + std::string(22, 'n');  // 24 bytes, 23 characters
    ClientHelloMessage hello;
    ClientJoinMessage join;
    ClientCommandMessage command;
    TestPeer peer([&](PeerConnection& c) {
        hello = c.expectHello();
        c.sendWelcome();
        join = c.expectJoin();
        c.send(kServerSnapshot, encodeSnapshot(snapshotAt(5)));
        c.send(kServerCombatEvents, encodeCombatEvents(eventsOf(1, 1)));
        c.send(kServerSnapshot, encodeSnapshot(snapshotAt(6)));
        c.send(kServerCombatEvents, encodeCombatEvents(eventsOf(2, 2)));
        c.sendJoined(join.characterClass);
        // What follows the join is sent only once the client has taken the early records.
        command = c.expectCommand();
        c.send(kServerTick, encodeTick(40));
        c.send(kServerCommandResult, encodeCommandResult(CommandResult{1, false, 4, 41}));
        c.send(kServerCombatEvents, encodeCombatEvents(eventsOf(4, 1)));
        c.send(kServerSnapshot, encodeSnapshot(snapshotAt(7)));
        c.send(kServerSnapshot, encodeSnapshot(snapshotAt(8)));
        c.waitForClose();
    });
    DuelClient client;
    client.connect(kHost, peer.port(), kTemplar, name, ticket);
    EXPECT_EQ(std::tuple(client.isRunning(), client.localEntityId(), client.tickRate()),
              std::tuple(true, kPeerEntityId, kPeerTickRate));

    // The newer snapshot replaced the older; both early lists of events are kept, in order.
    EXPECT_EQ((std::tuple{client.peekSnapshot(), client.takeSnapshot(), client.takeSnapshot(),
                          client.takeCombatEvents(), client.takeCombatEvents()}),
              (std::tuple{snapshotAt(6), snapshotAt(6), std::optional<DuelSnapshot>(), eventsOf(1, 3),
                          std::vector<CombatEvent>()}));

    ASSERT_TRUE(client.sendStop());
    ASSERT_TRUE(eventually([&] {
        const auto taken = client.takeSnapshot();
        return taken && taken->tick == 8;
    }));
    EXPECT_EQ(std::tuple(client.takeCommandResults(), client.takeCombatEvents(), client.isRunning(),
                         client.lastError()),
              std::tuple(std::vector<CommandResult>{{1, false, 4, 41}}, eventsOf(4, 1), true, ""));

    client.teardown();
    // What the peer recorded is read once its thread has ended; the peer checked every frame's sequence.
    EXPECT_EQ((std::tuple{peer.finish(), hello.gameTicket, join.characterClass, join.characterName, command}),
              (std::tuple{"", ticket, kTemplar, name, ClientCommandMessage{1, kCommandStop, 0, 0, 0, 0}}));
    EXPECT_GT(hello.clientClockNs, 0u);
}

// A peer fault: how far the peer follows the handshake, then the bytes it sends (a whole
// frame, a broken one or a piece of one) and whether it then closes the connection. The
// decoders' own refusals are tested without sockets; these show that each kind of frame
// the client takes goes through its decoder and sequence check, and where each text ends up.
enum class Stage { AfterHello, AfterJoinRead, Joined };

// An empty `sent` closes the connection instead.
void playFault(PeerConnection& c, Stage stage, const std::vector<std::byte>& sent) {
    c.expectHello();
    if (stage != Stage::AfterHello) {
        c.sendWelcome();
        const ClientJoinMessage join = c.expectJoin();
        if (stage == Stage::Joined) c.sendJoined(join.characterClass);
    }
    if (sent.empty()) {
        c.close();
    } else {
        c.sendRaw(sent);
    }
    c.waitForClose();
}

TEST(DuelClient, PeerFaultsFailTheConnectOrEndTheSessionWithTheirText) {
    const auto welcome = [](u64 sessionId, u16 tickRate) { return encodeWelcome({sessionId, tickRate, 0}); };
    const auto joinedAs = [](u32 entityId, u8 cls) { return encodeJoined({entityId, cls, 0, 0}); };
    const auto goodWelcome = welcome(kPeerSessionId, kPeerTickRate);
    const auto tick = encodeTick(1);
    const auto badSnapshot = patched(encodeSnapshot(snapshotAt(1)), 8 + 2 + 4, bytes({0}));  // player class 0
    constexpr Stage hello = Stage::AfterHello, joining = Stage::AfterJoinRead, joined = Stage::Joined;
    const char* const invalidWelcome = "invalid server welcome";
    const char* const invalidPlayer = "snapshot contains an invalid player enum value";
    // After the join the welcome was frame 1 and the joined frame 2, so the next frame must carry 3.
    // Rows without a comment are named by their error text.
    const struct { Stage stage; std::vector<std::byte> sent; std::string error; } faults[] = {
        // A payload of 65537 bytes announced, none sent.
        {hello, patched(frame(kServerWelcome, 1, {}), 8, bytes({1, 0, 1, 0})), "duel protocol payload is too large"},
        {hello, frame(kServerError, 1, encodeServerError(3, "no duels")), "server did not answer with ServerWelcome"},
        {hello, frame(kServerWelcome, 1, welcome(0, kPeerTickRate), 0), invalidWelcome},  // session 0
        {hello, frame(kServerWelcome, 1, welcome(kPeerSessionId, 0)), invalidWelcome},  // tick rate 0
        {hello, frame(kServerWelcome, 1, goodWelcome, kPeerSessionId + 1), invalidWelcome},  // the header's session
        {hello, frame(kServerWelcome, 2, goodWelcome), "expected duel server frame sequence 1, received 2"},
        {joining, frame(kServerJoined, 2, joinedAs(0, kWarrior)), "server returned an invalid duel entity id"},
        {joining, frame(kServerJoined, 2, joinedAs(kPeerEntityId, kTemplar)),
         "server joined a different character class"},
        {joining, frame(kServerError, 2, encodeServerError(42, "duel is full")), "server error 42: duel is full"},
        {joining, frame(kServerTick, 2, tick), "unexpected duel server message while joining"},
        {joining, frame(kServerJoined, 3, joinedAs(kPeerEntityId, kWarrior)),
         "expected duel server frame sequence 2, received 3"},
        {joining, frame(kServerSnapshot, 2, badSnapshot), invalidPlayer},
        {joined, {}, "duel server closed the connection"},
        {joined, frame(kServerTick, 4, tick), "expected duel server frame sequence 3, received 4"},
        {joined, frame(kServerError, 3, encodeServerError(9, "server shutting down")),
         "server error 9: server shutting down"},
        {joined, frame(kServerWelcome, 3, goodWelcome), "unexpected duel server message"},
        {joined, frame(kServerTick, 3, concat(tick, bytes({0}))), "protocol payload contains trailing bytes"},
        {joined, frame(kServerCommandResult, 3, bytes({1, 0, 0, 0, 1, 3, 0, 9, 0, 0, 0, 0, 0, 0, 0})),
         "command result is internally inconsistent"},
        {joined, frame(kServerCombatEvents, 3, patched(encodeCombatEvents(eventsOf(1, 1)), 2 + 8, bytes({8}))),
         "combat event contains an invalid enum value"},
        {joined, frame(kServerSnapshot, 3, badSnapshot), invalidPlayer}};
    for (std::size_t row = 0; row < std::size(faults); ++row) {
        const auto& fault = faults[row];
        SCOPED_TRACE("row " + std::to_string(row) + ": " + fault.error);
        TestPeer peer([&](PeerConnection& c) { playFault(c, fault.stage, fault.sent); });
        DuelClient client;
        if (fault.stage == joined) {
            client.connect(kHost, peer.port(), kWarrior, kName, "ticket");
            ASSERT_TRUE(eventually([&] { return !client.isRunning(); }));
        } else {
            expectRuntimeError([&] { client.connect(kHost, peer.port(), kWarrior, kName, "ticket"); }, fault.error);
            EXPECT_EQ(std::tuple(client.isRunning(), client.localEntityId(), client.tickRate()),
                      std::tuple(false, 0u, u16{0}));
        }
        EXPECT_EQ((std::tuple{client.sendMove(1, 2), client.lastSentCommandSequence()}), std::tuple(false, 0u));
        client.teardown();
        if (fault.stage == joined) {
            EXPECT_EQ(client.lastError(), fault.error) << "the reason, kept past the teardown";
        }
        EXPECT_EQ(peer.finish(), "") << "the client closed its socket";
    }
}

TEST(DuelClient, ConnectFailsOnBadArgumentsASilentServerARefusingPortAndAnUnknownHost) {
    TestPeer silent([](PeerConnection& c) {
        c.expectHello();
        c.waitForClose();
    });
    DuelClient client;
    expectRuntimeError([&] { client.connect(kHost, silent.port(), kWarrior, kName, ""); }, receiveTimeoutText());
    EXPECT_EQ(std::tuple(client.isRunning(), silent.finish()), std::tuple(false, ""));

    u16 closedPort = 0;
    listenOnLoopback(closedPort);  // the listener closes at once, so the port refuses
    expectRuntimeError([&] { client.connect(kHost, closedPort, kWarrior, kName, ""); }, connectRefusedText());
    try {
        client.connect("no-such-host.invalid", 1, kWarrior, kName, "");
        ADD_FAILURE() << "the name resolved";
    } catch (const std::runtime_error& error) {
        EXPECT_TRUE(std::regex_match(error.what(), std::regex("getaddrinfo failed with -?[1-9][0-9]*")))
            << error.what();
    }
    EXPECT_FALSE(client.isRunning());

    // The host cannot be resolved, so any network activity would show as a resolver error. The
    // class and ticket rules themselves are the message codecs' (one row each here shows the check).
    const struct { const char* label; u8 characterClass; std::string name, ticket; const char* error; } cases[] = {
        {"class 3", 3, kName, "", "invalid duel character class"},
        {"empty name", kWarrior, "", "", "character name cannot be empty"},
        {"25-byte name", kWarrior, std::string(25, 'n'), "", "character name exceeds 24 UTF-8 bytes"},
        {"22 characters in 25 bytes", kWarrior, std::string(19, 'n') + "\xC3\xA9\xC3\xA9\xC3\xA9", "",
         "character name exceeds 24 UTF-8 bytes"},
        {"name cut in a character", kWarrior, "ab\xC3", "", "character name is not valid UTF-8"},
        {"ticket with a space", kWarrior, kName, "a b", "game ticket is invalid"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        expectInvalidArgument([&] { client.connect("host.invalid", 1, c.characterClass, c.name, c.ticket); }, c.error);
        EXPECT_FALSE(client.isRunning());
    }
}

TEST(DuelClient, CommandsAreNumberedAndTeardownWakesTheBlockedReceive) {
    std::vector<ClientCommandMessage> commands;
    TestPeer peer([&](PeerConnection& c) {
        c.handshake();
        for (int i = 0; i < 4; ++i) commands.push_back(c.expectCommand());
        c.send(kServerTick, encodeTick(1));
        c.send(kServerCommandResult, encodeCommandResult(CommandResult{4, true, 0, 1}));
        c.waitForClose();
    });
    DuelClient client;
    client.connect(kHost, peer.port(), kWarrior, kName, "");
    EXPECT_EQ((std::tuple{client.lastSentCommandSequence(), client.sendMove(-450, 1000),
                          client.lastSentCommandSequence()}), std::tuple(0u, true, 1u));
    EXPECT_TRUE(client.sendStop() && client.sendBasicAttack(8) && client.sendSkill(8, kSkillWarrior2));
    EXPECT_EQ(client.lastSentCommandSequence(), 4u);
    // Once the result is queued the receive thread goes back to a recv that nothing will answer.
    ASSERT_TRUE(eventually([&] { return !client.takeCommandResults().empty(); }));
    auto done = std::async(std::launch::async, [&] { client.teardown(); });
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // The future's destructor would wait for the hung teardown forever.
        std::fputs("DuelClient.CommandsAreNumberedAndTeardownWakesTheBlockedReceive: teardown hangs\n", stderr);
        std::_Exit(1);
    }
    EXPECT_EQ(std::tuple(client.isRunning(), client.lastError(), client.localEntityId(), client.tickRate(),
                         client.lastSentCommandSequence()), std::tuple(false, std::string(), 0u, u16{0}, 0u));
    EXPECT_FALSE(client.sendMove(1, 1) || client.sendStop() || client.sendBasicAttack(8) ||
                 client.sendSkill(8, kSkillWarrior1)) << "no session after teardown";
    client.teardown();  // a second teardown is harmless

    // The peer's records are read once its thread has ended; the peer checked every frame's sequence.
    EXPECT_EQ(peer.finish(), "");
    EXPECT_EQ(commands, (std::vector<ClientCommandMessage>{
                            {1, kCommandMove, 0, 0xFE3E, 1000, 0}, {2, kCommandStop, 0, 0, 0, 0},
                            {3, kCommandBasicAttack, 8, 0, 0, 1}, {4, kCommandUseSkill, 8, 0, 0, kSkillWarrior2}}));
}

TEST(DuelClient, ASendThePeerDoesNotTakeFailsAndEndsTheSessionWithItsError) {
    // After the handshake the peer neither reads nor sends until the client gives up, so the
    // receive thread stays in a recv that nothing answers: only the sender can notice, and the
    // session must end through it. The commands fill the peer's receive buffer and then the
    // client's send buffer, far below this bound.
    constexpr u32 kCommandsBeyondTheBuffers = 1u << 22;
    std::atomic<bool> clientGaveUp{false};
    u32 received = 0;
    std::string peerEnd;
    TestPeer peer([&](PeerConnection& c) {
        c.handshake();
        if (!eventually([&] { return clientGaveUp.load(); })) {
            // Only for a client that would wait forever: a close with unread data resets the
            // connection, which ends its send.
            c.close();
            return;
        }
        try {
            for (;;) {
                c.expectCommand();
                ++received;
            }
        } catch (const std::runtime_error& error) {
            peerEnd = error.what();
        }
    });
    DuelClient client;
    client.connect(kHost, peer.port(), kWarrior, kName, "");
    u32 sent = 0;
    while (sent < kCommandsBeyondTheBuffers && client.sendStop()) ++sent;
    clientGaveUp.store(true);
    // The failed send ended the session, and the failed command is not counted as sent.
    EXPECT_EQ(std::tuple(client.isRunning(), client.lastError(), client.lastSentCommandSequence()),
              std::tuple(false, sendTimeoutText(), sent));
    EXPECT_FALSE(client.sendStop());
    client.teardown();
    EXPECT_GT(sent, 0u);
    EXPECT_EQ((std::tuple{peer.finish(), received, peerEnd}), std::tuple("", sent, "duel server closed the connection"))
        << "every command reported as sent arrived whole";
}

TEST(DuelClient, ReconnectStartsFromAClearState) {
    TestPeer first([](PeerConnection& c) {
        c.handshake();
        c.send(kServerCombatEvents, encodeCombatEvents(eventsOf(1, 2)));
        c.send(kServerCommandResult, encodeCommandResult(CommandResult{9, false, 2, 1}));
        c.send(kServerSnapshot, encodeSnapshot(snapshotAt(4)));
        c.send(kServerError, encodeServerError(1, "bye"));
        c.waitForClose();
    });
    DuelClient client;
    client.connect(kHost, first.port(), kWarrior, kName, "");
    ASSERT_TRUE(eventually([&] { return !client.isRunning(); }));
    client.teardown();
    // Records that arrived before the error stay.
    EXPECT_EQ(std::tuple(first.finish(), client.lastError(), client.peekSnapshot().has_value()),
              std::tuple("", "server error 1: bye", true));

    TestPeer second([](PeerConnection& c) {
        c.handshake();  // checks that the hello is frame 1 of session 0 again
        c.waitForClose();
    });
    client.connect(kHost, second.port(), kWarrior, kName, "");
    EXPECT_EQ(std::tuple(client.isRunning(), client.lastError(), client.takeSnapshot().has_value(),
                         client.takeCombatEvents().size(), client.takeCommandResults().size()),
              std::tuple(true, "", false, 0u, 0u));
    client.teardown();
    EXPECT_EQ(second.finish(), "");
}

}  // namespace
}  // namespace kestrune::net
