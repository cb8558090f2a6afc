#include "app/session_payload.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "base/byte_reader.h"

namespace kestrune::app {
namespace {

constexpr std::array<std::byte, 4> kMagic{std::byte{'K'}, std::byte{'S'}, std::byte{'N'}, std::byte{'1'}};

[[noreturn]] void throwReadFailure() { throw std::runtime_error("Unable to read the launcher session pipe."); }

}  // namespace

void throwNotAnInheritedPipe() {
    throw std::invalid_argument("--session-pipe does not reference an inherited pipe.");
}

void readExactly(PayloadStream& stream, std::span<std::byte> buffer) {
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        const std::size_t wanted = std::min(buffer.size() - filled, kMaximumPipeReadBytes);
        const std::size_t got = stream.readSome(buffer.subspan(filled, wanted));
        if (got == 0) {
            throwReadFailure();
        }
        filled += got;
    }
}

SessionPayload readSessionPayload(PayloadStream& stream) {
    std::array<std::byte, kSessionPayloadHeaderBytes> header{};
    readExactly(stream, header);

    // The header is complete, so the reader can never run short; its handler only
    // satisfies the interface.
    ByteReader reader(std::span<const std::byte>(header), [](std::size_t, std::string_view) { throwReadFailure(); });
    const std::span<const std::byte> magic = reader.take(kMagic.size(), "magic");
    if (!std::equal(magic.begin(), magic.end(), kMagic.begin())) {
        throw std::runtime_error("The launcher session payload has an invalid signature.");
    }
    const u16 ticketBytes = reader.u16le("ticket length");
    const u16 nameBytes = reader.u16le("name length");
    if (ticketBytes == 0 || ticketBytes > kMaximumTicketBytes || nameBytes == 0 ||
        nameBytes > kMaximumCharacterNameBytes) {
        throw std::runtime_error("The launcher session payload exceeds its limits.");
    }

    std::array<std::byte, kMaximumTicketBytes + kMaximumCharacterNameBytes> body{};
    const std::span<std::byte> wanted = std::span(body).first(std::size_t{ticketBytes} + nameBytes);
    readExactly(stream, wanted);

    const auto* text = reinterpret_cast<const char*>(body.data());
    SessionPayload payload;
    payload.gameTicket.assign(text, ticketBytes);
    payload.characterName.assign(text + ticketBytes, nameBytes);
    return payload;
}

}  // namespace kestrune::app
