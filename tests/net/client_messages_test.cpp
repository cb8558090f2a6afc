#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "net/client_messages.h"
#include "net_test_support.h"

namespace kestrune::net {
namespace {

using test::bytes;
using test::concat;
using test::expectInvalidArgument;
using test::expectRuntimeError;
using test::withoutLast;

std::vector<std::byte> commandBytes(u32 sequence, u8 kind, u32 target, u16 a, u16 b, u16 c) {
    const auto encoded = encodeCommand(sequence, kind, target, a, b, c);
    return {encoded.begin(), encoded.end()};
}

TEST(ClientMessages, HelloCarriesVersionClockAndTicket) {
    const auto payload = encodeHello("ab_-9", 0x0102030405060708ull);
    EXPECT_EQ(payload, bytes({1, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1, 5, 0, 'a', 'b', '_', '-', '9'}));
    const ClientHelloMessage hello = decodeHello(payload);
    EXPECT_EQ(hello.clientClockNs, 0x0102030405060708ull);
    EXPECT_EQ(hello.gameTicket, "ab_-9");
}

TEST(ClientMessages, JoinCarriesClassAndName) {
    const auto payload = encodeJoin(kTemplar, "Zo\xC3\xAB");
    EXPECT_EQ(payload, bytes({2, 4, 0, 'Z', 'o', 0xC3, 0xAB}));
    const ClientJoinMessage join = decodeJoin(payload);
    EXPECT_EQ(join.characterClass, kTemplar);
    EXPECT_EQ(join.characterName, "Zo\xC3\xAB");
}

TEST(ClientMessages, EncodersApplyTheStringLimits) {
    EXPECT_NO_THROW(encodeHello(std::string(256, 'T'), 0));
    expectInvalidArgument([] { encodeHello(std::string(257, 'T'), 0); }, "protocol string is too long");
    EXPECT_NO_THROW(encodeJoin(kWarrior, std::string(24, 'N')));
    expectInvalidArgument([] { encodeJoin(kWarrior, std::string(25, 'N')); }, "protocol string is too long");
    expectInvalidArgument([] { encodeJoin(kWarrior, "ab\xC3"); }, "protocol string is not valid UTF-8");
}

TEST(ClientMessages, CommandIs23BytesWithTwosComplementArguments) {
    // Walking straight along negative x: A = -450 = 0xFE3E.
    const auto move = commandBytes(5, kCommandMove, 0, static_cast<u16>(moveArgument(-1.0f, kWalkSpeedFactor)),
                                   static_cast<u16>(moveArgument(0.0f, kWalkSpeedFactor)), 0);
    EXPECT_EQ(move, bytes({5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0x3E, 0xFE, 0, 0, 0, 0}));
    const auto skill = commandBytes(0x0A0B0C0D, kCommandUseSkill, 0x11223344, 0, 0, kSkillTemplar2);
    EXPECT_EQ(skill,
              bytes({0x0D, 0x0C, 0x0B, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0x44, 0x33, 0x22, 0x11, 0, 0, 0, 0, 0xD2, 0x07}));
}

TEST(ClientMessages, MoveArgumentsAreClampedScaledAndRounded) {
    const struct {
        const char* name;
        f32 direction;
        i32 speedFactor;
        i16 expected;
    } cases[] = {
        {"walk along negative x", -1.0f, kWalkSpeedFactor, -450},
        {"run along positive z", 1.0f, kRunSpeedFactor, 1000},
        {"clamped above 1", 2.5f, kRunSpeedFactor, 1000},
        {"clamped below -1", -7.0f, kWalkSpeedFactor, -450},
        {"rounded to nearest", 0.3337f, kRunSpeedFactor, 334},
        {"half rounds away from zero", -0.0005f, kRunSpeedFactor, -1},
        {"diagonal", 0.70710678f, kRunSpeedFactor, 707},
        {"NaN counts as no movement", std::numeric_limits<f32>::quiet_NaN(), kRunSpeedFactor, 0},
        {"infinity is clamped", std::numeric_limits<f32>::infinity(), kWalkSpeedFactor, 450},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(moveArgument(c.direction, c.speedFactor), c.expected);
    }
}

TEST(ClientMessages, GameTicketAlphabetAndLength) {
    const struct {
        const char* name;
        std::string ticket;
        bool valid;
    } cases[] = {
        {"empty", "", true},
        {"letters digits underscore dash", "AZaz09_-", true},
        {"256 bytes", std::string(256, 'x'), true},
        {"257 bytes", std::string(257, 'x'), false},
        {"space", "a b", false},
        {"dot", "a.b", false},
        {"plus and slash of base64", "a+b/", false},
        {"NUL", std::string("a\0b", 3), false},
        {"non-ASCII letter", "\xC3\xA9", false},
        {"just past 'z' and before 'A'", "{@", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isValidGameTicket(c.ticket), c.valid);
    }
}

TEST(ClientMessages, ServerRefusesMalformedHellos) {
    const auto valid = encodeHello("ticket", 1);
    auto badVersion = valid;
    badVersion[0] = std::byte{2};
    const auto versionAndClock = bytes({1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0});
    const struct {
        const char* name;
        std::vector<std::byte> payload;
        const char* error;
    } cases[] = {
        {"version word", badVersion, "invalid client hello"},
        {"ticket alphabet", concat(versionAndClock, bytes({3, 0, 'a', ' ', 'b'})), "game ticket is invalid"},
        {"ticket over 256", concat(concat(versionAndClock, bytes({1, 1})), std::vector<std::byte>(257, std::byte{'x'})),
         "protocol string exceeds its limit"},
        {"truncated", withoutLast(valid), "truncated protocol payload"},
        {"trailing", concat(valid, bytes({0})), "protocol payload contains trailing bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectRuntimeError([&] { decodeHello(c.payload); }, c.error);
    }
}

TEST(ClientMessages, ServerRefusesMalformedJoins) {
    const struct {
        const char* name;
        std::vector<std::byte> payload;
        const char* error;
    } cases[] = {
        {"class 0", bytes({0, 1, 0, 'a'}), "invalid duel character class"},
        {"class 3", bytes({3, 1, 0, 'a'}), "invalid duel character class"},
        {"empty name", bytes({1, 0, 0}), "character name cannot be empty"},
        {"25-byte name", concat(bytes({1, 25, 0}), std::vector<std::byte>(25, std::byte{'n'})),
         "protocol string exceeds its limit"},
        {"invalid UTF-8 name", bytes({1, 2, 0, 0xED, 0xA0}), "protocol string is not valid UTF-8"},
        {"truncated name", bytes({1, 3, 0, 'a'}), "truncated protocol payload"},
        {"truncated before the class is judged", bytes({9, 3, 0}), "truncated protocol payload"},
        {"trailing", bytes({1, 1, 0, 'a', 0}), "protocol payload contains trailing bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectRuntimeError([&] { decodeJoin(c.payload); }, c.error);
    }
    EXPECT_EQ(decodeJoin(encodeJoin(kWarrior, std::string(24, 'N'))).characterName, std::string(24, 'N'));
}

TEST(ClientMessages, ServerAcceptsExactlyTheCommandsAClientSends) {
    const u16 minus1000 = static_cast<u16>(-1000);
    const u16 minus1001 = static_cast<u16>(-1001);
    const struct {
        const char* name;
        std::vector<std::byte> payload;
        const char* error;  // nullptr: accepted
    } cases[] = {
        {"move", commandBytes(1, kCommandMove, 0, minus1000, 1000, 0), nullptr},
        {"stop", commandBytes(2, kCommandStop, 0, 0, 0, 0), nullptr},
        {"basic attack", commandBytes(3, kCommandBasicAttack, 9, 0, 0, 1), nullptr},
        {"skill 1001", commandBytes(4, kCommandUseSkill, 9, 0, 0, kSkillWarrior1), nullptr},
        {"skill 2002", commandBytes(4, kCommandUseSkill, 9, 0, 0, kSkillTemplar2), nullptr},
        {"kind 0", commandBytes(1, 0, 0, 0, 0, 0), "client command contains an invalid enum value"},
        {"kind 5", commandBytes(1, 5, 0, 0, 0, 0), "client command contains an invalid enum value"},
        {"skill 1 is not a skill command", commandBytes(1, kCommandUseSkill, 9, 0, 0, kSkillBasicAttack),
         "client command contains an invalid enum value"},
        {"skill 1003", commandBytes(1, kCommandUseSkill, 9, 0, 0, 1003),
         "client command contains an invalid enum value"},
        {"move beyond the run speed", commandBytes(1, kCommandMove, 0, 1001, 0, 0),
         "client command is internally inconsistent"},
        {"move beyond the negative run speed", commandBytes(1, kCommandMove, 0, 0, minus1001, 0),
         "client command is internally inconsistent"},
        {"move with a target", commandBytes(1, kCommandMove, 3, 0, 0, 0), "client command is internally inconsistent"},
        {"stop with an argument", commandBytes(1, kCommandStop, 0, 0, 0, 1),
         "client command is internally inconsistent"},
        {"basic attack without C = 1", commandBytes(1, kCommandBasicAttack, 9, 0, 0, 0),
         "client command is internally inconsistent"},
        {"skill with a move argument", commandBytes(1, kCommandUseSkill, 9, 1, 0, kSkillWarrior2),
         "client command is internally inconsistent"},
        {"truncated", withoutLast(commandBytes(1, kCommandStop, 0, 0, 0, 0)), "truncated protocol payload"},
        {"trailing", concat(commandBytes(1, kCommandStop, 0, 0, 0, 0), bytes({0})),
         "protocol payload contains trailing bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.error == nullptr) {
            EXPECT_NO_THROW(decodeCommand(c.payload));
        } else {
            expectRuntimeError([&] { decodeCommand(c.payload); }, c.error);
        }
    }
    auto reserved = commandBytes(1, kCommandStop, 0, 0, 0, 0);
    reserved[11] = std::byte{1};
    expectRuntimeError([&] { decodeCommand(reserved); }, "client command is internally inconsistent");
}

}  // namespace
}  // namespace kestrune::net
