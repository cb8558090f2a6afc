#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <regex>
#include <string>

#include "net/client_messages.h"
#include "net/duel_client.h"
#include "net/frame_codec.h"
#include "net/server_messages.h"
#include "net_test_support.h"
#include "test_peer.h"

namespace kestrune::net {
namespace {

using test::bytes;
using test::concat;
using test::eventually;
using test::expectInvalidArgument;
using test::expectRuntimeError;
using test::kPeerEntityId;
using test::kPeerSessionId;
using test::kPeerTickRate;
using test::PeerConnection;
using test::TestPeer;
using test::withoutLast;

constexpr const char* kHost = "127.0.0.1";
constexpr const char* kName = "Fighter";

// A server frame; the session's welcome was frame 1.
std::vector<std::byte> serverFrame(u16 type, u32 sequence, std::span<const std::byte> payload,
                                   u64 sessionId = kPeerSessionId) {
    std::vector<std::byte> out;
    encodeFrame(out, type, sequence, sessionId, payload);
    return out;
}

std::vector<std::byte> patched(std::vector<std::byte> data, std::size_t offset, const std::vector<std::byte>& patch) {
    std::copy(patch.begin(), patch.end(), data.begin() + static_cast<std::ptrdiff_t>(offset));
    return data;
}

std::vector<std::byte> joinedPayload(u8 characterClass) {
    return encodeJoined(ServerJoinedMessage{kPeerEntityId, characterClass, 0, 0});
}

DuelSnapshot snapshotAt(u64 tick) {
    DuelSnapshot snapshot;
    snapshot.tick = tick;
    snapshot.players.push_back(SnapshotPlayer{kPeerEntityId, kWarrior, 100, -200, 90, 100, 0, 0, 0, kSkillNone, 0});
    return snapshot;
}

std::vector<std::byte> snapshotWithPlayerClassZero() {
    return patched(encodeSnapshot(snapshotAt(1)), 8 + 2 + 4, bytes({0}));
}

std::vector<std::byte> eventsPayload(u64 firstEventId, std::size_t count) {
    std::vector<CombatEvent> events;
    for (std::size_t i = 0; i < count; ++i) {
        events.push_back(CombatEvent{firstEventId + i, kEventActionStarted, kPeerEntityId, 8, kSkillBasicAttack, 1, 0});
    }
    return encodeCombatEvents(events);
}

TEST(DuelClient, JoinsAndKeepsWhatArrivesBeforeServerJoined) {
    const std::string ticket(256, 'K');
    const std::string name = "\xC3\x89" + std::string(22, 'n');  // 24 bytes, 23 characters
    ClientHelloMessage hello;
    ClientJoinMessage join;
    ClientCommandMessage command;
    u32 commandFrameSequence = 0;
    TestPeer peer([&](PeerConnection& c) {
        hello = c.expectHello();
        c.sendWelcome();
        join = c.expectJoin();
        c.send(kServerSnapshot, encodeSnapshot(snapshotAt(5)));
        c.send(kServerCombatEvents, eventsPayload(1, 1));
        c.send(kServerSnapshot, encodeSnapshot(snapshotAt(6)));
        c.send(kServerCombatEvents, eventsPayload(2, 2));
        c.sendJoined(join.characterClass);
        // What follows the join is sent only once the client has taken the early records.
        command = c.expectCommand(&commandFrameSequence);
        c.send(kServerTick, encodeTick(40));
        c.send(kServerCommandResult, encodeCommandResult(CommandResult{1, false, 4, 41}));
        c.send(kServerCombatEvents, eventsPayload(4, 1));
        c.send(kServerSnapshot, encodeSnapshot(snapshotAt(7)));
        c.send(kServerSnapshot, encodeSnapshot(snapshotAt(8)));
        c.waitForClose();
    });
    DuelClient client;
    client.connect(kHost, peer.port(), kTemplar, name, ticket);
    EXPECT_TRUE(client.isRunning());
    EXPECT_EQ(client.localEntityId(), kPeerEntityId);
    EXPECT_EQ(client.tickRate(), kPeerTickRate);

    ASSERT_TRUE(client.peekSnapshot().has_value());
    EXPECT_EQ(client.peekSnapshot()->tick, 6u) << "the newer snapshot replaced the older";
    const auto early = client.takeSnapshot();
    ASSERT_TRUE(early.has_value());
    EXPECT_EQ(*early, snapshotAt(6));
    EXPECT_FALSE(client.takeSnapshot().has_value());
    const auto earlyEvents = client.takeCombatEvents();
    ASSERT_EQ(earlyEvents.size(), 3u);
    EXPECT_EQ(earlyEvents[0].eventId, 1u);
    EXPECT_EQ(earlyEvents[2].eventId, 3u);
    EXPECT_TRUE(client.takeCombatEvents().empty());

    ASSERT_TRUE(client.sendStop());
    std::optional<DuelSnapshot> latest;
    ASSERT_TRUE(eventually([&] {
        if (auto taken = client.takeSnapshot(); taken && taken->tick == 8) {
            latest = std::move(taken);
        }
        return latest.has_value();
    }));
    EXPECT_EQ(client.takeCommandResults(), (std::vector<CommandResult>{{1, false, 4, 41}}));
    const auto lateEvents = client.takeCombatEvents();
    ASSERT_EQ(lateEvents.size(), 1u);
    EXPECT_EQ(lateEvents[0].eventId, 4u);
    EXPECT_TRUE(client.isRunning());
    EXPECT_EQ(client.lastError(), "");

    client.teardown();
    EXPECT_EQ(peer.finish(), "");
    EXPECT_EQ(hello.gameTicket, ticket);
    EXPECT_GT(hello.clientClockNs, 0u);
    EXPECT_EQ(join.characterClass, kTemplar);
    EXPECT_EQ(join.characterName, name);
    EXPECT_EQ(commandFrameSequence, 3u) << "hello was frame 1 and join frame 2";
    EXPECT_EQ(command, (ClientCommandMessage{1, kCommandStop, 0, 0, 0, 0}));
}

// A peer fault: how far the peer follows the handshake, then the bytes it sends (a whole
// frame, a broken one or a piece of one) and whether it then closes the connection.
enum class Stage { AfterHello, AfterJoinRead, Joined };

struct PeerFault {
    const char* name;
    Stage stage;
    std::vector<std::byte> sent;
    bool closeAfter;
    std::string error;
};

void runUpTo(PeerConnection& c, Stage stage) {
    c.expectHello();
    if (stage == Stage::AfterHello) {
        return;
    }
    c.sendWelcome();
    const ClientJoinMessage join = c.expectJoin();
    if (stage == Stage::Joined) {
        c.sendJoined(join.characterClass);
    }
}

void playFault(PeerConnection& c, const PeerFault& fault) {
    runUpTo(c, fault.stage);
    if (!fault.sent.empty()) {
        c.sendRaw(fault.sent);
    }
    if (fault.closeAfter) {
        c.close();
    }
    c.waitForClose();
}

TEST(DuelClient, PeerFaultsFailTheConnectOrEndTheSessionWithTheirText) {
    const auto welcome = encodeWelcome(ServerWelcomeMessage{kPeerSessionId, kPeerTickRate, 0});
    const auto joinedBody = joinedPayload(kWarrior);
    const auto welcomeFrame = serverFrame(kServerWelcome, 1, welcome);
    constexpr Stage hello = Stage::AfterHello;
    constexpr Stage joining = Stage::AfterJoinRead;
    const auto tick = encodeTick(1);
    const auto acceptedWithAReason = bytes({1, 0, 0, 0, 1, 3, 0, 9, 0, 0, 0, 0, 0, 0, 0});
    constexpr Stage joined = Stage::Joined;
    // After the join the welcome was frame 1 and the joined frame 2, so the next frame must carry 3.
    const PeerFault faults[] = {
        {"bad magic", hello, patched(welcomeFrame, 3, bytes({'X'})), false, "invalid duel protocol magic"},
        {"payload of 65537 announced", hello, patched(serverFrame(kServerWelcome, 1, {}), 8, bytes({1, 0, 1, 0})),
         false, "duel protocol payload is too large"},
        {"error instead of welcome", hello, serverFrame(kServerError, 1, encodeServerError(3, "no duels")), false,
         "server did not answer with ServerWelcome"},
        {"welcome with session 0", hello,
         serverFrame(kServerWelcome, 1, encodeWelcome(ServerWelcomeMessage{0, kPeerTickRate, 0}), 0), false,
         "invalid server welcome"},
        {"welcome with tick rate 0", hello,
         serverFrame(kServerWelcome, 1, encodeWelcome(ServerWelcomeMessage{kPeerSessionId, 0, 0})), false,
         "invalid server welcome"},
        {"welcome header names another session", hello, serverFrame(kServerWelcome, 1, welcome, kPeerSessionId + 1),
         false, "invalid server welcome"},
        {"welcome with sequence 2", hello, serverFrame(kServerWelcome, 2, welcome), false,
         "expected duel server frame sequence 1, received 2"},
        {"welcome with a trailing byte", hello, serverFrame(kServerWelcome, 1, concat(welcome, bytes({0}))), false,
         "protocol payload contains trailing bytes"},
        {"closed after the hello", hello, {}, true, "duel server closed the connection"},
        {"joined with entity 0", joining,
         serverFrame(kServerJoined, 2, encodeJoined(ServerJoinedMessage{0, kWarrior, 0, 0})), false,
         "server returned an invalid duel entity id"},
        {"joined the other class", joining, serverFrame(kServerJoined, 2, joinedPayload(kTemplar)), false,
         "server joined a different character class"},
        {"joined of 12 bytes with entity 0 is truncated first", joining,
         serverFrame(kServerJoined, 2, withoutLast(encodeJoined(ServerJoinedMessage{0, kWarrior, 0, 0}))), false,
         "truncated protocol payload"},
        {"server error while joining", joining, serverFrame(kServerError, 2, encodeServerError(42, "duel is full")),
         false, "server error 42: duel is full"},
        {"tick while joining", joining, serverFrame(kServerTick, 2, encodeTick(1)), false,
         "unexpected duel server message while joining"},
        {"command result while joining", joining,
         serverFrame(kServerCommandResult, 2, encodeCommandResult(CommandResult{1, true, 0, 1})), false,
         "unexpected duel server message while joining"},
        {"second welcome", joining, serverFrame(kServerWelcome, 2, welcome), false,
         "unexpected duel server message while joining"},
        {"sequence gap while joining", joining, serverFrame(kServerJoined, 3, joinedBody), false,
         "expected duel server frame sequence 2, received 3"},
        {"joined for another session", joining, serverFrame(kServerJoined, 2, joinedBody, kPeerSessionId + 1), false,
         "received a frame for another session"},
        {"invalid snapshot while joining", joining, serverFrame(kServerSnapshot, 2, snapshotWithPlayerClassZero()),
         false, "snapshot contains an invalid player enum value"},
        {"closed while joining", joining, serverFrame(kServerCombatEvents, 2, eventsPayload(1, 2)), true,
         "duel server closed the connection"},
        {"connection closed", joined, {}, true, "duel server closed the connection"},
        {"sequence gap", joined, serverFrame(kServerTick, 4, tick), false,
         "expected duel server frame sequence 3, received 4"},
        {"gap after good frames", joined,
         concat(concat(serverFrame(kServerTick, 3, tick), serverFrame(kServerSnapshot, 4, encodeSnapshot(snapshotAt(3)))),
                serverFrame(kServerTick, 9, tick)),
         false, "expected duel server frame sequence 5, received 9"},
        {"another session", joined, serverFrame(kServerTick, 3, tick, kPeerSessionId ^ 1), false,
         "received a frame for another session"},
        {"server error", joined, serverFrame(kServerError, 3, encodeServerError(9, "server shutting down")), false,
         "server error 9: server shutting down"},
        {"welcome after the join", joined, serverFrame(kServerWelcome, 3, welcome), false,
         "unexpected duel server message"},
        {"unknown type", joined, serverFrame(250, 3, {}), false, "unexpected duel server message"},
        {"tick with a trailing byte", joined, serverFrame(kServerTick, 3, concat(tick, bytes({0}))), false,
         "protocol payload contains trailing bytes"},
        {"inconsistent command result", joined, serverFrame(kServerCommandResult, 3, acceptedWithAReason), false,
         "command result is internally inconsistent"},
        {"invalid combat event", joined,
         serverFrame(kServerCombatEvents, 3, patched(eventsPayload(1, 1), 2 + 8, bytes({8}))), false,
         "combat event contains an invalid enum value"},
        {"too many combat events", joined, serverFrame(kServerCombatEvents, 3, bytes({0x01, 0x10})), false,
         "combat event limit exceeded"},
        {"invalid snapshot", joined, serverFrame(kServerSnapshot, 3, snapshotWithPlayerClassZero()), false,
         "snapshot contains an invalid player enum value"},
        {"payload too large", joined,
         patched(serverFrame(kServerSnapshot, 3, {}), 8, bytes({0xFF, 0xFF, 0xFF, 0x7F})), false,
         "duel protocol payload is too large"},
    };
    for (const PeerFault& fault : faults) {
        SCOPED_TRACE(fault.name);
        TestPeer peer([&](PeerConnection& c) { playFault(c, fault); });
        DuelClient client;
        if (fault.stage == joined) {
            client.connect(kHost, peer.port(), kWarrior, kName, "ticket");
            ASSERT_TRUE(eventually([&] { return !client.isRunning(); }));
            EXPECT_EQ(client.lastError(), fault.error);
        } else {
            expectRuntimeError([&] { client.connect(kHost, peer.port(), kWarrior, kName, "ticket"); }, fault.error);
            EXPECT_FALSE(client.isRunning());
            EXPECT_EQ(client.localEntityId(), 0u);
            EXPECT_EQ(client.tickRate(), 0u);
        }
        EXPECT_FALSE(client.sendMove(1, 2));
        EXPECT_EQ(client.lastSentCommandSequence(), 0u);
        client.teardown();
        if (fault.stage == joined) {
            EXPECT_EQ(client.lastError(), fault.error) << "teardown keeps the reason";
        }
        EXPECT_EQ(peer.finish(), "") << "the client closed its socket";
    }
}

TEST(DuelClient, SilentServerTimesOutAfterTheHello) {
    TestPeer peer([](PeerConnection& c) {
        c.expectHello();
        c.waitForClose();
    });
    DuelClient client;
    expectRuntimeError([&] { client.connect(kHost, peer.port(), kWarrior, kName, ""); }, test::receiveTimeoutText());
    EXPECT_FALSE(client.isRunning());
    EXPECT_EQ(peer.finish(), "");
}

TEST(DuelClient, RefusesBadArgumentsBeforeAnyNetworkActivity) {
    // The host cannot be resolved, so any network activity would show as a resolver error.
    const struct {
        const char* name;
        u8 characterClass;
        std::string characterName;
        std::string ticket;
        const char* error;
    } cases[] = {
        {"class 0", 0, kName, "", "invalid duel character class"},
        {"class 3", 3, kName, "", "invalid duel character class"},
        {"empty name", kWarrior, "", "", "character name cannot be empty"},
        {"25-byte name", kWarrior, std::string(25, 'n'), "", "character name exceeds 24 UTF-8 bytes"},
        {"13 two-byte characters", kWarrior, std::string(13, 'n') + std::string(6, 'x') + "\xC3\xA9\xC3\xA9\xC3\xA9",
         "", "character name exceeds 24 UTF-8 bytes"},
        {"name cut in a character", kWarrior, "ab\xC3", "", "character name is not valid UTF-8"},
        {"257-byte ticket", kWarrior, kName, std::string(257, 't'), "game ticket is invalid"},
        {"ticket with a space", kWarrior, kName, "a b", "game ticket is invalid"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DuelClient client;
        expectInvalidArgument([&] { client.connect("host.invalid", 1, c.characterClass, c.characterName, c.ticket); },
                              c.error);
        EXPECT_FALSE(client.isRunning());
    }
}

TEST(DuelClient, ReportsUnreachableServers) {
    test::SocketsStarted sockets;
    u16 closedPort = 0;
    listenOnLoopback(closedPort);  // the listener closes at once, so the port refuses
    DuelClient client;
    expectRuntimeError([&] { client.connect(kHost, closedPort, kWarrior, kName, ""); }, test::connectRefusedText());
    try {
        client.connect("no-such-host.invalid", 1, kWarrior, kName, "");
        ADD_FAILURE() << "the name resolved";
    } catch (const std::runtime_error& error) {
        EXPECT_TRUE(std::regex_match(error.what(), std::regex("getaddrinfo failed with -?[1-9][0-9]*"))) << error.what();
    }
    EXPECT_FALSE(client.isRunning());
}

TEST(DuelClient, TeardownWakesABlockedReceiveAndRecordsNoError) {
    TestPeer peer([](PeerConnection& c) {
        c.handshake();
        c.send(kServerTick, encodeTick(1));
        c.send(kServerCommandResult, encodeCommandResult(CommandResult{0, true, 0, 1}));
        c.waitForClose();
    });
    DuelClient client;
    client.connect(kHost, peer.port(), kWarrior, kName, "");
    // Once the result is queued the receive thread goes back to a recv that nothing will answer.
    ASSERT_TRUE(eventually([&] { return !client.takeCommandResults().empty(); }));

    auto done = std::async(std::launch::async, [&] { client.teardown(); });
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // The future's destructor would wait for the hung teardown forever.
        std::fputs("DuelClient.TeardownWakesABlockedReceiveAndRecordsNoError: teardown hangs\n", stderr);
        std::_Exit(1);
    }

    EXPECT_FALSE(client.isRunning());
    EXPECT_EQ(client.lastError(), "");
    EXPECT_EQ(client.localEntityId(), 0u);
    EXPECT_EQ(client.tickRate(), 0u);
    EXPECT_EQ(peer.finish(), "");
    client.teardown();  // a second teardown is harmless
}

TEST(DuelClient, CommandsAreNumberedAndCarryTheirFields) {
    std::vector<ClientCommandMessage> commands;
    std::vector<u32> frameSequences;
    TestPeer peer([&](PeerConnection& c) {
        c.handshake();
        for (int i = 0; i < 4; ++i) {
            u32 frameSequence = 0;
            commands.push_back(c.expectCommand(&frameSequence));
            frameSequences.push_back(frameSequence);
        }
        c.waitForClose();
    });
    DuelClient client;
    client.connect(kHost, peer.port(), kWarrior, kName, "");
    EXPECT_EQ(client.lastSentCommandSequence(), 0u);
    EXPECT_TRUE(client.sendMove(-450, 1000));
    EXPECT_EQ(client.lastSentCommandSequence(), 1u);
    EXPECT_TRUE(client.sendStop());
    EXPECT_TRUE(client.sendBasicAttack(8));
    EXPECT_TRUE(client.sendSkill(8, kSkillWarrior2));
    EXPECT_EQ(client.lastSentCommandSequence(), 4u);
    client.teardown();
    EXPECT_EQ(client.lastSentCommandSequence(), 0u);
    EXPECT_FALSE(client.sendMove(1, 1)) << "no session after teardown";
    EXPECT_FALSE(client.sendStop());
    EXPECT_FALSE(client.sendBasicAttack(8));
    EXPECT_FALSE(client.sendSkill(8, kSkillWarrior1));

    EXPECT_EQ(peer.finish(), "");
    EXPECT_EQ(frameSequences, (std::vector<u32>{3, 4, 5, 6}));
    EXPECT_EQ(commands, (std::vector<ClientCommandMessage>{
                            {1, kCommandMove, 0, 0xFE3E, 1000, 0},
                            {2, kCommandStop, 0, 0, 0, 0},
                            {3, kCommandBasicAttack, 8, 0, 0, 1},
                            {4, kCommandUseSkill, 8, 0, 0, kSkillWarrior2},
                        }));
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
    while (sent < kCommandsBeyondTheBuffers && client.sendStop()) {
        ++sent;
    }
    clientGaveUp.store(true);
    EXPECT_FALSE(client.isRunning()) << "the failed send ended the session";
    EXPECT_EQ(client.lastError(), test::sendTimeoutText());
    EXPECT_EQ(client.lastSentCommandSequence(), sent) << "the failed command is not counted as sent";
    EXPECT_FALSE(client.sendStop());
    client.teardown();
    EXPECT_EQ(peer.finish(), "");
    EXPECT_GT(sent, 0u);
    EXPECT_EQ(received, sent) << "every command reported as sent arrived whole";
    EXPECT_EQ(peerEnd, "duel server closed the connection");
}

TEST(DuelClient, ReconnectStartsFromAClearState) {
    TestPeer first([](PeerConnection& c) {
        c.handshake();
        c.send(kServerCombatEvents, eventsPayload(1, 2));
        c.send(kServerCommandResult, encodeCommandResult(CommandResult{9, false, 2, 1}));
        c.send(kServerSnapshot, encodeSnapshot(snapshotAt(4)));
        c.send(kServerError, encodeServerError(1, "bye"));
        c.waitForClose();
    });
    DuelClient client;
    client.connect(kHost, first.port(), kWarrior, kName, "");
    ASSERT_TRUE(eventually([&] { return !client.isRunning(); }));
    client.teardown();
    EXPECT_EQ(first.finish(), "");
    EXPECT_EQ(client.lastError(), "server error 1: bye");
    EXPECT_TRUE(client.peekSnapshot().has_value()) << "records that arrived before the error stay";

    TestPeer second([](PeerConnection& c) {
        c.handshake();  // checks that the hello is frame 1 of session 0 again
        c.waitForClose();
    });
    client.connect(kHost, second.port(), kWarrior, kName, "");
    EXPECT_EQ(client.lastError(), "");
    EXPECT_FALSE(client.takeSnapshot().has_value());
    EXPECT_TRUE(client.takeCombatEvents().empty());
    EXPECT_TRUE(client.takeCommandResults().empty());
    EXPECT_TRUE(client.isRunning());
    client.teardown();
    EXPECT_EQ(second.finish(), "");
}

}  // namespace
}  // namespace kestrune::net
