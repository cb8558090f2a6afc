#include "relay.h"

#include <asio.hpp>

#include <array>
#include <chrono>
#include <deque>
#include <list>
#include <stdexcept>
#include <vector>

#include "link_schedule.h"

namespace kestrune::relay {
namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadBytes = 16 * 1024;

LinkConditions conditionsOf(const RelayConfig& config, u64 seed) {
    return {config.delayMs, config.jitterMs, seed, config.stallAfterMs, config.stallMs};
}

class Connection;

// One way through a connection: reads from `from`, holds each chunk until the schedule
// lets it go, writes it to `to` in order, and passes the end of the stream on.
class Direction {
public:
    Direction(Connection& owner, tcp::socket& from, tcp::socket& to, const LinkConditions& conditions)
        : owner_(owner), from_(from), to_(to), schedule_(conditions), timer_(from.get_executor()) {}

    void start() { read(); }
    void cancel() { timer_.cancel(); }

private:
    struct Chunk {
        f64 releaseMs = 0.0;
        std::vector<std::byte> bytes;
    };

    void read();
    void writeNext();

    Connection& owner_;
    tcp::socket& from_;
    tcp::socket& to_;
    LinkSchedule schedule_;
    asio::steady_timer timer_;
    std::array<std::byte, kReadBytes> buffer_{};
    std::deque<Chunk> queue_;
    std::size_t queuedBytes_ = 0;
    bool reading_ = false;
    bool writing_ = false;
    bool ended_ = false;  // `from` has sent everything it will
};

class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket client, const RelayConfig& config, u64 seed)
        : client_(std::move(client)),
          server_(client_.get_executor()),
          accepted_(Clock::now()),
          upstream_(*this, client_, server_, conditionsOf(config, seed)),
          downstream_(*this, server_, client_, conditionsOf(config, seed + 1)) {}

    void start(const tcp::resolver::results_type& target) {
        asio::async_connect(server_, target, [self = shared_from_this()](const asio::error_code& error, const tcp::endpoint&) {
            if (error) {
                self->close();
                return;
            }
            self->server_.set_option(tcp::no_delay(true));
            self->client_.set_option(tcp::no_delay(true));
            self->upstream_.start();
            self->downstream_.start();
        });
    }

    f64 elapsedMs() const { return std::chrono::duration<f64, std::milli>(Clock::now() - accepted_).count(); }
    Clock::time_point at(f64 ms) const {
        return accepted_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<f64, std::milli>(ms));
    }
    std::shared_ptr<Connection> keepAlive() { return shared_from_this(); }

    void close() {
        asio::error_code ignored;
        upstream_.cancel();
        downstream_.cancel();
        client_.close(ignored);
        server_.close(ignored);
    }

private:
    tcp::socket client_;
    tcp::socket server_;
    Clock::time_point accepted_;
    Direction upstream_;
    Direction downstream_;
};

void Direction::read() {
    if (reading_ || ended_ || queuedBytes_ >= kDirectionQueueLimitBytes) {
        return;
    }
    reading_ = true;
    from_.async_read_some(asio::buffer(buffer_), [this, self = owner_.keepAlive()](const asio::error_code& error,
                                                                                     std::size_t bytes) {
        reading_ = false;
        if (error) {
            if (error != asio::error::eof) {
                owner_.close();  // a reset on one side ends both
                return;
            }
            ended_ = true;
        } else {
            Chunk chunk{schedule_.releaseMs(owner_.elapsedMs()), {buffer_.begin(), buffer_.begin() + bytes}};
            queuedBytes_ += bytes;
            queue_.push_back(std::move(chunk));
            read();
        }
        if (!writing_) {
            writeNext();
        }
    });
}

void Direction::writeNext() {
    if (queue_.empty()) {
        if (ended_) {
            asio::error_code ignored;
            to_.shutdown(tcp::socket::shutdown_send, ignored);
        }
        return;
    }
    writing_ = true;
    timer_.expires_at(owner_.at(queue_.front().releaseMs));
    timer_.async_wait([this, self = owner_.keepAlive()](const asio::error_code& error) {
        if (error) {
            writing_ = false;
            return;  // cancelled: the connection is closing
        }
        asio::async_write(to_, asio::buffer(queue_.front().bytes),
                          [this, self](const asio::error_code& writeError, std::size_t) {
                              writing_ = false;
                              if (writeError) {
                                  owner_.close();
                                  return;
                              }
                              queuedBytes_ -= queue_.front().bytes.size();
                              queue_.pop_front();
                              read();  // in case a full queue had stopped it
                              writeNext();
                          });
    });
}

}  // namespace

struct Relay::Impl {
    Impl(asio::io_context& context, RelayConfig relayConfig, std::ostream& output)
        : io(context), config(std::move(relayConfig)), log(output), acceptor(context) {
        tcp::resolver resolver(io);
        asio::error_code error;
        target = resolver.resolve(config.to.host, std::to_string(config.to.port), error);
        if (error) {
            throw std::runtime_error("cannot resolve --to host '" + config.to.host + "': " + error.message());
        }
        const auto listenAt = resolver.resolve(config.listen.host, std::to_string(config.listen.port), error);
        if (error) {
            throw std::runtime_error("cannot resolve --listen host '" + config.listen.host + "': " + error.message());
        }
        const tcp::endpoint endpoint = *listenAt.begin();
        acceptor.open(endpoint.protocol());
        acceptor.set_option(tcp::acceptor::reuse_address(true));
        acceptor.bind(endpoint, error);
        if (error) {
            throw std::runtime_error("cannot listen on " + config.listen.host + ":" + std::to_string(config.listen.port) +
                                     ": " + error.message());
        }
        acceptor.listen();
    }

    void accept() {
        acceptor.async_accept([this](const asio::error_code& error, tcp::socket socket) {
            if (error) {
                return;  // the acceptor was closed
            }
            auto connection = std::make_shared<Connection>(std::move(socket), config, config.seed + 2 * accepted++);
            connections.push_back(connection);
            connection->start(target);
            accept();
        });
    }

    asio::io_context& io;
    RelayConfig config;
    std::ostream& log;
    tcp::acceptor acceptor;
    tcp::resolver::results_type target;
    std::list<std::weak_ptr<Connection>> connections;
    u64 accepted = 0;
};

Relay::Relay(asio::io_context& io, RelayConfig config, std::ostream& log)
    : impl_(std::make_unique<Impl>(io, std::move(config), log)) {}

Relay::~Relay() = default;

u16 Relay::port() const noexcept { return impl_->acceptor.local_endpoint().port(); }

void Relay::start() {
    const RelayConfig& config = impl_->config;
    impl_->log << "listening on " << config.listen.host << ":" << port() << ", forwarding to " << config.to.host
               << ":" << config.to.port << " with " << config.delayMs << " ms delay and " << config.jitterMs
               << " ms jitter each way";
    if (config.stallAfterMs) {
        impl_->log << ", stalling " << config.stallMs << " ms after " << *config.stallAfterMs << " ms";
    }
    impl_->log << std::endl;
    impl_->accept();
}

void Relay::stop() {
    asio::error_code ignored;
    impl_->acceptor.close(ignored);
    for (const std::weak_ptr<Connection>& weak : impl_->connections) {
        if (const std::shared_ptr<Connection> connection = weak.lock()) {
            connection->close();
        }
    }
    impl_->connections.clear();
}

}  // namespace kestrune::relay
