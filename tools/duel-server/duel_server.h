#pragma once
// The duel server: accepts clients, walks each through hello and join, seats them in
// duels (one warrior seat, one templar seat; a bot of the other class takes the free
// seat of a lone player when configured), runs every duel's rules at the tick rate and
// sends each player a snapshot per tick, the combat events, and a result per command.
//
// One thread: construction may happen anywhere, everything else (and every handler)
// runs on the thread that runs the io_context. A client that breaks the protocol gets a
// ServerError and is closed; one that stops reading is closed when its write queue is
// full; one that does not finish the handshake in time is closed. None of them can stall
// the loop or make the server hold more than its per-connection bounds.

#include <cstddef>
#include <memory>

#include "base/types.h"
#include "histogram.h"
#include "server_options.h"

namespace asio {
class io_context;
}

namespace kestrune::duel {

class ServerLog;

// Codes of the ServerError messages this server sends.
enum ServerErrorCode : u16 {
    kErrorProtocol = 1,          // the client broke the protocol; the text says how
    kErrorTicketRefused = 2,     // --tickets is set and the ticket is not listed
    kErrorClassTaken = 3,        // the waiting duel already has a player of that class
    kErrorServerFull = 4,        // --max-duels duels are running
};

struct ServerCounts {
    std::size_t connections = 0;
    std::size_t duels = 0;
    std::size_t bots = 0;
    u64 tick = 0;
};

class DuelServer {
public:
    // Opens the listening socket at once (std::runtime_error naming the address when that
    // fails); nothing is accepted before start().
    DuelServer(asio::io_context& io, ServerConfig config, ServerLog& log);
    ~DuelServer();
    DuelServer(const DuelServer&) = delete;
    DuelServer& operator=(const DuelServer&) = delete;

    u16 port() const noexcept;  // the bound port, also when the system chose it
    void start();
    // Closes the listener and every connection and stops ticking; the io_context's run()
    // returns once the last handlers have drained. Further calls do nothing.
    void stop();
    // Runs `count` ticks now; the way tests drive a server built with manualTicks.
    void advanceTicks(u32 count);

    ServerCounts counts() const noexcept;
    // CPU time of each tick, and how late each tick started against its schedule (the
    // event loop was busy or the process was not running).
    const MicrosecondHistogram& tickCpu() const noexcept;
    const MicrosecondHistogram& tickLateness() const noexcept;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrune::duel
