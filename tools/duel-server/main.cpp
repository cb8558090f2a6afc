// kestrune-duel-server: runs duels for Kestrune Native clients until SIGINT or SIGTERM (Ctrl-C).
// Exit codes: 0 after a clean stop, 1 when the server cannot start, 2 for a bad command line.

#include <asio.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_format.h"
#include "cpu_clock.h"
#include "duel_server.h"
#include "server_log.h"
#include "server_options.h"

namespace {

using namespace kestrune;
using namespace kestrune::duel;

// The figures the load script reads; one line, so it is easy to find in the log.
std::string tickReport(const MicrosecondHistogram& tickCpu, const MicrosecondHistogram& lateness, f64 cpuSeconds,
                       f64 wallSeconds) {
    const auto us = [](u64 value) { return static_cast<unsigned long long>(value); };
    return formatText("tick cpu: %llu ticks, p50 %llu us, p99 %llu us, max %llu us, mean %.1f us; "
                      "start late by p50 %llu us, p99 %llu us, max %llu us; "
                      "process cpu %.2f s over %.2f s wall (%.1f%% of one core)",
                      us(tickCpu.count()), us(tickCpu.percentileMicroseconds(0.50)),
                      us(tickCpu.percentileMicroseconds(0.99)), us(tickCpu.maxMicroseconds()),
                      tickCpu.meanMicroseconds(), us(lateness.percentileMicroseconds(0.50)),
                      us(lateness.percentileMicroseconds(0.99)), us(lateness.maxMicroseconds()), cpuSeconds,
                      wallSeconds, wallSeconds > 0 ? 100.0 * cpuSeconds / wallSeconds : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    ParsedOptions options;
    try {
        options = parseServerOptions(arguments);
    } catch (const std::exception& error) {
        std::cerr << "kestrune-duel-server: " << error.what() << "\n" << usageText();
        return 2;
    }
    if (options.help) {
        std::cout << usageText();
        return 0;
    }
    try {
        asio::io_context io(1);
        ServerLog log(std::cout);
        DuelServer server(io, options.config, log);
        asio::signal_set signals(io, SIGINT, SIGTERM);
        signals.async_wait([&](const asio::error_code& error, int signalNumber) {
            if (!error) {
                log.line(signalNumber == SIGINT ? "SIGINT received, stopping" : "SIGTERM received, stopping");
                server.stop();
            }
        });
        const auto wallStart = std::chrono::steady_clock::now();
        const f64 cpuStart = processCpuSeconds();
        server.start();
        io.run();
        const f64 wallSeconds = std::chrono::duration<f64>(std::chrono::steady_clock::now() - wallStart).count();
        log.line(tickReport(server.tickCpu(), server.tickLateness(), processCpuSeconds() - cpuStart, wallSeconds));
    } catch (const std::exception& error) {
        std::cerr << "kestrune-duel-server: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
