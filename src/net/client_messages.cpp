#include "net/client_messages.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "base/little_endian.h"
#include "net/payload.h"

namespace kestrune::net {
namespace {

constexpr std::size_t kHelloFixedBytes = 4 + 8;

bool isTicketByte(char c) noexcept {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

bool fitsMoveArgument(u16 wire) noexcept {
    const i32 value = static_cast<i16>(wire);
    return value >= -kRunSpeedFactor && value <= kRunSpeedFactor;
}

bool isConsistentCommand(const ClientCommandMessage& command) noexcept {
    switch (command.kind) {
    case kCommandMove:
        return command.targetEntityId == 0 && command.c == 0 && fitsMoveArgument(command.a) &&
               fitsMoveArgument(command.b);
    case kCommandStop:
        return command.targetEntityId == 0 && command.a == 0 && command.b == 0 && command.c == 0;
    case kCommandBasicAttack:
        return command.a == 0 && command.b == 0 && command.c == 1;
    default:  // use skill; c was checked as an enum value
        return command.a == 0 && command.b == 0;
    }
}

}  // namespace

bool isValidGameTicket(std::string_view ticket) noexcept {
    return ticket.size() <= kGameTicketLimitBytes && std::all_of(ticket.begin(), ticket.end(), isTicketByte);
}

i16 moveArgument(f32 directionComponent, i32 speedFactor) noexcept {
    const f32 clamped = std::isnan(directionComponent) ? 0.0f : std::clamp(directionComponent, -1.0f, 1.0f);
    return static_cast<i16>(std::lround(static_cast<f64>(clamped) * speedFactor));
}

std::vector<std::byte> encodeHello(std::string_view gameTicket, u64 clientClockNs) {
    PayloadWriter writer(kHelloFixedBytes + 2 + gameTicket.size());
    writer.u32le(kHelloVersion);
    writer.u64le(clientClockNs);
    writer.string(gameTicket, kGameTicketLimitBytes);
    return writer.release();
}

std::vector<std::byte> encodeJoin(u8 characterClass, std::string_view characterName) {
    PayloadWriter writer(1 + 2 + characterName.size());
    writer.u8le(characterClass);
    writer.string(characterName, kCharacterNameLimitBytes);
    return writer.release();
}

std::array<std::byte, kCommandBytes> encodeCommand(u32 commandSequence, u8 kind, u32 targetEntityId, u16 a, u16 b,
                                                   u16 c) noexcept {
    std::array<std::byte, kCommandBytes> out{};
    storeU32le(out.data() + 0, commandSequence);
    storeU64le(out.data() + 4, 0);  // reserved
    out[12] = static_cast<std::byte>(kind);
    storeU32le(out.data() + 13, targetEntityId);
    storeU16le(out.data() + 17, a);
    storeU16le(out.data() + 19, b);
    storeU16le(out.data() + 21, c);
    return out;
}

ClientHelloMessage decodeHello(std::span<const std::byte> payload) {
    PayloadReader reader(payload);
    const u32 version = reader.u32le("hello version");
    ClientHelloMessage out;
    out.clientClockNs = reader.u64le("client clock");
    out.gameTicket = reader.string(kGameTicketLimitBytes, "game ticket");
    if (version != kHelloVersion) {
        throw std::runtime_error("invalid client hello");
    }
    if (!isValidGameTicket(out.gameTicket)) {
        throw std::runtime_error("game ticket is invalid");
    }
    reader.expectEnd();
    return out;
}

ClientJoinMessage decodeJoin(std::span<const std::byte> payload) {
    PayloadReader reader(payload);
    ClientJoinMessage out;
    out.characterClass = reader.u8le("character class");
    out.characterName = reader.string(kCharacterNameLimitBytes, "character name");
    if (!isValidCharacterClass(out.characterClass)) {
        throw std::runtime_error("invalid duel character class");
    }
    if (out.characterName.empty()) {
        throw std::runtime_error("character name cannot be empty");
    }
    reader.expectEnd();
    return out;
}

ClientCommandMessage decodeCommand(std::span<const std::byte> payload) {
    PayloadReader reader(payload);
    ClientCommandMessage out;
    out.commandSequence = reader.u32le("command sequence");
    const u64 reserved = reader.u64le("reserved");
    out.kind = reader.u8le("command kind");
    out.targetEntityId = reader.u32le("target entity id");
    out.a = reader.u16le("argument A");
    out.b = reader.u16le("argument B");
    out.c = reader.u16le("argument C");
    if (out.kind < kCommandMove || out.kind > kCommandUseSkill ||
        (out.kind == kCommandUseSkill && !isClassSkill(out.c))) {
        throw std::runtime_error("client command contains an invalid enum value");
    }
    if (reserved != 0 || !isConsistentCommand(out)) {
        throw std::runtime_error("client command is internally inconsistent");
    }
    reader.expectEnd();
    return out;
}

}  // namespace kestrune::net
