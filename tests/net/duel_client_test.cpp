#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <regex>
#include <string>

#include "net/client_messages.h"
#include "net/duel_client.h"
#include "net/frame_codec.h"
#include "net/payload.h"
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

std::vector<std::byte> rawFrame(u16 type, u32 sequence, u64 sessionId, std::span<const std::byte> payload) {
    std::vector<std::byte> out;
    encodeFrame(out, type, sequence, sessionId, payload);
    return out;
}

std::vector<std::byte> patched(std::vector<std::byte> data, std::size_t offset, const std::vector<std::byte>& patch) {
    std::copy(patch.begin(), patch.end(), data.begin() + static_cast<std::ptrdiff_t>(offset));
    return data;
}

std::vector<std::byte> welcomePayload() { return encodeWelcome(ServerWelcomeMessage{kPeerSessionId, kPeerTickRate, 0}); }
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

// The client asks for a warrior in every script below unless it says otherwise.
void welcomedAndJoinRead(PeerConnection& c) {
    c.expectHello();
    c.sendWelcome();
    c.expectJoin();
}

TEST(DuelClientConnect, JoinsAndKeepsWhatArrivesBeforeServerJoined) {
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

TEST(DuelClientConnect, HandshakeFailuresThrowAndLeaveTheClientIdle) {
    const auto welcome = welcomePayload();
    const struct {
        const char* name;
        TestPeer::Script script;
        const char* error;
    } cases[] = {
        {"bad magic",
         [&](PeerConnection& c) {
             c.expectHello();
             c.sendRaw(patched(rawFrame(kServerWelcome, 1, kPeerSessionId, welcome), 3, bytes({'X'})));
         },
         "invalid duel protocol magic"},
        {"protocol version 3",
         [&](PeerConnection& c) {
             c.expectHello();
             c.sendRaw(patched(rawFrame(kServerWelcome, 1, kPeerSessionId, welcome), 4, bytes({3, 0})));
         },
         "incompatible duel protocol version"},
        {"payload of 65537 announced",
         [](PeerConnection& c) {
             c.expectHello();
             c.sendRaw(patched(rawFrame(kServerWelcome, 1, kPeerSessionId, {}), 8, bytes({1, 0, 1, 0})));
         },
         "duel protocol payload is too large"},
        {"error instead of welcome",
         [](PeerConnection& c) {
             c.expectHello();
             c.send(kServerError, encodeServerError(3, "no duels today"));
         },
         "server did not answer with ServerWelcome"},
        {"welcome with session 0",
         [](PeerConnection& c) {
             c.expectHello();
             c.sendWelcome(0);
         },
         "invalid server welcome"},
        {"welcome with tick rate 0",
         [](PeerConnection& c) {
             c.expectHello();
             c.sendWelcome(kPeerSessionId, 0);
         },
         "invalid server welcome"},
        {"welcome header names another session",
         [&](PeerConnection& c) {
             c.expectHello();
             c.sendFrame(kServerWelcome, 1, kPeerSessionId + 1, welcome);
         },
         "invalid server welcome"},
        {"welcome with sequence 2",
         [&](PeerConnection& c) {
             c.expectHello();
             c.sendFrame(kServerWelcome, 2, kPeerSessionId, welcome);
         },
         "expected duel server frame sequence 1, received 2"},
        {"welcome with sequence 0",
         [&](PeerConnection& c) {
             c.expectHello();
             c.sendFrame(kServerWelcome, 0, kPeerSessionId, welcome);
         },
         "expected duel server frame sequence 1, received 0"},
        {"welcome truncated",
         [&](PeerConnection& c) {
             c.expectHello();
             c.send(kServerWelcome, withoutLast(welcome));
         },
         "truncated protocol payload"},
        {"welcome with a trailing byte",
         [&](PeerConnection& c) {
             c.expectHello();
             c.send(kServerWelcome, concat(welcome, bytes({0})));
         },
         "protocol payload contains trailing bytes"},
        {"closed after the hello",
         [](PeerConnection& c) {
             c.expectHello();
             c.close();
         },
         "duel server closed the connection"},
        {"closed in the middle of a header",
         [&](PeerConnection& c) {
             c.expectHello();
             const auto frame = rawFrame(kServerWelcome, 1, kPeerSessionId, welcome);
             c.sendRaw(std::span(frame).first(10));
             c.close();
         },
         "duel server closed the connection"},
        {"joined with entity 0",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.sendJoined(kWarrior, 0);
         },
         "server returned an invalid duel entity id"},
        {"joined the other class",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.sendJoined(kTemplar);
         },
         "server joined a different character class"},
        {"joined class 0",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.sendJoined(0);
         },
         "server joined a different character class"},
        {"joined of 12 bytes with entity 0 is truncated first",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.send(kServerJoined, withoutLast(encodeJoined(ServerJoinedMessage{0, kWarrior, 0, 0})));
         },
         "truncated protocol payload"},
        {"joined of 14 bytes",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.send(kServerJoined, concat(joinedPayload(kWarrior), bytes({0})));
         },
         "protocol payload contains trailing bytes"},
        {"server error while joining",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.send(kServerError, encodeServerError(42, "duel is full"));
         },
         "server error 42: duel is full"},
        {"tick while joining",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.send(kServerTick, encodeTick(1));
         },
         "unexpected duel server message while joining"},
        {"command result while joining",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.send(kServerCommandResult, encodeCommandResult(CommandResult{1, true, 0, 1}));
         },
         "unexpected duel server message while joining"},
        {"second welcome",
         [&](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.send(kServerWelcome, welcome);
         },
         "unexpected duel server message while joining"},
        {"joined with header byte 7 set",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.sendRaw(patched(rawFrame(kServerJoined, 2, kPeerSessionId, joinedPayload(kWarrior)), 7, bytes({1})));
         },
         "unexpected duel server message while joining"},
        {"sequence gap while joining",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.sendFrame(kServerJoined, 3, kPeerSessionId, joinedPayload(kWarrior));
         },
         "expected duel server frame sequence 2, received 3"},
        {"sequence repeated while joining",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.sendFrame(kServerSnapshot, 1, kPeerSessionId, encodeSnapshot(snapshotAt(1)));
         },
         "expected duel server frame sequence 2, received 1"},
        {"joined for another session",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.sendFrame(kServerJoined, 2, kPeerSessionId + 1, joinedPayload(kWarrior));
         },
         "received a frame for another session"},
        {"invalid snapshot while joining",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.send(kServerSnapshot, snapshotWithPlayerClassZero());
         },
         "snapshot contains an invalid player enum value"},
        {"closed while joining",
         [](PeerConnection& c) {
             welcomedAndJoinRead(c);
             c.send(kServerCombatEvents, eventsPayload(1, 2));
             c.close();
         },
         "duel server closed the connection"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestPeer peer([&](PeerConnection& connection) {
            c.script(connection);
            connection.waitForClose();
        });
        DuelClient client;
        expectRuntimeError([&] { client.connect(kHost, peer.port(), kWarrior, kName, "ticket"); }, c.error);
        EXPECT_FALSE(client.isRunning());
        EXPECT_EQ(client.localEntityId(), 0u);
        EXPECT_EQ(client.tickRate(), 0u);
        EXPECT_FALSE(client.sendStop());
        EXPECT_EQ(peer.finish(), "") << "the client closed its socket";
    }
}

TEST(DuelClientConnect, SilentServerTimesOutAfterTheHello) {
    TestPeer peer([](PeerConnection& c) {
        c.expectHello();
        c.waitForClose();
    });
    DuelClient client;
    expectRuntimeError([&] { client.connect(kHost, peer.port(), kWarrior, kName, ""); }, test::receiveTimeoutText());
    EXPECT_FALSE(client.isRunning());
    EXPECT_EQ(peer.finish(), "");
}

TEST(DuelClientConnect, RefusesBadArgumentsBeforeAnyNetworkActivity) {
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
        {"name with a surrogate", kWarrior, "\xED\xA0\x80", "", "character name is not valid UTF-8"},
        {"257-byte ticket", kWarrior, kName, std::string(257, 't'), "game ticket is invalid"},
        {"ticket with a space", kWarrior, kName, "a b", "game ticket is invalid"},
        {"ticket with a dot", kWarrior, kName, "a.b", "game ticket is invalid"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DuelClient client;
        expectInvalidArgument([&] { client.connect("host.invalid", 1, c.characterClass, c.characterName, c.ticket); },
                              c.error);
        EXPECT_FALSE(client.isRunning());
    }
}

TEST(DuelClientConnect, ReportsUnreachableServers) {
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

TEST(DuelClientSession, ErrorsAfterTheJoinEndTheSessionWithTheirText) {
    const auto tick = encodeTick(1);
    PayloadWriter inconsistent;
    inconsistent.u32le(1);
    inconsistent.u8le(1);
    inconsistent.u16le(3);
    inconsistent.u64le(9);
    const auto inconsistentResult = inconsistent.release();
    const struct {
        const char* name;
        TestPeer::Script script;
        const char* error;
    } cases[] = {
        {"connection closed", [](PeerConnection& c) { c.close(); }, "duel server closed the connection"},
        {"sequence gap", [&](PeerConnection& c) { c.sendFrame(kServerTick, 4, kPeerSessionId, tick); },
         "expected duel server frame sequence 3, received 4"},
        {"sequence repeated", [&](PeerConnection& c) { c.sendFrame(kServerTick, 2, kPeerSessionId, tick); },
         "expected duel server frame sequence 3, received 2"},
        {"gap after good frames",
         [&](PeerConnection& c) {
             c.send(kServerTick, tick);
             c.send(kServerSnapshot, encodeSnapshot(snapshotAt(3)));
             c.sendFrame(kServerTick, 9, kPeerSessionId, tick);
         },
         "expected duel server frame sequence 5, received 9"},
        {"another session", [&](PeerConnection& c) { c.sendFrame(kServerTick, 3, kPeerSessionId ^ 1, tick); },
         "received a frame for another session"},
        {"server error", [](PeerConnection& c) { c.send(kServerError, encodeServerError(9, "server shutting down")); },
         "server error 9: server shutting down"},
        {"welcome after the join", [](PeerConnection& c) { c.send(kServerWelcome, welcomePayload()); },
         "unexpected duel server message"},
        {"joined after the join", [](PeerConnection& c) { c.send(kServerJoined, joinedPayload(kWarrior)); },
         "unexpected duel server message"},
        {"client message type", [](PeerConnection& c) { c.send(kClientCommand, {}); }, "unexpected duel server message"},
        {"unknown type", [](PeerConnection& c) { c.send(250, {}); }, "unexpected duel server message"},
        {"tick with a trailing byte", [&](PeerConnection& c) { c.send(kServerTick, concat(tick, bytes({0}))); },
         "protocol payload contains trailing bytes"},
        {"truncated tick", [&](PeerConnection& c) { c.send(kServerTick, withoutLast(tick)); },
         "truncated protocol payload"},
        {"truncated command result",
         [](PeerConnection& c) {
             c.send(kServerCommandResult, withoutLast(encodeCommandResult(CommandResult{1, true, 0, 1})));
         },
         "truncated protocol payload"},
        {"inconsistent command result", [&](PeerConnection& c) { c.send(kServerCommandResult, inconsistentResult); },
         "command result is internally inconsistent"},
        {"invalid combat event",
         [](PeerConnection& c) { c.send(kServerCombatEvents, patched(eventsPayload(1, 1), 2 + 8, bytes({8}))); },
         "combat event contains an invalid enum value"},
        {"too many combat events", [](PeerConnection& c) { c.send(kServerCombatEvents, bytes({0x01, 0x10})); },
         "combat event limit exceeded"},
        {"invalid snapshot", [](PeerConnection& c) { c.send(kServerSnapshot, snapshotWithPlayerClassZero()); },
         "snapshot contains an invalid player enum value"},
        {"bad magic",
         [&](PeerConnection& c) { c.sendRaw(patched(rawFrame(kServerTick, 3, kPeerSessionId, tick), 0, bytes({'D'}))); },
         "invalid duel protocol magic"},
        {"payload too large",
         [](PeerConnection& c) {
             c.sendRaw(patched(rawFrame(kServerSnapshot, 3, kPeerSessionId, {}), 8, bytes({0xFF, 0xFF, 0xFF, 0x7F})));
         },
         "duel protocol payload is too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestPeer peer([&](PeerConnection& connection) {
            connection.handshake();
            c.script(connection);
            connection.waitForClose();
        });
        DuelClient client;
        client.connect(kHost, peer.port(), kWarrior, kName, "");
        ASSERT_TRUE(eventually([&] { return !client.isRunning(); }));
        EXPECT_EQ(client.lastError(), c.error);
        EXPECT_FALSE(client.sendMove(1, 2));
        EXPECT_EQ(client.lastSentCommandSequence(), 0u);
        client.teardown();
        EXPECT_EQ(client.lastError(), c.error) << "teardown keeps the reason";
        EXPECT_EQ(peer.finish(), "");
    }
}

TEST(DuelClientSession, TeardownWakesABlockedReceiveAndRecordsNoError) {
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

    const auto started = std::chrono::steady_clock::now();
    auto done = std::async(std::launch::async, [&] { client.teardown(); });
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        // The future's destructor would wait for the hung teardown forever.
        std::fputs("DuelClientSession.TeardownWakesABlockedReceiveAndRecordsNoError: teardown hangs\n", stderr);
        std::_Exit(1);
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    ::testing::Test::RecordProperty("teardownMicroseconds", std::to_string(elapsed.count()));

    EXPECT_FALSE(client.isRunning());
    EXPECT_EQ(client.lastError(), "");
    EXPECT_EQ(client.localEntityId(), 0u);
    EXPECT_EQ(client.tickRate(), 0u);
    EXPECT_EQ(peer.finish(), "");
    client.teardown();  // a second teardown is harmless
}

TEST(DuelClientSession, CommandsAreNumberedAndCarryTheirFields) {
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
    EXPECT_FALSE(client.sendStop()) << "no session after teardown";

    EXPECT_EQ(peer.finish(), "");
    EXPECT_EQ(frameSequences, (std::vector<u32>{3, 4, 5, 6}));
    EXPECT_EQ(commands, (std::vector<ClientCommandMessage>{
                            {1, kCommandMove, 0, 0xFE3E, 1000, 0},
                            {2, kCommandStop, 0, 0, 0, 0},
                            {3, kCommandBasicAttack, 8, 0, 0, 1},
                            {4, kCommandUseSkill, 8, 0, 0, kSkillWarrior2},
                        }));
}

TEST(DuelClientSession, SendersReturnFalseWithoutASession) {
    DuelClient client;
    EXPECT_FALSE(client.sendMove(1, 1));
    EXPECT_FALSE(client.sendStop());
    EXPECT_FALSE(client.sendBasicAttack(1));
    EXPECT_FALSE(client.sendSkill(1, kSkillWarrior1));
    EXPECT_EQ(client.lastSentCommandSequence(), 0u);
    EXPECT_EQ(client.lastError(), "");
    client.teardown();  // nothing connected: still safe
}

TEST(DuelClientSession, ReconnectStartsFromAClearState) {
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
