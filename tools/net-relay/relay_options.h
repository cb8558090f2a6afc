#pragma once
// The network-conditions relay's configuration and its command line:
//   kestrune-net-relay --to=HOST:PORT [--listen=HOST:PORT] [--delay-ms=N] [--jitter-ms=N]
//                      [--seed=N] [--stall-after-ms=N --stall-ms=N] [--allow-remote]
// Parsing throws std::invalid_argument with a sentence naming the option.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/types.h"

namespace kestrune::relay {

inline constexpr u32 kMaxDelayMs = 60'000;
inline constexpr u32 kMaxStallMs = 600'000;

struct Endpoint {
    std::string host;
    u16 port = 0;
};

struct RelayConfig {
    Endpoint listen{"127.0.0.1", 0};  // port 0 lets the system choose
    Endpoint to;
    u32 delayMs = 0;   // added to every chunk, each way
    u32 jitterMs = 0;  // plus a seeded uniform 0 to jitterMs more
    u64 seed = 1;
    std::optional<u32> stallAfterMs;  // once per connection, this long after it is accepted,
    u32 stallMs = 0;                  // nothing moves either way for this long
    bool allowRemote = false;         // listening on other than loopback addresses
};

struct ParsedRelayOptions {
    RelayConfig config;
    bool help = false;
};

ParsedRelayOptions parseRelayOptions(std::span<const std::string_view> arguments);
std::string relayUsageText();

}  // namespace kestrune::relay
