#include <gtest/gtest.h>

#include <string>

#include "net/payload.h"
#include "net/protocol.h"
#include "net/server_messages.h"
#include "net_test_support.h"

namespace kestrune::net {
namespace {

using test::bytes;
using test::concat;
using test::expectInvalidArgument;
using test::expectRuntimeError;
using test::withoutLast;

SnapshotPlayer player(u32 entityId) {
    return SnapshotPlayer{entityId, kWarrior, -1500, 2750, 80, 100, kStateLocked, 12, 0xEE, kSkillWarrior1, 41};
}

SnapshotProjectile projectile(u16 skill) {
    return SnapshotProjectile{{1, 2, 3, 4, 0xFFFFFFFF}, 0xBEEF, skill};
}

CombatEvent event(u64 eventId) {
    return CombatEvent{eventId, kEventActionStarted, 3, 4, kSkillBasicAttack, 2, 0x1234};
}

// A player entry written field by field in wire order, independent of the encoder.
std::vector<std::byte> playerEntry(u8 characterClass, u16 stateFlags, u16 skill) {
    PayloadWriter w;
    w.u32le(0x01020304);
    w.u8le(characterClass);
    w.i32le(-450);
    w.i32le(1000);
    w.i32le(55);
    w.i32le(100);
    w.u16le(stateFlags);
    w.u16le(9);
    w.u8le(0x7F);
    w.u16le(skill);
    w.u32le(0xA0B0C0D0);
    return w.release();
}

std::vector<std::byte> snapshotPayload(const std::vector<std::vector<std::byte>>& players,
                                       const std::vector<std::vector<std::byte>>& projectiles) {
    PayloadWriter w;
    w.u64le(0x1122334455667788ull);
    w.u16le(static_cast<u16>(players.size()));
    for (const auto& p : players) {
        w.append(p);
    }
    w.u16le(static_cast<u16>(projectiles.size()));
    for (const auto& p : projectiles) {
        w.append(p);
    }
    return w.release();
}

std::vector<std::byte> projectileEntry(u16 skill) {
    PayloadWriter w;
    for (u32 word = 1; word <= 5; ++word) {
        w.u32le(word * 0x01010101u);
    }
    w.u16le(0xCAFE);
    w.u16le(skill);
    return w.release();
}

std::vector<std::byte> eventEntry(u8 kind, u16 skill) {
    PayloadWriter w;
    w.u64le(0x0102030405060708ull);
    w.u8le(kind);
    w.u32le(11);
    w.u32le(22);
    w.u16le(skill);
    w.i32le(-3);
    w.u16le(0xABCD);
    return w.release();
}

std::vector<std::byte> eventsPayload(u16 count, const std::vector<std::byte>& entries) {
    PayloadWriter w;
    w.u16le(count);
    w.append(entries);
    return w.release();
}

TEST(ServerMessages, SnapshotFieldsSitAtTheirWireOffsets) {
    const auto payload = snapshotPayload({playerEntry(kTemplar, 31, kSkillTemplar2)}, {projectileEntry(kSkillNone)});
    ASSERT_EQ(payload.size(), 12u + 32 + 24);
    const DuelSnapshot snapshot = decodeSnapshot(payload);
    EXPECT_EQ(snapshot.tick, 0x1122334455667788ull);
    ASSERT_EQ(snapshot.players.size(), 1u);
    EXPECT_EQ(snapshot.players[0], (SnapshotPlayer{0x01020304, kTemplar, -450, 1000, 55, 100, 31, 9, 0x7F,
                                                   kSkillTemplar2, 0xA0B0C0D0}));
    ASSERT_EQ(snapshot.projectiles.size(), 1u);
    EXPECT_EQ(snapshot.projectiles[0],
              (SnapshotProjectile{{0x01010101, 0x02020202, 0x03030303, 0x04040404, 0x05050505}, 0xCAFE, kSkillNone}));
    EXPECT_EQ(encodeSnapshot(snapshot), payload) << "the encoder writes the same layout";
}

TEST(ServerMessages, SnapshotCountsAreCheckedBeforeAnyEntryIsRead) {
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

TEST(ServerMessages, SnapshotPlayerEnumRules) {
    const struct {
        const char* name;
        u8 characterClass;
        u16 stateFlags;
        u16 skill;
        bool valid;
    } cases[] = {
        {"warrior", kWarrior, 0, kSkillNone, true},
        {"templar", kTemplar, 0, kSkillBasicAttack, true},
        {"class 0", 0, 0, kSkillNone, false},
        {"class 3", 3, 0, kSkillNone, false},
        {"flags 31", kWarrior, 31, kSkillNone, true},
        {"flags 32", kWarrior, 32, kSkillNone, false},
        {"flags 0x8000", kWarrior, 0x8000, kSkillNone, false},
        {"skill 1001", kWarrior, 0, kSkillWarrior1, true},
        {"skill 1002", kWarrior, 0, kSkillWarrior2, true},
        {"skill 2001", kWarrior, 0, kSkillTemplar1, true},
        {"skill 2", kWarrior, 0, 2, false},
        {"skill 1003", kWarrior, 0, 1003, false},
        {"skill 2003", kWarrior, 0, 2003, false},
        {"skill 1000", kWarrior, 0, 1000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto payload = snapshotPayload({playerEntry(kWarrior, 0, 0), playerEntry(c.characterClass, c.stateFlags, c.skill)}, {});
        if (c.valid) {
            EXPECT_EQ(decodeSnapshot(payload).players.at(1).skill, c.skill);
        } else {
            expectRuntimeError([&] { decodeSnapshot(payload); }, "snapshot contains an invalid player enum value");
            DuelSnapshot refused{1, {player(1)}, {}};
            refused.players[0].characterClass = c.characterClass;
            refused.players[0].stateFlags = c.stateFlags;
            refused.players[0].skill = c.skill;
            expectInvalidArgument([&] { encodeSnapshot(refused); }, "snapshot contains an invalid player enum value");
        }
    }
}

TEST(ServerMessages, SnapshotFailuresInReadingOrder) {
    const auto badPlayer = playerEntry(0, 0, 0);
    const struct {
        const char* name;
        std::vector<std::byte> payload;
        const char* error;
    } cases[] = {
        {"truncated entry reports truncation before its bad class",
         withoutLast(snapshotPayload({badPlayer}, {}), 3), "truncated protocol payload"},
        {"player cut before the projectile count", withoutLast(snapshotPayload({playerEntry(1, 0, 0)}, {}), 2),
         "truncated protocol payload"},
        {"projectile skill 3", snapshotPayload({}, {projectileEntry(3)}), "snapshot contains an invalid projectile skill"},
        {"projectile skill 2003", snapshotPayload({}, {projectileEntry(2003)}),
         "snapshot contains an invalid projectile skill"},
        {"truncated projectile", withoutLast(snapshotPayload({}, {projectileEntry(0)})), "truncated protocol payload"},
        {"trailing byte", concat(snapshotPayload({}, {}), bytes({0})), "protocol payload contains trailing bytes"},
        {"bad player before trailing bytes", concat(snapshotPayload({badPlayer}, {}), bytes({0})),
         "snapshot contains an invalid player enum value"},
        {"empty payload", {}, "truncated protocol payload"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectRuntimeError([&] { decodeSnapshot(c.payload); }, c.error);
    }
    DuelSnapshot refused{1, {}, {projectile(1003)}};
    expectInvalidArgument([&] { encodeSnapshot(refused); }, "snapshot contains an invalid projectile skill");
}

TEST(ServerMessages, CombatEventsLayoutAndLimits) {
    const auto one = eventsPayload(1, eventEntry(kLastEventKind, kSkillTemplar1));
    ASSERT_EQ(one.size(), 2u + 25);
    EXPECT_EQ(decodeCombatEvents(one),
              (std::vector<CombatEvent>{{0x0102030405060708ull, kLastEventKind, 11, 22, kSkillTemplar1, -3, 0xABCD}}));
    EXPECT_EQ(encodeCombatEvents(decodeCombatEvents(one)), one);

    const auto none = encodeCombatEvents({});
    EXPECT_EQ(none, bytes({0, 0}));
    EXPECT_TRUE(decodeCombatEvents(none).empty());

    const std::vector<CombatEvent> most(4096, event(1));
    EXPECT_EQ(decodeCombatEvents(encodeCombatEvents(most)), most);
    expectRuntimeError([] { decodeCombatEvents(bytes({0x01, 0x10})); }, "combat event limit exceeded");
    const std::vector<CombatEvent> tooMany(4097, event(1));
    expectInvalidArgument([&] { encodeCombatEvents(tooMany); }, "combat event limit exceeded");
}

// The server encodes every tick into the same two buffers: what a longer message left there
// must not survive, and a refused message must not leave a stale one to be sent.
TEST(ServerMessages, EncodingIntoABufferReplacesItsContents) {
    const DuelSnapshot small{9, {player(1)}, {}};
    const DuelSnapshot large{8, {player(2), player(3)}, {projectile(kSkillTemplar1), projectile(kSkillNone)}};
    std::vector<std::byte> buffer;
    encodeSnapshot(large, buffer);
    EXPECT_EQ(buffer, encodeSnapshot(large));
    encodeSnapshot(small, buffer);
    EXPECT_EQ(buffer, encodeSnapshot(small));
    const DuelSnapshot refused{1, {}, {projectile(1003)}};
    EXPECT_THROW(encodeSnapshot(refused, buffer), std::invalid_argument);
    EXPECT_TRUE(buffer.empty());

    const std::vector<CombatEvent> three(3, event(4)), one{event(5)};
    encodeCombatEvents(three, buffer);
    encodeCombatEvents(one, buffer);
    EXPECT_EQ(buffer, encodeCombatEvents(one));
    EXPECT_THROW(encodeCombatEvents(std::vector<CombatEvent>(4097, event(1)), buffer), std::invalid_argument);
    EXPECT_TRUE(buffer.empty());
}

TEST(ServerMessages, CombatEventEnumRules) {
    const struct {
        const char* name;
        u8 kind;
        u16 skill;
        bool valid;
    } cases[] = {
        {"kind 1", 1, kSkillNone, true},
        {"kind 7", 7, kSkillNone, true},
        {"kind 0", 0, kSkillNone, false},
        {"kind 8", 8, kSkillNone, false},
        {"kind 255", 255, kSkillNone, false},
        {"skill 2002", 2, kSkillTemplar2, true},
        {"skill 2", 2, 2, false},
        {"skill 1003", 2, 1003, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto payload = eventsPayload(2, concat(eventEntry(1, 0), eventEntry(c.kind, c.skill)));
        if (c.valid) {
            EXPECT_EQ(decodeCombatEvents(payload).at(1).kind, c.kind);
        } else {
            expectRuntimeError([&] { decodeCombatEvents(payload); }, "combat event contains an invalid enum value");
            CombatEvent refused = event(1);
            refused.kind = c.kind;
            refused.skill = c.skill;
            expectInvalidArgument([&] { encodeCombatEvents(std::span(&refused, 1)); },
                                  "combat event contains an invalid enum value");
        }
    }
    expectRuntimeError([] { decodeCombatEvents(eventsPayload(2, eventEntry(1, 0))); }, "truncated protocol payload");
    expectRuntimeError([] { decodeCombatEvents(concat(eventsPayload(1, eventEntry(1, 0)), bytes({0}))); },
                       "protocol payload contains trailing bytes");
}

TEST(ServerMessages, CommandResultConsistency) {
    const struct {
        const char* name;
        u8 accepted;
        u16 reason;
        bool valid;
    } cases[] = {
        {"accepted", 1, 0, true},
        {"any non-zero byte accepts", 0x80, 0, true},
        {"rejected with reason 1", 0, 1, true},
        {"rejected with reason 11", 0, 11, true},
        {"accepted with a reason", 1, 3, false},
        {"rejected without a reason", 0, 0, false},
        {"reason 12", 0, 12, false},
        {"reason 0x0100 (high byte)", 0, 0x0100, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PayloadWriter w;
        w.u32le(0x01020304);
        w.u8le(c.accepted);
        w.u16le(c.reason);
        w.u64le(0x0A0B0C0D0E0F1011ull);
        if (c.valid) {
            const CommandResult result = decodeCommandResult(w.bytes());
            EXPECT_EQ(result, (CommandResult{0x01020304, c.accepted != 0, c.reason, 0x0A0B0C0D0E0F1011ull}));
            EXPECT_EQ(decodeCommandResult(encodeCommandResult(result)), result);
        } else {
            expectRuntimeError([&] { decodeCommandResult(w.bytes()); }, "command result is internally inconsistent");
            expectInvalidArgument([&] { encodeCommandResult(CommandResult{1, c.accepted != 0, c.reason, 1}); },
                                  "command result is internally inconsistent");
        }
    }
}

TEST(ServerMessages, FixedSizeBodiesRefuseShortAndLongPayloads) {
    const auto welcome = encodeWelcome(ServerWelcomeMessage{0x0102030405060708ull, 30, 0xFFFFFFFF});
    const auto joined = encodeJoined(ServerJoinedMessage{0, 9, 1, 2});  // values are the session's business
    const auto result = encodeCommandResult(CommandResult{1, true, 0, 5});
    const auto tick = encodeTick(0x8877665544332211ull);
    EXPECT_EQ(welcome.size(), kWelcomeBytes);
    EXPECT_EQ(joined.size(), kJoinedBytes);
    EXPECT_EQ(result.size(), kCommandResultBytes);
    EXPECT_EQ(tick, bytes({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    EXPECT_EQ(decodeWelcome(welcome), (ServerWelcomeMessage{0x0102030405060708ull, 30, 0xFFFFFFFF}));
    EXPECT_EQ(decodeJoined(joined), (ServerJoinedMessage{0, 9, 1, 2}));
    EXPECT_EQ(decodeTick(tick), 0x8877665544332211ull);

    const struct {
        const char* name;
        std::vector<std::byte> payload;
        void (*decode)(std::span<const std::byte>);
    } cases[] = {
        {"welcome", welcome, [](std::span<const std::byte> p) { decodeWelcome(p); }},
        {"joined", joined, [](std::span<const std::byte> p) { decodeJoined(p); }},
        {"command result", result, [](std::span<const std::byte> p) { decodeCommandResult(p); }},
        {"tick", tick, [](std::span<const std::byte> p) { decodeTick(p); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectRuntimeError([&] { c.decode(withoutLast(c.payload)); }, "truncated protocol payload");
        expectRuntimeError([&] { c.decode(concat(c.payload, bytes({0}))); }, "protocol payload contains trailing bytes");
    }
}

TEST(ServerMessages, ServerErrorBecomesOneText) {
    EXPECT_EQ(decodeServerError(encodeServerError(503, "duel is full")), "server error 503: duel is full");
    EXPECT_EQ(decodeServerError(encodeServerError(0, "")), "server error 0: ");
    EXPECT_EQ(decodeServerError(bytes({0xFF, 0xFF, 1, 0, 'x'})), "server error 65535: x");
    EXPECT_EQ(decodeServerError(encodeServerError(1, std::string(256, 'e'))), "server error 1: " + std::string(256, 'e'));
    expectInvalidArgument([] { encodeServerError(1, std::string(257, 'e')); }, "protocol string is too long");

    const struct {
        const char* name;
        std::vector<std::byte> payload;
        const char* error;
    } cases[] = {
        {"text of 257 bytes", concat(bytes({1, 0, 0x01, 0x01}), std::vector<std::byte>(257, std::byte{'e'})),
         "protocol string exceeds its limit"},
        {"text cut off", bytes({1, 0, 3, 0, 'a'}), "truncated protocol payload"},
        {"code cut off", bytes({1}), "truncated protocol payload"},
        {"invalid UTF-8", bytes({1, 0, 1, 0, 0xFF}), "protocol string is not valid UTF-8"},
        {"byte after the text", bytes({1, 0, 1, 0, 'a', 0}), "protocol payload contains trailing bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectRuntimeError([&] { decodeServerError(c.payload); }, c.error);
    }
}

}  // namespace
}  // namespace kestrune::net
