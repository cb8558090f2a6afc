#include "client_link.h"

#include <stdexcept>

#include "net/client_messages.h"
#include "net/frame_sequence.h"
#include "net/protocol.h"
#include "net/server_messages.h"

namespace kestrune::duel {

ClientLink::ClientLink(u64 sessionId, u16 tickRate, std::size_t writeLimitBytes)
    : sessionId_(sessionId), tickRate_(tickRate), writeLimitBytes_(writeLimitBytes) {}

void ClientLink::receive(std::span<const std::byte> bytes, ClientLinkHandler& handler) {
    try {
        while (!bytes.empty() && phase_ != LinkPhase::Closing) {
            bytes = bytes.subspan(parser_.feed(bytes));
            if (parser_.hasFrame()) {
                handleFrame(parser_.takeFrame(), handler);
            }
        }
    } catch (...) {
        phase_ = LinkPhase::Closing;
        throw;
    }
}

void ClientLink::handleFrame(const net::Frame& frame, ClientLinkHandler& handler) {
    switch (phase_) {
    case LinkPhase::AwaitHello: {
        net::checkClientSequence(frame, 0, lastClientSequence_);
        if (frame.type != net::kClientHello) {
            throw std::runtime_error("client did not open with ClientHello");
        }
        const net::ClientHelloMessage hello = net::decodeHello(frame.payload);
        gameTicket_ = hello.gameTicket;
        phase_ = LinkPhase::AwaitJoin;
        if (!send(net::kServerWelcome, net::encodeWelcome(net::ServerWelcomeMessage{sessionId_, tickRate_, 0}))) {
            throw std::runtime_error("duel client is not reading");
        }
        handler.onHello(hello);
        return;
    }
    case LinkPhase::AwaitJoin:
        net::checkClientSequence(frame, sessionId_, lastClientSequence_);
        if (frame.type != net::kClientJoin) {
            throw std::runtime_error("client did not send ClientJoin after ServerWelcome");
        }
        handler.onJoin(net::decodeJoin(frame.payload));
        if (phase_ == LinkPhase::AwaitJoin) {
            throw std::logic_error("a join was neither accepted nor refused");
        }
        return;
    case LinkPhase::Joined: {
        net::checkClientSequence(frame, sessionId_, lastClientSequence_);
        if (frame.type != net::kClientCommand) {
            throw std::runtime_error("unexpected duel client message");
        }
        const net::ClientCommandMessage command = net::decodeCommand(frame.payload);
        // The client numbers commands 1, 2, 3, ... on its own counter; the frame counter
        // ran two ahead for the hello and the join.
        if (lastCommandSequence_ == net::kLastSequence || command.commandSequence != lastCommandSequence_ + 1) {
            throw std::runtime_error("expected duel client command sequence " +
                                     std::to_string(u64{lastCommandSequence_} + 1) + ", received " +
                                     std::to_string(command.commandSequence));
        }
        lastCommandSequence_ = command.commandSequence;
        handler.onCommand(command);
        return;
    }
    case LinkPhase::Closing: return;
    }
}

void ClientLink::joined(u32 entityId, u8 characterClass, u32 duelId) {
    phase_ = LinkPhase::Joined;
    if (!send(net::kServerJoined, net::encodeJoined(net::ServerJoinedMessage{entityId, characterClass, duelId, 0}))) {
        phase_ = LinkPhase::Closing;
    }
}

void ClientLink::refuse(u16 errorCode, std::string_view text) {
    phase_ = LinkPhase::Closing;
    // A client too far behind to take the error is closed without it.
    static_cast<void>(send(net::kServerError, net::encodeServerError(errorCode, text)));
}

bool ClientLink::send(u16 type, std::span<const std::byte> payload) {
    if (sequenceExhausted_) {
        return false;
    }
    if (output_.size() + net::kFrameHeaderBytes + payload.size() > writeLimitBytes_) {
        return false;
    }
    net::appendFrame(output_, type, nextServerSequence_, sessionId_, payload);
    if (nextServerSequence_ == net::kLastSequence) {
        sequenceExhausted_ = true;  // the client could not accept another frame
    } else {
        ++nextServerSequence_;
    }
    return true;
}

void ClientLink::takeOutput(std::vector<std::byte>& out) {
    out.clear();
    out.swap(output_);
}

}  // namespace kestrune::duel
