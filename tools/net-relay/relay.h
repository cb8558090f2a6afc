#pragma once
// The relay itself: accepts connections on the listen address, opens one to the target for
// each, and moves bytes both ways through a LinkSchedule per direction. Single-threaded on
// one Asio io_context; construction throws std::runtime_error when the listen address cannot
// be bound or the target cannot be resolved.

#include <memory>
#include <ostream>

#include "base/types.h"
#include "relay_options.h"

namespace asio {
class io_context;
}

namespace kestrune::relay {

// Bytes one direction may hold before it stops reading until some have gone out.
inline constexpr std::size_t kDirectionQueueLimitBytes = 64 * 1024 * 1024;

class Relay {
public:
    Relay(asio::io_context& io, RelayConfig config, std::ostream& log);
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    u16 port() const noexcept;
    // Prints "listening on HOST:PORT, ..." and starts accepting.
    void start();
    // Closes the listener and every connection.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrune::relay
