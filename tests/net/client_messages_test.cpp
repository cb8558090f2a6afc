#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "net/client_messages.h"
#include "net_test_support.h"

namespace kestrune::net {
namespace {

using namespace test;

TEST(ClientMessages, HelloJoinAndTheCommandOf23BytesCarryTheirFieldsInWireOrder) {
    const auto hello = encodeHello("ab_-9", 0x0102030405060708ull);
    EXPECT_EQ(hello, bytes({1, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1, 5, 0, 'a', 'b', '_', '-', '9'}));
    EXPECT_EQ(decodeHello(hello), (ClientHelloMessage{0x0102030405060708ull, "ab_-9"}));
    const auto join = encodeJoin(kTemplar, "Zo\xC3\xAB");
    EXPECT_EQ(join, bytes({2, 4, 0, 'Z', 'o', 0xC3, 0xAB}));
    EXPECT_EQ(decodeJoin(join), (ClientJoinMessage{kTemplar, "Zo\xC3\xAB"}));

    // A 256-byte ticket and a 24-byte name cross whole in the duel client's join test.
    expectInvalidArgument([] { encodeHello(std::string(257, 'T'), 0); }, "protocol string is too long");
    expectInvalidArgument([] { encodeJoin(kWarrior, std::string(25, 'N')); }, "protocol string is too long");
    expectInvalidArgument([] { encodeJoin(kWarrior, "ab\xC3"); }, "protocol string is not valid UTF-8");

    // A = -450 (walking along negative x) = 0xFE3E, B = 0x0102.
    const auto a = static_cast<u16>(moveArgument(-1.0f, kWalkSpeedFactor));
    EXPECT_EQ(commandPayload(0x0A0B0C0D, kCommandUseSkill, 0x11223344, a, 0x0102, kSkillTemplar2),
              bytes({0x0D, 0x0C, 0x0B, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0x44, 0x33, 0x22, 0x11,
                     0x3E, 0xFE, 2, 1, 0xD2, 7}));
}

TEST(ClientMessages, MoveArgumentsAreClampedScaledAndRounded) {
    const struct { const char* name; f32 direction; i32 speedFactor; i16 expected; } cases[] = {
        {"walk along negative x", -1.0f, kWalkSpeedFactor, -450}, {"run along positive z", 1.0f, kRunSpeedFactor, 1000},
        {"clamped above 1", 2.5f, kRunSpeedFactor, 1000}, {"clamped below -1", -7.0f, kWalkSpeedFactor, -450},
        {"rounded to nearest", 0.3337f, kRunSpeedFactor, 334},
        {"half rounds away from zero", -0.0005f, kRunSpeedFactor, -1},
        {"NaN counts as no movement", std::numeric_limits<f32>::quiet_NaN(), kRunSpeedFactor, 0},
        {"infinity is clamped", std::numeric_limits<f32>::infinity(), kWalkSpeedFactor, 450}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(moveArgument(c.direction, c.speedFactor), c.expected);
    }
}

TEST(ClientMessages, GameTicketAlphabetAndLength) {
    const struct { const char* name; std::string ticket; bool valid; } cases[] = {
        {"empty", "", true}, {"letters digits underscore dash", "AZaz09_-", true},
        {"256 bytes", std::string(256, 'x'), true}, {"257 bytes", std::string(257, 'x'), false},
        {"space", "a b", false}, {"dot", "a.b", false}, {"plus and slash of base64", "a+b/", false},
        {"NUL", std::string("a\0b", 3), false}, {"non-ASCII letter", "\xC3\xA9", false},
        {"just past 'z' and before 'A'", "{@", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isValidGameTicket(c.ticket), c.valid);
    }
}

TEST(ClientMessages, ServerRefusesMalformedHellosAndJoins) {
    const auto hello = encodeHello("ticket", 1);
    const auto versionAndClock = bytes({1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0});
    const std::vector<std::byte> x257(257, std::byte{'x'});
    const struct { const char* name; bool join; std::vector<std::byte> payload; const char* error; } cases[] = {
        {"hello version word", false, test::patched(hello, 0, bytes({2})), "invalid client hello"},
        {"ticket alphabet", false, concat(versionAndClock, bytes({3, 0, 'a', ' ', 'b'})), "game ticket is invalid"},
        {"ticket over 256", false, concat(versionAndClock, bytes({1, 1}), x257), "protocol string exceeds its limit"},
        {"truncated hello", false, withoutLast(hello), "truncated protocol payload"},
        {"trailing after a hello", false, concat(hello, bytes({0})), "protocol payload contains trailing bytes"},
        {"class 0", true, bytes({0, 1, 0, 'a'}), "invalid duel character class"},
        {"class 3", true, bytes({3, 1, 0, 'a'}), "invalid duel character class"},
        {"empty name", true, bytes({1, 0, 0}), "character name cannot be empty"},
        {"25-byte name", true, concat(bytes({1, 25, 0}), std::vector<std::byte>(25, std::byte{'n'})),
         "protocol string exceeds its limit"},
        {"invalid UTF-8 name", true, bytes({1, 2, 0, 0xED, 0xA0}), "protocol string is not valid UTF-8"},
        {"truncated name", true, bytes({1, 3, 0, 'a'}), "truncated protocol payload"},
        {"truncated before the class is judged", true, bytes({9, 3, 0}), "truncated protocol payload"},
        {"trailing after a join", true, bytes({1, 1, 0, 'a', 0}), "protocol payload contains trailing bytes"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.join) {
            expectRuntimeError([&] { decodeJoin(c.payload); }, c.error);
        } else {
            expectRuntimeError([&] { decodeHello(c.payload); }, c.error);
        }
    }
}

TEST(ClientMessages, ServerAcceptsExactlyTheCommandsAClientSends) {
    const u16 minus1000 = static_cast<u16>(-1000), minus1001 = static_cast<u16>(-1001);
    const auto stop = commandPayload(1, kCommandStop, 0, 0, 0, 0);
    const char* const invalidEnum = "client command contains an invalid enum value";
    const char* const inconsistent = "client command is internally inconsistent";
    const struct { const char* name; std::vector<std::byte> payload; const char* error; } cases[] = {
        {"move", commandPayload(1, kCommandMove, 0, minus1000, 1000, 0), nullptr}, {"stop", stop, nullptr},
        {"basic attack", commandPayload(3, kCommandBasicAttack, 9, 0, 0, 1), nullptr},
        {"skill 1001", commandPayload(4, kCommandUseSkill, 9, 0, 0, kSkillWarrior1), nullptr},
        {"skill 2002", commandPayload(4, kCommandUseSkill, 9, 0, 0, kSkillTemplar2), nullptr},
        {"kind 0", commandPayload(1, 0, 0, 0, 0, 0), invalidEnum},
        {"kind 5", commandPayload(1, 5, 0, 0, 0, 0), invalidEnum},
        {"skill 1 in a skill command", commandPayload(1, kCommandUseSkill, 9, 0, 0, kSkillBasicAttack), invalidEnum},
        {"skill 1003", commandPayload(1, kCommandUseSkill, 9, 0, 0, 1003), invalidEnum},
        {"move beyond the run speed", commandPayload(1, kCommandMove, 0, 1001, 0, 0), inconsistent},
        {"move beyond the negative run speed", commandPayload(1, kCommandMove, 0, 0, minus1001, 0), inconsistent},
        {"move with a target", commandPayload(1, kCommandMove, 3, 0, 0, 0), inconsistent},
        {"stop with an argument", commandPayload(1, kCommandStop, 0, 0, 0, 1), inconsistent},
        {"basic attack without C = 1", commandPayload(1, kCommandBasicAttack, 9, 0, 0, 0), inconsistent},
        {"skill with a move argument", commandPayload(1, kCommandUseSkill, 9, 1, 0, kSkillWarrior2), inconsistent},
        {"reserved word set", test::patched(stop, 11, bytes({1})), inconsistent},
        {"truncated", withoutLast(stop), "truncated protocol payload"},
        {"trailing", concat(stop, bytes({0})), "protocol payload contains trailing bytes"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.error == nullptr) {
            EXPECT_NO_THROW(decodeCommand(c.payload));
        } else {
            expectRuntimeError([&] { decodeCommand(c.payload); }, c.error);
        }
    }
}

}  // namespace
}  // namespace kestrune::net
