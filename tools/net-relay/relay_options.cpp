#include "relay_options.h"

#include <stdexcept>

namespace kestrune::relay {
namespace {

[[noreturn]] void fail(const std::string& message) { throw std::invalid_argument(message); }

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// Decimal digits only, within [0, maximum].
std::optional<u64> parseNumber(std::string_view text, u64 maximum) {
    if (text.empty() || text.size() > 20) {
        return std::nullopt;
    }
    u64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const u64 digit = static_cast<u64>(c - '0');
        if (value > (maximum - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

u32 parseMilliseconds(std::string_view name, std::string_view value, u32 maximum) {
    const std::optional<u64> parsed = parseNumber(value, maximum);
    if (!parsed) {
        fail("Invalid " + std::string(name) + " value " + quoted(value) + ": expected 0 to " +
             std::to_string(maximum) + " milliseconds.");
    }
    return static_cast<u32>(*parsed);
}

Endpoint parseEndpoint(std::string_view name, std::string_view value, bool portZeroAllowed) {
    const std::size_t colon = value.rfind(':');
    const std::string problem = "Invalid " + std::string(name) + " value " + quoted(value);
    if (colon == std::string_view::npos || colon == 0) {
        fail(problem + ": expected HOST:PORT.");
    }
    const std::optional<u64> port = parseNumber(value.substr(colon + 1), 65535);
    if (!port || (*port == 0 && !portZeroAllowed)) {
        fail(problem + ": the port must be a number from " + (portZeroAllowed ? "0" : "1") + " to 65535.");
    }
    return {std::string(value.substr(0, colon)), static_cast<u16>(*port)};
}

bool isLoopbackHost(std::string_view host) {
    return host == "localhost" || host == "::1" || host == "[::1]" || host.starts_with("127.");
}

}  // namespace

ParsedRelayOptions parseRelayOptions(std::span<const std::string_view> arguments) {
    ParsedRelayOptions out;
    RelayConfig& config = out.config;
    bool seenTo = false;
    bool seenStallMs = false;
    for (const std::string_view argument : arguments) {
        const std::size_t equals = argument.find('=');
        const std::string_view name = argument.substr(0, equals);
        const bool hasValue = equals != std::string_view::npos;
        const std::string_view value = hasValue ? argument.substr(equals + 1) : std::string_view{};
        if ((name == "--help" || name == "-h") && !hasValue) {
            out.help = true;
        } else if (name == "--allow-remote" && !hasValue) {
            config.allowRemote = true;
        } else if (name == "--listen" && hasValue) {
            config.listen = parseEndpoint(name, value, true);
        } else if (name == "--to" && hasValue) {
            config.to = parseEndpoint(name, value, false);
            seenTo = true;
        } else if (name == "--delay-ms" && hasValue) {
            config.delayMs = parseMilliseconds(name, value, kMaxDelayMs);
        } else if (name == "--jitter-ms" && hasValue) {
            config.jitterMs = parseMilliseconds(name, value, kMaxDelayMs);
        } else if (name == "--stall-after-ms" && hasValue) {
            config.stallAfterMs = parseMilliseconds(name, value, kMaxStallMs);
        } else if (name == "--stall-ms" && hasValue) {
            config.stallMs = parseMilliseconds(name, value, kMaxStallMs);
            seenStallMs = true;
        } else if (name == "--seed" && hasValue) {
            const std::optional<u64> seed = parseNumber(value, ~u64{0});
            if (!seed) {
                fail("Invalid --seed value " + quoted(value) + ": expected a whole number.");
            }
            config.seed = *seed;
        } else {
            fail("Unknown option " + quoted(argument) + ".");
        }
    }
    if (out.help) {
        return out;
    }
    if (!seenTo) {
        fail("--to=HOST:PORT is required: where the relay forwards to.");
    }
    if (config.stallAfterMs.has_value() != seenStallMs) {
        fail("--stall-after-ms and --stall-ms go together.");
    }
    if (!config.allowRemote && !isLoopbackHost(config.listen.host)) {
        fail("Invalid --listen value " + quoted(config.listen.host) +
             ": the relay listens on loopback addresses only, unless --allow-remote is given.");
    }
    return out;
}

std::string relayUsageText() {
    return "usage: kestrune-net-relay --to=HOST:PORT [--listen=HOST:PORT] [--delay-ms=N] [--jitter-ms=N]\n"
           "                          [--seed=N] [--stall-after-ms=N --stall-ms=N] [--allow-remote]\n"
           "Forwards every TCP connection made to the --listen address (default 127.0.0.1:0, a port\n"
           "the system chooses) to the --to address, both ways, holding every chunk of bytes for\n"
           "--delay-ms plus a random 0 to --jitter-ms more (from --seed, default 1), never out of\n"
           "order. --stall-after-ms=N --stall-ms=M freeze each connection once, N ms after it is\n"
           "accepted, for M ms. Prints \"listening on HOST:PORT\" when it is ready; SIGINT or\n"
           "SIGTERM stop it.\n";
}

}  // namespace kestrune::relay
