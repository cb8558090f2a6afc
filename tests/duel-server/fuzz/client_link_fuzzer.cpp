// Arbitrary client bytes through the server's side of a connection, with a duel behind
// it: the link validates and dispatches, joins are seated, commands reach the rules, and
// ticks run between chunks. Properties: only std::runtime_error escapes (a refused
// client), a refused link reads nothing more, the write queue never passes its limit, and
// everything the server wrote is a frame stream the project's client accepts.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "client_link.h"
#include "duel_rules.h"
#include "net/fuzz/fuzz_support.h"
#include "net/client_messages.h"
#include "net/frame_codec.h"
#include "net/frame_sequence.h"
#include "net/protocol.h"
#include "net/server_messages.h"

namespace {

using namespace kestrune;
using namespace kestrune::duel;
using net::fuzz::require;

constexpr u64 kSessionId = 0x5EED;
constexpr u16 kTickRate = 30;
constexpr std::size_t kWriteLimitBytes = 2048;  // small, so the limit is reached
constexpr u32 kOpponentId = 2;

struct Server final : ClientLinkHandler {
    explicit Server(ClientLink& owner) : link(owner) {}

    void onHello(const net::ClientHelloMessage&) override {}
    void onJoin(const net::ClientJoinMessage& join) override {
        joinedClass = join.characterClass;
        duel.seat(joinedClass, 1);
        duel.seat(joinedClass == net::kWarrior ? net::kTemplar : net::kWarrior, kOpponentId);
        link.joined(1, joinedClass, 1);
    }
    void onCommand(const net::ClientCommandMessage& command) override {
        const u16 reason = duel.apply(joinedClass, command);
        send(net::kServerCommandResult, net::encodeCommandResult({command.commandSequence, reason == 0, reason, tick}));
    }
    void runTick() {
        ++tick;
        duel.step();
        duel.writeSnapshot(tick, snapshot);
        send(net::kServerSnapshot, net::encodeSnapshot(snapshot));
        if (!duel.events().empty()) send(net::kServerCombatEvents, net::encodeCombatEvents(duel.events()));
        duel.clearEvents();
    }
    // A frame the full write queue refuses marks a client that is not reading.
    void send(u16 type, std::span<const std::byte> payload) { notReading = notReading || !link.send(type, payload); }

    ClientLink& link;
    Duel duel{kTickRate};
    u8 joinedClass = 0;
    u64 tick = 0;
    bool notReading = false;
    net::DuelSnapshot snapshot;
};

// What the client's receive path does with the server's bytes; any refusal is a server bug and escapes.
struct ClientView {
    void accept(std::span<const std::byte> bytes) {
        while (!bytes.empty()) {
            bytes = bytes.subspan(parser.feed(bytes));
            if (!parser.hasFrame()) continue;
            const net::Frame frame = parser.takeFrame();
            net::checkServerSequence(frame, kSessionId, lastSequence);
            require(frame.type != net::kServerTick && net::fuzz::decodeServerFrame(frame));  // the server sends no ticks
        }
    }
    net::FrameParser parser;
    u32 lastSequence = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // Selector: low six bits choose the chunk size; the top bit opens the stream with a
    // valid hello and join (bit 6 picks the class), so commands are reached at once.
    const std::size_t chunkBytes = 1 + data[0] % 64;
    std::vector<std::byte> stream;
    if ((data[0] & 0x80) != 0) {
        const u8 joinClass = (data[0] & 0x40) != 0 ? net::kTemplar : net::kWarrior;
        net::appendFrame(stream, net::kClientHello, 1, 0, net::encodeHello("", 0));
        net::appendFrame(stream, net::kClientJoin, 2, kSessionId, net::encodeJoin(joinClass, "Fuzz"));
    }
    const std::span<const std::byte> input = net::fuzz::payloadAfterSelector(data, size);
    stream.insert(stream.end(), input.begin(), input.end());
    ClientLink link(kSessionId, kTickRate, kWriteLimitBytes);
    Server server(link);
    ClientView client;
    std::vector<std::byte> output;
    bool refused = false;
    for (std::size_t offset = 0; offset < stream.size(); offset += chunkBytes) {
        const std::span<const std::byte> chunk =
            std::span<const std::byte>(stream).subspan(offset, std::min(chunkBytes, stream.size() - offset));
        try {
            link.receive(chunk, server);
        } catch (const std::runtime_error&) {
            refused = true;
            link.refuse(1, "refused");
        }
        require(!refused || link.phase() == LinkPhase::Closing);
        if (link.phase() == LinkPhase::Joined) server.runTick();
        require(link.queuedBytes() <= kWriteLimitBytes);
        // Drain only every other chunk, so a queue that fills up is exercised too.
        if ((offset / chunkBytes) % 2 == 1 || server.notReading) {
            link.takeOutput(output);
            client.accept(output);  // a refusal escapes the fuzz target: a crash
            server.notReading = false;
        }
    }
    return 0;
}
