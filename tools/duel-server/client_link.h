#pragma once
// The server's side of one client connection, without I/O: received bytes go in, checked
// messages come out through a handler, and outgoing frames collect in a bounded queue
// that the network layer drains. Everything a client sends is validated here: frame
// header, session id and frame sequence, message order (hello, join, then commands),
// every message body, and the command numbering. The first violation throws
// std::runtime_error with its text and the link stops reading; the server answers with
// a ServerError and closes. Memory is bounded by one frame being assembled (64 KiB) and
// the write queue limit.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/types.h"
#include "net/duel_records.h"
#include "net/frame_codec.h"

namespace kestrune::duel {

class ClientLinkHandler {
public:
    // After a valid hello; the link has already queued the ServerWelcome.
    virtual void onHello(const net::ClientHelloMessage& hello) = 0;
    // Must answer with ClientLink::joined() or ClientLink::refuse().
    virtual void onJoin(const net::ClientJoinMessage& join) = 0;
    virtual void onCommand(const net::ClientCommandMessage& command) = 0;

protected:
    virtual ~ClientLinkHandler() = default;
};

enum class LinkPhase { AwaitHello, AwaitJoin, Joined, Closing };

class ClientLink {
public:
    ClientLink(u64 sessionId, u16 tickRate, std::size_t writeLimitBytes);

    // Consumes all of `bytes`. Does nothing once the link is closing.
    void receive(std::span<const std::byte> bytes, ClientLinkHandler& handler);

    void joined(u32 entityId, u8 characterClass, u32 duelId);
    // Queues a ServerError and stops reading; the connection closes once it is sent.
    void refuse(u16 errorCode, std::string_view text);

    // Appends a frame with the next server sequence. Returns false, queueing nothing,
    // when that would take the queue past its limit: the client is not reading.
    [[nodiscard]] bool send(u16 type, std::span<const std::byte> payload);
    bool hasOutput() const noexcept { return !output_.empty(); }
    // Hands the queued bytes over by swapping buffers, so steady sending allocates nothing.
    void takeOutput(std::vector<std::byte>& out);

    LinkPhase phase() const noexcept { return phase_; }
    u64 sessionId() const noexcept { return sessionId_; }
    const std::string& gameTicket() const noexcept { return gameTicket_; }
    // True when the bytes received so far end exactly at a frame boundary.
    bool atFrameBoundary() const noexcept { return parser_.atFrameBoundary(); }
    std::size_t queuedBytes() const noexcept { return output_.size(); }

private:
    void handleFrame(const net::Frame& frame, ClientLinkHandler& handler);

    u64 sessionId_;
    u16 tickRate_;
    std::size_t writeLimitBytes_;
    LinkPhase phase_ = LinkPhase::AwaitHello;
    net::FrameParser parser_;
    u32 lastClientSequence_ = 0;
    u32 lastCommandSequence_ = 0;
    u32 nextServerSequence_ = 1;
    bool sequenceExhausted_ = false;
    std::string gameTicket_;
    std::vector<std::byte> output_;
};

}  // namespace kestrune::duel
