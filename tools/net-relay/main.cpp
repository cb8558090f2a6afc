// kestrune-net-relay: forwards TCP connections with a chosen delay, jitter and one stall,
// for tests and for trying the game at a given ping. Runs until SIGINT or SIGTERM.
// Exit codes: 0 after a clean stop, 1 when it cannot start, 2 for a bad command line.

#include <asio.hpp>
#include <csignal>
#include <iostream>
#include <string_view>
#include <vector>

#include "relay.h"
#include "relay_options.h"

int main(int argc, char** argv) {
    using namespace kestrune::relay;
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    ParsedRelayOptions options;
    try {
        options = parseRelayOptions(arguments);
    } catch (const std::exception& error) {
        std::cerr << "kestrune-net-relay: " << error.what() << "\n" << relayUsageText();
        return 2;
    }
    if (options.help) {
        std::cout << relayUsageText();
        return 0;
    }
    try {
        asio::io_context io(1);
        Relay relay(io, options.config, std::cout);
        asio::signal_set signals(io, SIGINT, SIGTERM);
        signals.async_wait([&](const asio::error_code& error, int) {
            if (!error) {
                relay.stop();
            }
        });
        relay.start();
        io.run();
    } catch (const std::exception& error) {
        std::cerr << "kestrune-net-relay: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
