#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "net/payload.h"
#include "net/protocol.h"
#include "net/server_messages.h"
#include "fuzz/fuzz_support.h"
#include "net_test_support.h"

namespace kestrune::net {
namespace {

using namespace test;

SnapshotPlayer player(u32 entityId) {
    return SnapshotPlayer{entityId, kWarrior, -1500, 2750, 80, 100, kStateLocked, 12, 0xEE, kSkillWarrior1, 41};
}

SnapshotProjectile projectile(u16 skill) { return SnapshotProjectile{{1, 2, 3, 4, 0xFFFFFFFF}, 0xBEEF, skill}; }

CombatEvent event(u64 eventId) { return CombatEvent{eventId, kEventActionStarted, 3, 4, kSkillBasicAttack, 2, 0x1234}; }

// Entries written byte by byte in wire order, independent of the encoder: a player is entity
// 0x01020304, x -450, z 1000, health 55 of 100, lock 9, opaque 0x7F, last command 0xA0B0C0D0.
std::vector<std::byte> playerEntry(u8 characterClass, u16 stateFlags, u16 skill) {
    return bytes({4, 3, 2, 1, characterClass, 0x3E, 0xFE, 0xFF, 0xFF, 0xE8, 3, 0, 0, 55, 0, 0, 0, 100, 0, 0, 0,
                  stateFlags & 0xFF, stateFlags >> 8, 9, 0, 0x7F, skill & 0xFF, skill >> 8, 0xD0, 0xC0, 0xB0, 0xA0});
}

// Five words 0x01010101 to 0x05050505, then 0xCAFE.
std::vector<std::byte> projectileEntry(u16 skill) {
    return bytes({1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0xFE, 0xCA, skill & 0xFF, skill >> 8});
}

// Event 0x0102030405060708 from 11 to 22, value -3, extra 0xABCD.
std::vector<std::byte> eventEntry(u8 kind, u16 skill) {
    return bytes({8, 7, 6, 5, 4, 3, 2, 1, kind, 11, 0, 0, 0, 22, 0, 0, 0, skill & 0xFF, skill >> 8, 0xFD, 0xFF, 0xFF,
                  0xFF, 0xCD, 0xAB});
}

std::vector<std::byte> snapshotPayload(const std::vector<std::vector<std::byte>>& players,
                                       const std::vector<std::vector<std::byte>>& projectiles) {
    PayloadWriter w;
    w.u64le(0x1122334455667788ull);
    w.u16le(static_cast<u16>(players.size()));
    for (const auto& p : players) w.append(p);
    w.u16le(static_cast<u16>(projectiles.size()));
    for (const auto& p : projectiles) w.append(p);
    return w.release();
}

std::vector<std::byte> eventsPayload(u16 count, const std::vector<std::byte>& entries) {
    return concat(bytes({count & 0xFF, count >> 8}), entries);
}

TEST(ServerMessages, SnapshotFieldsSitAtTheirWireOffsetsAndCountsAreCheckedBeforeAnyEntry) {
    const auto payload = snapshotPayload({playerEntry(kTemplar, 31, kSkillTemplar2)}, {projectileEntry(kSkillNone)});
    ASSERT_EQ(payload.size(), 12u + 32 + 24);
    const DuelSnapshot snapshot = decodeSnapshot(payload);
    EXPECT_EQ(snapshot, (DuelSnapshot{0x1122334455667788ull,
                            {{0x01020304, kTemplar, -450, 1000, 55, 100, 31, 9, 0x7F, kSkillTemplar2, 0xA0B0C0D0}},
                            {{{0x01010101, 0x02020202, 0x03030303, 0x04040404, 0x05050505}, 0xCAFE, kSkillNone}}}));
    EXPECT_EQ(encodeSnapshot(snapshot), payload) << "the encoder writes the same layout";

    DuelSnapshot full{1, {}, {}};
    for (u32 i = 0; i < 256; ++i) {
        full.players.push_back(player(i + 1));  // distinct entries, so each must land in its own place
        full.players.back().characterClass = i % 2 == 0 ? kWarrior : kTemplar;
    }
    for (u32 i = 0; i < 2048; ++i) {
        full.projectiles.push_back(projectile(i % 2 == 0 ? kSkillNone : kSkillTemplar1));
        full.projectiles.back().opaqueHalf = static_cast<u16>(i);
    }
    const auto fullPayload = encodeSnapshot(full);
    EXPECT_EQ(fullPayload.size(), 12u + 256 * 32 + 2048 * 24);
    EXPECT_EQ(decodeSnapshot(fullPayload), full);
    const auto tick7 = bytes({7, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(encodeSnapshot(DuelSnapshot{7, {}, {}}), concat(tick7, bytes({0, 0, 0, 0})));
    EXPECT_EQ(decodeSnapshot(concat(tick7, bytes({0, 0, 0, 0}))), (DuelSnapshot{7, {}, {}}));

    // No entry bytes follow the counts: the count alone must fail.
    expectRuntimeError([&] { decodeSnapshot(concat(tick7, bytes({0x01, 0x01}))); }, "snapshot player limit exceeded");
    expectRuntimeError([&] { decodeSnapshot(concat(tick7, bytes({0xFF, 0xFF}))); }, "snapshot player limit exceeded");
    expectRuntimeError([&] { decodeSnapshot(concat(tick7, bytes({0, 0, 0x01, 0x08}))); },
                       "snapshot projectile limit exceeded");
    DuelSnapshot tooLarge = full;
    tooLarge.players.push_back(player(6));
    expectInvalidArgument([&] { encodeSnapshot(tooLarge); }, "snapshot player limit exceeded");
    tooLarge.players.pop_back();
    tooLarge.projectiles.push_back(projectile(kSkillNone));
    expectInvalidArgument([&] { encodeSnapshot(tooLarge); }, "snapshot projectile limit exceeded");
}

// Each entry follows a valid one, so a rule must hold for every entry, not just the first;
// what the decoder refuses, the encoder refuses too.
TEST(ServerMessages, SnapshotPlayerAndCombatEventEnumRules) {
    const struct { const char* name; u8 characterClass; u16 stateFlags, skill; bool valid; } players[] = {
        {"warrior", kWarrior, 0, kSkillNone, true},          {"templar", kTemplar, 0, kSkillBasicAttack, true},
        {"class 0", 0, 0, kSkillNone, false},                {"class 3", 3, 0, kSkillNone, false},
        {"flags 31", kWarrior, 31, kSkillNone, true},        {"flags 32", kWarrior, 32, kSkillNone, false},
        {"flags 0x8000", kWarrior, 0x8000, kSkillNone, false}, {"skill 1001", kWarrior, 0, kSkillWarrior1, true},
        {"skill 1002", kWarrior, 0, kSkillWarrior2, true},   {"skill 2001", kWarrior, 0, kSkillTemplar1, true},
        {"skill 2", kWarrior, 0, 2, false},                  {"skill 1003", kWarrior, 0, 1003, false},
        {"skill 2003", kWarrior, 0, 2003, false},            {"skill 1000", kWarrior, 0, 1000, false}};
    for (const auto& c : players) {
        SCOPED_TRACE(c.name);
        const auto second = playerEntry(c.characterClass, c.stateFlags, c.skill);
        const auto payload = snapshotPayload({playerEntry(kWarrior, 0, 0), second}, {});
        if (c.valid) {
            EXPECT_EQ(decodeSnapshot(payload).players.at(1).skill, c.skill);
            continue;
        }
        expectRuntimeError([&] { decodeSnapshot(payload); }, "snapshot contains an invalid player enum value");
        const DuelSnapshot refused{1, {{1, c.characterClass, 0, 0, 80, 100, c.stateFlags, 0, 0, c.skill, 0}}, {}};
        expectInvalidArgument([&] { encodeSnapshot(refused); }, "snapshot contains an invalid player enum value");
    }
    const struct { const char* name; u8 kind; u16 skill; bool valid; } events[] = {
        {"kind 1", 1, kSkillNone, true},        {"kind 7", 7, kSkillNone, true},   {"kind 0", 0, kSkillNone, false},
        {"kind 8", 8, kSkillNone, false},       {"kind 255", 255, kSkillNone, false},
        {"skill 2002", 2, kSkillTemplar2, true}, {"skill 2", 2, 2, false},          {"skill 1003", 2, 1003, false}};
    for (const auto& c : events) {
        SCOPED_TRACE(c.name);
        const auto payload = eventsPayload(2, concat(eventEntry(1, 0), eventEntry(c.kind, c.skill)));
        if (c.valid) {
            EXPECT_EQ(decodeCombatEvents(payload).at(1).kind, c.kind);
            continue;
        }
        expectRuntimeError([&] { decodeCombatEvents(payload); }, "combat event contains an invalid enum value");
        const CombatEvent refused{1, c.kind, 3, 4, c.skill, 2, 0x1234};
        expectInvalidArgument([&] { encodeCombatEvents(std::span(&refused, 1)); },
                              "combat event contains an invalid enum value");
    }
    expectInvalidArgument([] { encodeSnapshot(DuelSnapshot{1, {}, {projectile(1003)}}); },
                          "snapshot contains an invalid projectile skill");
}

TEST(ServerMessages, CombatEventsLayoutAndLimits) {
    const auto one = eventsPayload(1, eventEntry(kLastEventKind, kSkillTemplar1));
    ASSERT_EQ(one.size(), 2u + 25);
    EXPECT_EQ(decodeCombatEvents(one),
              (std::vector<CombatEvent>{{0x0102030405060708ull, kLastEventKind, 11, 22, kSkillTemplar1, -3, 0xABCD}}));
    EXPECT_EQ(encodeCombatEvents(decodeCombatEvents(one)), one);
    EXPECT_EQ(std::tuple(encodeCombatEvents({}), decodeCombatEvents(bytes({0, 0})).size()),
              std::tuple(bytes({0, 0}), 0u));
    const std::vector<CombatEvent> most(4096, event(1));
    EXPECT_EQ(decodeCombatEvents(encodeCombatEvents(most)), most);
    expectRuntimeError([] { decodeCombatEvents(bytes({0x01, 0x10})); }, "combat event limit exceeded");
    expectInvalidArgument([] { encodeCombatEvents(std::vector<CombatEvent>(4097, event(1))); },
                          "combat event limit exceeded");
}

// The server encodes every tick into the same two buffers: what a longer message left there
// must not survive, and a refused message must not leave a stale one to be sent.
TEST(ServerMessages, EncodingIntoABufferReplacesItsContents) {
    const DuelSnapshot small{9, {player(1)}, {}};
    const DuelSnapshot large{8, {player(2), player(3)}, {projectile(kSkillTemplar1), projectile(kSkillNone)}};
    std::vector<std::byte> buffer;
    encodeSnapshot(large, buffer);
    encodeSnapshot(small, buffer);
    EXPECT_EQ(buffer, encodeSnapshot(small));
    EXPECT_THROW(encodeSnapshot(DuelSnapshot{1, {}, {projectile(1003)}}, buffer), std::invalid_argument);
    EXPECT_TRUE(buffer.empty());

    encodeCombatEvents(std::vector<CombatEvent>(3, event(4)), buffer);
    encodeCombatEvents(std::vector<CombatEvent>{event(5)}, buffer);
    EXPECT_EQ(buffer, encodeCombatEvents(std::vector<CombatEvent>{event(5)}));
    EXPECT_THROW(encodeCombatEvents(std::vector<CombatEvent>(4097, event(1)), buffer), std::invalid_argument);
    EXPECT_TRUE(buffer.empty());
}

TEST(ServerMessages, CommandResultConsistency) {
    const struct { const char* name; u8 accepted; u16 reason; bool valid; } cases[] = {
        {"accepted", 1, 0, true},        {"any non-zero byte accepts", 0x80, 0, true},
        {"reason 1", 0, 1, true},        {"reason 11", 0, 11, true},
        {"accepted with a reason", 1, 3, false}, {"rejected without a reason", 0, 0, false},
        {"reason 12", 0, 12, false},     {"reason 0x0100 (high byte)", 0, 0x0100, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto payload = bytes({4, 3, 2, 1, c.accepted, c.reason & 0xFF, c.reason >> 8, 0x11, 0x10, 0x0F, 0x0E,
                                    0x0D, 0x0C, 0x0B, 0x0A});
        if (c.valid) {
            const CommandResult result = decodeCommandResult(payload);
            EXPECT_EQ(result, (CommandResult{0x01020304, c.accepted != 0, c.reason, 0x0A0B0C0D0E0F1011ull}));
            EXPECT_EQ(decodeCommandResult(encodeCommandResult(result)), result);
        } else {
            expectRuntimeError([&] { decodeCommandResult(payload); }, "command result is internally inconsistent");
            expectInvalidArgument([&] { encodeCommandResult(CommandResult{1, c.accepted != 0, c.reason, 1}); },
                                  "command result is internally inconsistent");
        }
    }
}

// A body of the wrong size fails to decode back (see the refusals below).
TEST(ServerMessages, FixedSizeBodiesAndTheErrorTextDecodeBack) {
    EXPECT_EQ(encodeTick(0x8877665544332211ull), bytes({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    EXPECT_EQ(decodeWelcome(encodeWelcome(ServerWelcomeMessage{0x0102030405060708ull, 30, 0xFFFFFFFF})),
              (ServerWelcomeMessage{0x0102030405060708ull, 30, 0xFFFFFFFF}));
    EXPECT_EQ(decodeJoined(encodeJoined(ServerJoinedMessage{0, 9, 1, 2})), (ServerJoinedMessage{0, 9, 1, 2}))
        << "values are the session's business";
    EXPECT_EQ(decodeTick(encodeTick(0x8877665544332211ull)), 0x8877665544332211ull);

    EXPECT_EQ(decodeServerError(encodeServerError(503, "duel is full")), "server error 503: duel is full");
    EXPECT_EQ(decodeServerError(encodeServerError(0, "")), "server error 0: ");
    EXPECT_EQ(decodeServerError(bytes({0xFF, 0xFF, 1, 0, 'x'})), "server error 65535: x");
    const std::string e256(256, 'e');
    EXPECT_EQ(decodeServerError(encodeServerError(1, e256)), "server error 1: " + e256);
    expectInvalidArgument([] { encodeServerError(1, std::string(257, 'e')); }, "protocol string is too long");
}

TEST(ServerMessages, DecodersRefuseMalformedPayloadsInReadingOrder) {
    const char* const truncated = "truncated protocol payload";
    const char* const trailing = "protocol payload contains trailing bytes";
    // Each fixed-size body a byte short and a byte long.
    const struct { u16 type; std::vector<std::byte> body; } bodies[] = {
        {kServerWelcome, encodeWelcome({1, 30, 0})}, {kServerJoined, encodeJoined({1, 1, 0, 0})},
        {kServerCommandResult, encodeCommandResult({1, true, 0, 5})}, {kServerTick, encodeTick(1)}};
    for (const auto& b : bodies) {
        SCOPED_TRACE(b.type);
        expectRuntimeError([&] { fuzz::decodeServerFrame(Frame{b.type, 1, 1, withoutLast(b.body)}); }, truncated);
        expectRuntimeError([&] { fuzz::decodeServerFrame(Frame{b.type, 1, 1, concat(b.body, bytes({0}))}); }, trailing);
    }
    const auto badPlayer = playerEntry(0, 0, 0);
    const char* const badSkill = "snapshot contains an invalid projectile skill";
    constexpr u16 snapshot = kServerSnapshot, combatEvents = kServerCombatEvents, serverError = kServerError;
    const struct { const char* name; u16 type; std::vector<std::byte> payload; const char* error; } cases[] = {
        {"empty snapshot payload", snapshot, {}, truncated},
        {"truncation before the bad class", snapshot, withoutLast(snapshotPayload({badPlayer}, {}), 3), truncated},
        {"no projectile count", snapshot, withoutLast(snapshotPayload({playerEntry(1, 0, 0)}, {}), 2), truncated},
        {"projectile skill 3", snapshot, snapshotPayload({}, {projectileEntry(3)}), badSkill},
        {"projectile skill 2003", snapshot, snapshotPayload({}, {projectileEntry(2003)}), badSkill},
        {"truncated projectile", snapshot, withoutLast(snapshotPayload({}, {projectileEntry(0)})), truncated},
        {"byte after a snapshot", snapshot, concat(snapshotPayload({}, {}), bytes({0})), trailing},
        {"bad player before trailing bytes", snapshot, concat(snapshotPayload({badPlayer}, {}), bytes({0})),
         "snapshot contains an invalid player enum value"},
        {"event count beyond the entries", combatEvents, eventsPayload(2, eventEntry(1, 0)), truncated},
        {"byte after the events", combatEvents, concat(eventsPayload(1, eventEntry(1, 0)), bytes({0})), trailing},
        {"error text of 257 bytes", serverError, concat(bytes({1, 0, 1, 1}), test::bytesOf(std::string(257, 'e'))),
         "protocol string exceeds its limit"},
        {"error text cut off", serverError, bytes({1, 0, 3, 0, 'a'}), truncated},
        {"error code cut off", serverError, bytes({1}), truncated},
        {"error text not UTF-8", serverError, bytes({1, 0, 1, 0, 0xFF}), "protocol string is not valid UTF-8"},
        {"byte after the error text", serverError, bytes({1, 0, 1, 0, 'a', 0}), trailing}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectRuntimeError([&] { fuzz::decodeServerFrame(Frame{c.type, 1, 1, c.payload}); }, c.error);
    }
}

}  // namespace
}  // namespace kestrune::net
