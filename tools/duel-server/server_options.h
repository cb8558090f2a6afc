#pragma once
// The duel server's configuration and its command line:
//   kestrune-duel-server [--listen=HOST:PORT] [--tick-rate=N] [--bot[=idle]] [--tickets=FILE]
//                        [--max-duels=N]
// Parsing throws std::invalid_argument with a sentence naming the option; reading the
// tickets file throws std::runtime_error naming the file and line.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>

#include "base/types.h"

namespace kestrune::duel {

inline constexpr u16 kDefaultPort = 7777;
inline constexpr u16 kDefaultTickRate = 30;
inline constexpr u16 kMaxTickRate = 1000;
inline constexpr u32 kDefaultMaxDuels = 1024;
inline constexpr u32 kMaxDuelsLimit = 100000;
inline constexpr u32 kDefaultHandshakeTimeoutMs = 5000;
// About 20 s of a duel's traffic; a client this far behind is not reading.
inline constexpr std::size_t kDefaultWriteQueueLimitBytes = 64 * 1024;
inline constexpr std::size_t kMaxTicketsFileBytes = 16 * 1024 * 1024;

struct ServerConfig {
    std::string host = "127.0.0.1";
    u16 port = kDefaultPort;  // 0 lets the system choose
    u16 tickRate = kDefaultTickRate;
    bool bot = false;
    bool idleBot = false;  // --bot=idle: the bot stands where the round starts it and never acts
    std::optional<std::unordered_set<std::string>> tickets;  // empty optional: every ticket joins
    u32 maxDuels = kDefaultMaxDuels;
    u32 handshakeTimeoutMs = kDefaultHandshakeTimeoutMs;  // hello and join must arrive within
    std::size_t writeQueueLimitBytes = kDefaultWriteQueueLimitBytes;
    bool manualTicks = false;       // ticks run only through DuelServer::advanceTicks (tests)
};

struct ParsedOptions {
    ServerConfig config;
    bool help = false;
};

ParsedOptions parseServerOptions(std::span<const std::string_view> arguments);

// One ticket per line; blank lines and lines starting with '#' are skipped, a trailing
// carriage return is ignored, every other line must be a valid game ticket.
std::unordered_set<std::string> parseTickets(std::string_view text, const std::string& fileName);
std::unordered_set<std::string> readTicketsFile(const std::string& fileName);

std::string usageText();

}  // namespace kestrune::duel
