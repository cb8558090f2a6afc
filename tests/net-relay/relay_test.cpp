#include <gtest/gtest.h>

#include <asio.hpp>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link_schedule.h"
#include "net/net_test_support.h"
#include "relay.h"
#include "relay_options.h"

namespace kestrune::relay {
namespace {

RelayConfig parse(std::vector<std::string_view> arguments) { return parseRelayOptions(arguments).config; }

TEST(RelayOptions, ParsesEveryOptionAndRefusesWithOneSentence) {
    const RelayConfig config = parse({"--listen=127.0.0.1:0", "--to=localhost:7777", "--delay-ms=50",
                                      "--jitter-ms=15", "--seed=9", "--stall-after-ms=2000", "--stall-ms=1000"});
    EXPECT_EQ(std::tuple(config.to.host, config.to.port, config.delayMs, config.jitterMs, config.seed),
              std::tuple(std::string("localhost"), u16{7777}, 50u, 15u, u64{9}));
    EXPECT_EQ(std::tuple(config.stallAfterMs, config.stallMs), std::tuple(std::optional<u32>(2000), 1000u));
    EXPECT_TRUE(parseRelayOptions(std::vector<std::string_view>{"--help"}).help);
    EXPECT_EQ(parse({"--to=h:1", "--listen=0.0.0.0:5", "--allow-remote"}).listen.host, "0.0.0.0");

    const struct { std::vector<std::string_view> arguments; const char* message; } cases[] = {
        {{}, "--to=HOST:PORT is required: where the relay forwards to."},
        {{"--to=h"}, "Invalid --to value 'h': expected HOST:PORT."},
        {{"--to=h:0"}, "Invalid --to value 'h:0': the port must be a number from 1 to 65535."},
        {{"--to=h:1", "--listen=127.0.0.1:65536"},
         "Invalid --listen value '127.0.0.1:65536': the port must be a number from 0 to 65535."},
        {{"--to=h:1", "--delay-ms=60001"}, "Invalid --delay-ms value '60001': expected 0 to 60000 milliseconds."},
        {{"--to=h:1", "--jitter-ms=-1"}, "Invalid --jitter-ms value '-1': expected 0 to 60000 milliseconds."},
        {{"--to=h:1", "--seed=x"}, "Invalid --seed value 'x': expected a whole number."},
        {{"--to=h:1", "--stall-ms=5"}, "--stall-after-ms and --stall-ms go together."},
        {{"--to=h:1", "--stall-after-ms=5"}, "--stall-after-ms and --stall-ms go together."},
        {{"--to=h:1", "--listen=192.168.1.2:0"},
         "Invalid --listen value '192.168.1.2': the relay listens on loopback addresses only, unless --allow-remote "
         "is given."},
        {{"--to=h:1", "--delay"}, "Unknown option '--delay'."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        net::test::expectInvalidArgument([&] { parseRelayOptions(c.arguments); }, c.message);
    }
}

// Every chunk waits its delay and jitter, never goes before the one ahead of it, and none
// goes inside the stall window.
TEST(LinkSchedule, DelaysWithinTheJitterKeepsOrderAndHoldsThroughTheStall) {
    LinkSchedule schedule({50, 15, 7, 1000, 500});
    f64 previous = 0.0;
    bool sawJitter = false;
    for (int i = 0; i < 400; ++i) {
        const f64 arrival = i * 5.0;
        const f64 release = schedule.releaseMs(arrival);
        EXPECT_GE(release, previous);
        EXPECT_GE(release, arrival + 50.0);
        EXPECT_FALSE(release >= 1000.0 && release < 1500.0) << "stalled, released at " << release;
        if (arrival + 65.0 < 1000.0 || arrival + 50.0 >= 1500.0) {
            EXPECT_LE(release, std::max(previous, arrival + 65.0));
        }
        sawJitter = sawJitter || (release > arrival + 51.0 && release > previous);
        previous = release;
    }
    EXPECT_TRUE(sawJitter);
    EXPECT_EQ(LinkSchedule({1000, 0, 7, 1000, 500}).releaseMs(0.0), 1500.0) << "due at the stall's first instant";
    // The jitter comes from the seed.
    const auto firstRelease = [](u64 seed) { return LinkSchedule({50, 15, seed, std::nullopt, 0}).releaseMs(0.0); };
    EXPECT_EQ(firstRelease(7), firstRelease(7));
    EXPECT_NE(firstRelease(7), firstRelease(8));
}

// Bytes through a real relay to an echo server and back: all of them, in order, both ways,
// and the end of the stream passes through.
TEST(Relay, ForwardsBothWaysInOrderWithJitter) {
    using asio::ip::tcp;
    asio::io_context io;
    tcp::acceptor echoAcceptor(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    const RelayConfig config{.to = {"127.0.0.1", echoAcceptor.local_endpoint().port()}, .delayMs = 1, .jitterMs = 3};
    std::ostringstream log;
    Relay relay(io, config, log);
    relay.start();
    EXPECT_EQ(log.str().rfind("listening on 127.0.0.1:" + std::to_string(relay.port()) + ", forwarding to", 0), 0u);
    std::thread loop([&] { io.run(); });

    std::thread echo([&] {
        tcp::socket peer = echoAcceptor.accept();
        std::vector<char> buffer(4096);
        asio::error_code error;
        for (;;) {
            const std::size_t n = peer.read_some(asio::buffer(buffer), error);
            if (error) break;
            asio::write(peer, asio::buffer(buffer.data(), n));
        }
        peer.shutdown(tcp::socket::shutdown_send);
    });

    asio::io_context clientIo;
    tcp::socket client(clientIo);
    client.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), relay.port()));
    std::string sent;
    for (int i = 0; i < 2000; ++i) sent += std::to_string(i) + ",";
    for (std::size_t at = 0; at < sent.size(); at += 997) {
        asio::write(client, asio::buffer(sent.data() + at, std::min<std::size_t>(997, sent.size() - at)));
    }
    client.shutdown(tcp::socket::shutdown_send);
    std::string received;
    asio::error_code error;
    asio::read(client, asio::dynamic_buffer(received), error);
    EXPECT_EQ(std::tuple(error, received), std::tuple(asio::error::eof, sent));
    echo.join();
    asio::post(io, [&] { relay.stop(); });
    loop.join();
}

}  // namespace
}  // namespace kestrune::relay
