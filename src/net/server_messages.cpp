#include "net/server_messages.h"

#include <stdexcept>

#include "base/little_endian.h"
#include "net/payload.h"
#include "net/protocol.h"

namespace kestrune::net {
namespace {

constexpr std::size_t kSnapshotFixedBytes = 8 + 2 + 2;
constexpr std::size_t kCombatEventsFixedBytes = 2;
constexpr std::size_t kTickBytes = 8;

// Entries are taken whole (one bounds check) and their fields loaded at fixed offsets.
SnapshotPlayer loadPlayer(const std::byte* p) noexcept {
    SnapshotPlayer out;
    out.entityId = loadU32le(p + 0);
    out.characterClass = static_cast<u8>(p[4]);
    out.positionXMm = loadI32le(p + 5);
    out.positionZMm = loadI32le(p + 9);
    out.health = loadI32le(p + 13);
    out.maxHealth = loadI32le(p + 17);
    out.stateFlags = loadU16le(p + 21);
    out.lockTicks = loadU16le(p + 23);
    out.opaque = static_cast<u8>(p[25]);
    out.skill = loadU16le(p + 26);
    out.lastCommandSequence = loadU32le(p + 28);
    return out;
}

void writePlayer(PayloadWriter& writer, const SnapshotPlayer& player) {
    writer.u32le(player.entityId);
    writer.u8le(player.characterClass);
    writer.i32le(player.positionXMm);
    writer.i32le(player.positionZMm);
    writer.i32le(player.health);
    writer.i32le(player.maxHealth);
    writer.u16le(player.stateFlags);
    writer.u16le(player.lockTicks);
    writer.u8le(player.opaque);
    writer.u16le(player.skill);
    writer.u32le(player.lastCommandSequence);
}

SnapshotProjectile loadProjectile(const std::byte* p) noexcept {
    SnapshotProjectile out;
    for (std::size_t i = 0; i < out.opaqueWords.size(); ++i) {
        out.opaqueWords[i] = loadU32le(p + 4 * i);
    }
    out.opaqueHalf = loadU16le(p + 20);
    out.skill = loadU16le(p + 22);
    return out;
}

void writeProjectile(PayloadWriter& writer, const SnapshotProjectile& projectile) {
    for (const u32 word : projectile.opaqueWords) {
        writer.u32le(word);
    }
    writer.u16le(projectile.opaqueHalf);
    writer.u16le(projectile.skill);
}

CombatEvent loadEvent(const std::byte* p) noexcept {
    CombatEvent out;
    out.eventId = loadU64le(p + 0);
    out.kind = static_cast<u8>(p[8]);
    out.sourceEntityId = loadU32le(p + 9);
    out.targetEntityId = loadU32le(p + 13);
    out.skill = loadU16le(p + 17);
    out.value = loadI32le(p + 19);
    out.extra = loadU16le(p + 23);
    return out;
}

void writeEvent(PayloadWriter& writer, const CombatEvent& event) {
    writer.u64le(event.eventId);
    writer.u8le(event.kind);
    writer.u32le(event.sourceEntityId);
    writer.u32le(event.targetEntityId);
    writer.u16le(event.skill);
    writer.i32le(event.value);
    writer.u16le(event.extra);
}

}  // namespace

bool isValidSnapshotPlayer(const SnapshotPlayer& player) noexcept {
    return isValidCharacterClass(player.characterClass) && player.stateFlags < kStateFlagLimit &&
           isValidSkill(player.skill);
}

bool isValidCombatEvent(const CombatEvent& event) noexcept {
    return isValidEventKind(event.kind) && isValidSkill(event.skill);
}

bool isConsistentCommandResult(const CommandResult& result) noexcept {
    return result.reason <= kLastRejectReason && result.accepted == (result.reason == 0);
}

// ---- Section: decoders ----

ServerWelcomeMessage decodeWelcome(std::span<const std::byte> payload) {
    PayloadReader reader(payload);
    ServerWelcomeMessage out;
    out.sessionId = reader.u64le("session id");
    out.tickRate = reader.u16le("tick rate");
    out.opaque = reader.u32le("welcome word");
    reader.expectEnd();
    return out;
}

ServerJoinedMessage decodeJoined(std::span<const std::byte> payload) {
    PayloadReader reader(payload);
    ServerJoinedMessage out;
    out.entityId = reader.u32le("entity id");
    out.characterClass = reader.u8le("character class");
    out.opaqueFirst = reader.u32le("joined word 1");
    out.opaqueSecond = reader.u32le("joined word 2");
    reader.expectEnd();
    return out;
}

CommandResult decodeCommandResult(std::span<const std::byte> payload) {
    PayloadReader reader(payload);
    CommandResult out;
    out.commandSequence = reader.u32le("command sequence");
    out.accepted = reader.u8le("accepted") != 0;
    out.reason = reader.u16le("reason");
    out.tick = reader.u64le("tick");
    if (!isConsistentCommandResult(out)) {
        throw std::runtime_error("command result is internally inconsistent");
    }
    reader.expectEnd();
    return out;
}

DuelSnapshot decodeSnapshot(std::span<const std::byte> payload) {
    PayloadReader reader(payload);
    DuelSnapshot out;
    out.tick = reader.u64le("tick");
    const u16 playerCount = reader.u16le("player count");
    if (playerCount > kMaxSnapshotPlayers) {
        throw std::runtime_error("snapshot player limit exceeded");
    }
    out.players.reserve(playerCount);
    for (u16 i = 0; i < playerCount; ++i) {
        const SnapshotPlayer player = loadPlayer(reader.take(kSnapshotPlayerBytes, "player").data());
        if (!isValidSnapshotPlayer(player)) {
            throw std::runtime_error("snapshot contains an invalid player enum value");
        }
        out.players.push_back(player);
    }
    const u16 projectileCount = reader.u16le("projectile count");
    if (projectileCount > kMaxSnapshotProjectiles) {
        throw std::runtime_error("snapshot projectile limit exceeded");
    }
    out.projectiles.reserve(projectileCount);
    for (u16 i = 0; i < projectileCount; ++i) {
        const SnapshotProjectile projectile =
            loadProjectile(reader.take(kSnapshotProjectileBytes, "projectile").data());
        if (!isValidSkill(projectile.skill)) {
            throw std::runtime_error("snapshot contains an invalid projectile skill");
        }
        out.projectiles.push_back(projectile);
    }
    reader.expectEnd();
    return out;
}

std::vector<CombatEvent> decodeCombatEvents(std::span<const std::byte> payload) {
    PayloadReader reader(payload);
    const u16 eventCount = reader.u16le("event count");
    if (eventCount > kMaxCombatEvents) {
        throw std::runtime_error("combat event limit exceeded");
    }
    std::vector<CombatEvent> out;
    out.reserve(eventCount);
    for (u16 i = 0; i < eventCount; ++i) {
        const CombatEvent event = loadEvent(reader.take(kCombatEventBytes, "combat event").data());
        if (!isValidCombatEvent(event)) {
            throw std::runtime_error("combat event contains an invalid enum value");
        }
        out.push_back(event);
    }
    reader.expectEnd();
    return out;
}

u64 decodeTick(std::span<const std::byte> payload) {
    PayloadReader reader(payload);
    const u64 tick = reader.u64le("tick");
    reader.expectEnd();
    return tick;
}

std::string decodeServerError(std::span<const std::byte> payload) {
    PayloadReader reader(payload);
    const u16 errorCode = reader.u16le("error code");
    const std::string text = reader.string(kServerErrorTextLimitBytes, "error text");
    reader.expectEnd();
    return "server error " + std::to_string(errorCode) + ": " + text;
}

// ---- Section: encoders ----

std::vector<std::byte> encodeWelcome(const ServerWelcomeMessage& welcome) {
    PayloadWriter writer(kWelcomeBytes);
    writer.u64le(welcome.sessionId);
    writer.u16le(welcome.tickRate);
    writer.u32le(welcome.opaque);
    return writer.release();
}

std::vector<std::byte> encodeJoined(const ServerJoinedMessage& joined) {
    PayloadWriter writer(kJoinedBytes);
    writer.u32le(joined.entityId);
    writer.u8le(joined.characterClass);
    writer.u32le(joined.opaqueFirst);
    writer.u32le(joined.opaqueSecond);
    return writer.release();
}

std::vector<std::byte> encodeCommandResult(const CommandResult& result) {
    if (!isConsistentCommandResult(result)) {
        throw std::invalid_argument("command result is internally inconsistent");
    }
    PayloadWriter writer(kCommandResultBytes);
    writer.u32le(result.commandSequence);
    writer.u8le(result.accepted ? 1 : 0);
    writer.u16le(result.reason);
    writer.u64le(result.tick);
    return writer.release();
}

void encodeSnapshot(const DuelSnapshot& snapshot, std::vector<std::byte>& out) {
    out.clear();
    if (snapshot.players.size() > kMaxSnapshotPlayers) {
        throw std::invalid_argument("snapshot player limit exceeded");
    }
    if (snapshot.projectiles.size() > kMaxSnapshotProjectiles) {
        throw std::invalid_argument("snapshot projectile limit exceeded");
    }
    // A refusal below destroys the writer and with it the storage; `out` stays moved-from, that is empty.
    PayloadWriter writer(std::move(out));
    writer.reserve(kSnapshotFixedBytes + snapshot.players.size() * kSnapshotPlayerBytes +
                   snapshot.projectiles.size() * kSnapshotProjectileBytes);
    writer.u64le(snapshot.tick);
    writer.u16le(static_cast<u16>(snapshot.players.size()));
    for (const SnapshotPlayer& player : snapshot.players) {
        if (!isValidSnapshotPlayer(player)) {
            throw std::invalid_argument("snapshot contains an invalid player enum value");
        }
        writePlayer(writer, player);
    }
    writer.u16le(static_cast<u16>(snapshot.projectiles.size()));
    for (const SnapshotProjectile& projectile : snapshot.projectiles) {
        if (!isValidSkill(projectile.skill)) {
            throw std::invalid_argument("snapshot contains an invalid projectile skill");
        }
        writeProjectile(writer, projectile);
    }
    out = writer.release();
}

std::vector<std::byte> encodeSnapshot(const DuelSnapshot& snapshot) {
    std::vector<std::byte> out;
    encodeSnapshot(snapshot, out);
    return out;
}

void encodeCombatEvents(std::span<const CombatEvent> events, std::vector<std::byte>& out) {
    out.clear();
    if (events.size() > kMaxCombatEvents) {
        throw std::invalid_argument("combat event limit exceeded");
    }
    PayloadWriter writer(std::move(out));
    writer.reserve(kCombatEventsFixedBytes + events.size() * kCombatEventBytes);
    writer.u16le(static_cast<u16>(events.size()));
    for (const CombatEvent& event : events) {
        if (!isValidCombatEvent(event)) {
            throw std::invalid_argument("combat event contains an invalid enum value");
        }
        writeEvent(writer, event);
    }
    out = writer.release();
}

std::vector<std::byte> encodeCombatEvents(std::span<const CombatEvent> events) {
    std::vector<std::byte> out;
    encodeCombatEvents(events, out);
    return out;
}

std::vector<std::byte> encodeTick(u64 tick) {
    PayloadWriter writer(kTickBytes);
    writer.u64le(tick);
    return writer.release();
}

std::vector<std::byte> encodeServerError(u16 errorCode, std::string_view text) {
    PayloadWriter writer(2 + 2 + text.size());
    writer.u16le(errorCode);
    writer.string(text, kServerErrorTextLimitBytes);
    return writer.release();
}

}  // namespace kestrune::net
