#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "net/net_test_support.h"
#include "server_options.h"

namespace kestrune::duel {
namespace {

using net::test::expectInvalidArgument;
using net::test::expectRuntimeError;

ParsedOptions parse(std::vector<std::string_view> arguments) { return parseServerOptions(arguments); }

// host, port, tick rate, bot, idle bot, duel limit
auto summary(const ServerConfig& c) { return std::tuple(c.host, c.port, c.tickRate, c.bot, c.idleBot, c.maxDuels); }

TEST(ServerOptions, ParsesDefaultsAndEveryOptionAndRefusesBadValuesNamingTheOption) {
    const ServerConfig defaults = parse({}).config;
    EXPECT_EQ(summary(defaults), std::tuple(std::string("127.0.0.1"), u16{7777}, u16{30}, false, false, 1024u));
    EXPECT_EQ(std::tuple(defaults.tickets.has_value(), defaults.manualTicks), std::tuple(false, false));
    const ParsedOptions parsed =
        parse({"--listen=0.0.0.0:0", "--tick-rate=1000", "--bot", "--max-duels=100000", "--help"});
    EXPECT_EQ(summary(parsed.config), std::tuple(std::string("0.0.0.0"), u16{0}, u16{1000}, true, false, 100000u));
    EXPECT_TRUE(parsed.help);
    EXPECT_EQ(summary(parse({"--listen=::1:65535", "--tick-rate=1", "--max-duels=1", "--bot=idle"}).config),
              std::tuple(std::string("::1"), u16{65535}, u16{1}, true, true, 1u));

    const struct { const char* argument; const char* message; } cases[] = {
        {"--listen=localhost", "Invalid --listen value 'localhost': expected HOST:PORT."},
        {"--listen=:80", "Invalid --listen value ':80': expected HOST:PORT."},
        {"--listen=host:65536", "Invalid --listen value 'host:65536': the port must be a number from 0 to 65535."},
        {"--listen=host:-1", "Invalid --listen value 'host:-1': the port must be a number from 0 to 65535."},
        {"--listen=host:", "Invalid --listen value 'host:': the port must be a number from 0 to 65535."},
        {"--tick-rate=0", "Invalid --tick-rate value '0': expected 1 to 1000 ticks per second."},
        {"--tick-rate=1001", "Invalid --tick-rate value '1001': expected 1 to 1000 ticks per second."},
        {"--tick-rate=30x", "Invalid --tick-rate value '30x': expected 1 to 1000 ticks per second."},
        {"--tick-rate=99999999999", "Invalid --tick-rate value '99999999999': expected 1 to 1000 ticks per second."},
        {"--max-duels=0", "Invalid --max-duels value '0': expected 1 to 100000."},
        {"--max-duels=100001", "Invalid --max-duels value '100001': expected 1 to 100000."},
        {"--tickets=", "Invalid --tickets value: expected a file name."}, {"--bot=yes", "Unknown option '--bot=yes'."},
        {"--listen", "Unknown option '--listen'."}, {"--port=1", "Unknown option '--port=1'."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        expectInvalidArgument([&] { parse({c.argument}); }, c.message);
    }
}

TEST(ServerOptions, TicketsSkipCommentsAndBlankLinesRefuseBadOnesAndComeFromOneFile) {
    const auto tickets = parseTickets("# launcher tickets\r\nalpha-1\r\n\nbeta_2\nalpha-1", "t.txt");
    EXPECT_EQ(tickets, (std::unordered_set<std::string>{"alpha-1", "beta_2"}));
    EXPECT_TRUE(parseTickets("", "t.txt").empty());
    EXPECT_TRUE(parseTickets(std::string(256, 'k'), "t.txt").contains(std::string(256, 'k')));
    const std::string rule = ": a game ticket is 1 to 256 ASCII letters, digits, '_' and '-'.";
    const struct { const char* name; std::string text; const char* line; } cases[] = {
        {"space", "ok\nnot ok\n", "t.txt line 2"}, {"257 bytes", "a\n\n" + std::string(257, 'k'), "t.txt line 3"},
        {"non-ASCII", "caf\xC3\xA9", "t.txt line 1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectRuntimeError([&] { parseTickets(c.text, "t.txt"); }, c.line + rule);
    }

    const std::string path = std::string(KESTRUNE_BINARY_DIR) + "/server_options_test_tickets.txt";
    std::ofstream(path, std::ios::binary) << "one\ntwo\n";  // closed at the end of the statement
    const std::string argument = "--tickets=" + path;
    const ServerConfig config = parse({argument}).config;
    EXPECT_EQ(config.tickets, std::optional(std::unordered_set<std::string>{"one", "two"}));
    expectInvalidArgument([&] { parse({argument, argument}); }, "--tickets may be given only once.");
    std::remove(path.c_str());
    expectRuntimeError([&] { parse({argument}); }, "Unable to open tickets file " + path + ".");
}

}  // namespace
}  // namespace kestrune::duel
