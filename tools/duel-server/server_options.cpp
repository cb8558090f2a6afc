#include "server_options.h"

#include <fstream>
#include <stdexcept>

#include "net/client_messages.h"

namespace kestrune::duel {
namespace {

std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '\'';
    out += text;
    out += '\'';
    return out;
}

// Decimal digits only (no sign, no spaces), within [minimum, maximum].
std::optional<u32> parseNumber(std::string_view text, u32 minimum, u32 maximum) {
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    u64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<u64>(c - '0');
    }
    if (value < minimum || value > maximum) {
        return std::nullopt;
    }
    return static_cast<u32>(value);
}

void parseListen(std::string_view value, ServerConfig& config) {
    const std::size_t colon = value.rfind(':');
    const std::string problem = "Invalid --listen value " + quoted(value);
    if (colon == std::string_view::npos || colon == 0) {
        throw std::invalid_argument(problem + ": expected HOST:PORT.");
    }
    const std::optional<u32> port = parseNumber(value.substr(colon + 1), 0, 65535);
    if (!port) {
        throw std::invalid_argument(problem + ": the port must be a number from 0 to 65535.");
    }
    config.host = std::string(value.substr(0, colon));
    config.port = static_cast<u16>(*port);
}

}  // namespace

ParsedOptions parseServerOptions(std::span<const std::string_view> arguments) {
    ParsedOptions out;
    ServerConfig& config = out.config;
    bool seenTickets = false;
    for (const std::string_view argument : arguments) {
        const std::size_t equals = argument.find('=');
        const std::string_view name = argument.substr(0, equals);
        const bool hasValue = equals != std::string_view::npos;
        const std::string_view value = hasValue ? argument.substr(equals + 1) : std::string_view{};
        if (name == "--bot" && (!hasValue || value == "idle")) {
            config.bot = true;
            config.idleBot = hasValue;
        } else if ((name == "--help" || name == "-h") && !hasValue) {
            out.help = true;
        } else if (name == "--listen" && hasValue) {
            parseListen(value, config);
        } else if (name == "--tick-rate" && hasValue) {
            const std::optional<u32> rate = parseNumber(value, 1, kMaxTickRate);
            if (!rate) {
                throw std::invalid_argument("Invalid --tick-rate value " + quoted(value) + ": expected 1 to " +
                                            std::to_string(kMaxTickRate) + " ticks per second.");
            }
            config.tickRate = static_cast<u16>(*rate);
        } else if (name == "--max-duels" && hasValue) {
            const std::optional<u32> duels = parseNumber(value, 1, kMaxDuelsLimit);
            if (!duels) {
                throw std::invalid_argument("Invalid --max-duels value " + quoted(value) + ": expected 1 to " +
                                            std::to_string(kMaxDuelsLimit) + ".");
            }
            config.maxDuels = *duels;
        } else if (name == "--tickets" && hasValue) {
            if (value.empty()) {
                throw std::invalid_argument("Invalid --tickets value: expected a file name.");
            }
            if (seenTickets) {
                throw std::invalid_argument("--tickets may be given only once.");
            }
            seenTickets = true;
            config.tickets = readTicketsFile(std::string(value));
        } else {
            throw std::invalid_argument("Unknown option " + quoted(argument) + ".");
        }
    }
    return out;
}

std::unordered_set<std::string> parseTickets(std::string_view text, const std::string& fileName) {
    std::unordered_set<std::string> tickets;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (!net::isValidGameTicket(line)) {
            throw std::runtime_error(fileName + " line " + std::to_string(lineNumber) +
                                     ": a game ticket is 1 to 256 ASCII letters, digits, '_' and '-'.");
        }
        tickets.emplace(line);
    }
    return tickets;
}

std::unordered_set<std::string> readTicketsFile(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file) {
        throw std::runtime_error("Unable to open tickets file " + fileName + ".");
    }
    std::string text;
    char buffer[4096];
    while (file.read(buffer, sizeof(buffer)) || file.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(file.gcount()));
        if (text.size() > kMaxTicketsFileBytes) {
            throw std::runtime_error("Tickets file " + fileName + " is larger than 16 MiB.");
        }
    }
    if (file.bad()) {
        throw std::runtime_error("Unable to read tickets file " + fileName + ".");
    }
    return parseTickets(text, fileName);
}

std::string usageText() {
    return "usage: kestrune-duel-server [--listen=HOST:PORT] [--tick-rate=N] [--bot[=idle]] [--tickets=FILE]\n"
           "                            [--max-duels=N]\n"
           "  --listen=HOST:PORT  address to accept clients on (default 127.0.0.1:7777; port 0 picks one)\n"
           "  --tick-rate=N       simulation ticks per second, 1 to 1000 (default 30)\n"
           "  --bot               a player who waits alone gets a bot of the other class\n"
           "  --bot=idle          the same bot standing still, a target to practise on\n"
           "  --tickets=FILE      only the game tickets listed in FILE (one per line) may join\n"
           "  --max-duels=N       duels running at once, 1 to 100000 (default 1024)\n";
}

}  // namespace kestrune::duel
