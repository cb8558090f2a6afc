// kestrune-duel-load: many simulated players against one duel server, on one thread.
//   kestrune-duel-load --server=HOST:PORT [--clients=N] [--seconds=S] [--command-interval-ms=N]
// Clients connect and join one after another (even ones as warrior, odd ones as templar,
// so consecutive clients share a duel), then send a random command every interval and check every
// server frame with the project's codecs and sequence rules. The report gives the gap
// between consecutive snapshots of each client (p50, p99, max), by the kernel's receive
// time and by the time this program read them, the command
// results, and every client that was dropped or refused. The S seconds start when the last
// client has joined. Exit code 0 only when every client joined and stayed until the end.

#include <sys/socket.h>
#include <sys/uio.h>

#include <asio.hpp>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <iostream>
#include <array>
#include <cmath>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_format.h"
#include "histogram.h"
#include "net/client_messages.h"
#include "net/frame_codec.h"
#include "net/frame_sequence.h"
#include "net/protocol.h"
#include "net/server_messages.h"

namespace {

using namespace kestrune;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr u64 kGapBucketMicroseconds = 100;
constexpr std::chrono::seconds kJoiningLimit{240};
constexpr std::size_t kGapBuckets = 20000;  // up to 2 s
constexpr std::size_t kReadChunkBytes = 8192;
constexpr std::size_t kMaxReportedFailures = 10;

struct LoadOptions {
    std::string host = "127.0.0.1";
    std::string port;
    u32 clients = 100;
    u32 seconds = 10;
    u32 commandIntervalMs = 500;
};

struct Totals {
    u32 joined = 0;
    u32 failed = 0;
    u64 snapshots = 0;
    u64 commandsSent = 0;
    u64 accepted = 0;
    u64 refused = 0;
    u64 events = 0;
    duel::MicrosecondHistogram arrivalGaps{kGapBucketMicroseconds, kGapBuckets};
    duel::MicrosecondHistogram readGaps{kGapBucketMicroseconds, kGapBuckets};
    std::vector<std::string> failures;
};

class Swarm;

class LoadClient : public std::enable_shared_from_this<LoadClient> {
public:
    LoadClient(Swarm& swarm, u32 index, asio::io_context& io, std::mt19937& random)
        : index_(index), swarm_(swarm), socket_(io), timer_(io), random_(random()) {}

    void start(const tcp::resolver::results_type& endpoints);
    void finish();


private:
    void sendJoin();
    void read();
    void readAvailable();
    void onFrame(const net::Frame& frame);
    void send(u16 type, std::span<const std::byte> payload);
    void flush();
    void scheduleCommand();
    void sendRandomCommand();
    void fail(const std::string& reason);

    u32 index_;
    Swarm& swarm_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    std::mt19937 random_;
    net::FrameParser parser_;
    std::array<std::byte, kReadChunkBytes> readBuffer_{};
    std::vector<std::byte> pending_;
    std::vector<std::byte> inFlight_;
    bool writing_ = false;
    bool welcomed_ = false;
    bool joined_ = false;
    bool failed_ = false;
    bool finished_ = false;
    u64 sessionId_ = 0;
    u32 nextFrameSequence_ = 1;
    u32 lastServerSequence_ = 0;
    u32 commandCounter_ = 0;
    u32 lastResultSequence_ = 0;
    u32 entityId_ = 0;
    u32 opponentId_ = 0;
    u64 lastTick_ = 0;
    std::optional<Clock::time_point> lastSnapshotAt_;
    std::optional<u64> arrivalNs_;      // kernel receive time of the bytes being parsed
    std::optional<u64> lastArrivalNs_;  // of the previous snapshot
};

class Swarm {
public:
    Swarm(asio::io_context& io, LoadOptions options) : io_(io), options_(std::move(options)), stopTimer_(io) {}

    void start() {
        endpoints_ = tcp::resolver(io_).resolve(options_.host, options_.port);
        std::mt19937 random(12345);
        for (u32 i = 0; i < options_.clients; ++i) {
            clients_.push_back(std::make_shared<LoadClient>(*this, i, io_, random));
        }
        clients_.front()->start(endpoints_);
        // Joining one after another takes as long as the machine makes it take; a run that
        // cannot seat its clients at all still ends.
        armStop(kJoiningLimit);
    }

    // Clients connect and join one after the other, so that consecutive clients always
    // share a duel and none waits for its turn past the server's handshake deadline.
    void joined() {
        ++totals.joined;
        startNext();
        soakOnceAllJoined();
    }
    void failed(u32 index, const std::string& reason) {
        ++totals.failed;
        if (totals.failures.size() < kMaxReportedFailures) {
            totals.failures.push_back("client " + std::to_string(index) + ": " + reason);
        }
        if (index == started_ - 1) {
            startNext();
        }
        soakOnceAllJoined();
    }
    bool stopping() const noexcept { return stopping_; }
    const LoadOptions& options() const noexcept { return options_; }

    Totals totals;

private:
    // The soak's seconds count from the moment the last client is in, so a slow machine soaks
    // as long as a quick one.
    void soakOnceAllJoined() {
        if (!soaking_ && totals.joined + totals.failed == options_.clients) {
            soaking_ = true;
            armStop(std::chrono::seconds(options_.seconds));
        }
    }
    void armStop(std::chrono::steady_clock::duration after) {
        stopTimer_.expires_after(after);
        stopTimer_.async_wait([this](const asio::error_code& error) {
            if (!error) {
                stop();
            }
        });
    }

    void startNext() {
        if (started_ < clients_.size() && !stopping_) {
            clients_[started_++]->start(endpoints_);
        }
    }

    void stop() {
        stopping_ = true;
        for (const std::shared_ptr<LoadClient>& client : clients_) {
            client->finish();
        }
    }

    asio::io_context& io_;
    LoadOptions options_;
    asio::steady_timer stopTimer_;
    tcp::resolver::results_type endpoints_;
    std::vector<std::shared_ptr<LoadClient>> clients_;
    std::size_t started_ = 1;
    bool stopping_ = false;
    bool soaking_ = false;
};

void LoadClient::start(const tcp::resolver::results_type& endpoints) {
    asio::async_connect(socket_, endpoints, [self = shared_from_this()](const asio::error_code& error, const tcp::endpoint&) {
        if (error) {
            self->fail("connect failed: " + error.message());
            return;
        }
        asio::error_code ignored;
        self->socket_.set_option(tcp::no_delay(true), ignored);
        const int enabled = 1;
        ::setsockopt(self->socket_.native_handle(), SOL_SOCKET, SO_TIMESTAMPNS, &enabled, sizeof(enabled));
        self->send(net::kClientHello, net::encodeHello("", static_cast<u64>(Clock::now().time_since_epoch().count())));
        self->read();
    });
}

void LoadClient::sendJoin() {
    const u8 characterClass = index_ % 2 == 0 ? net::kWarrior : net::kTemplar;
    send(net::kClientJoin, net::encodeJoin(characterClass, "Load" + std::to_string(index_)));
}

void LoadClient::finish() {
    finished_ = true;
    timer_.cancel();
    asio::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}

void LoadClient::fail(const std::string& reason) {
    if (failed_ || finished_) {
        return;
    }
    failed_ = true;
    swarm_.failed(index_, reason);
    finish();
}

// Reads with recvmsg to get the kernel's receive time of the data, so the arrival gaps
// measure the server and the network, not how long this one thread took to get to the
// socket among a thousand others (that delay is reported apart, as the read gaps).
void LoadClient::read() {
    socket_.async_wait(tcp::socket::wait_read, [self = shared_from_this()](const asio::error_code& error) {
        if (self->finished_) {
            return;
        }
        if (error) {
            self->fail("wait failed: " + error.message());
            return;
        }
        self->readAvailable();
    });
}

void LoadClient::readAvailable() {
    for (;;) {
        iovec vector{readBuffer_.data(), readBuffer_.size()};
        alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(timespec))> control{};
        msghdr message{};
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        const ssize_t count = ::recvmsg(socket_.native_handle(), &message, MSG_DONTWAIT);
        if (count < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                break;
            }
            fail(std::string("recvmsg failed: ") + std::strerror(errno));
            return;
        }
        if (count == 0) {
            fail("the server closed the connection");
            return;
        }
        arrivalNs_.reset();
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(header), sizeof(stamp));
                arrivalNs_ = static_cast<u64>(stamp.tv_sec) * 1000000000ull + static_cast<u64>(stamp.tv_nsec);
            }
        }
        try {
            std::span<const std::byte> bytes(readBuffer_.data(), static_cast<std::size_t>(count));
            while (!bytes.empty()) {
                bytes = bytes.subspan(parser_.feed(bytes));
                if (parser_.hasFrame()) {
                    onFrame(parser_.takeFrame());
                }
            }
        } catch (const std::exception& problem) {
            fail(problem.what());
            return;
        }
        if (finished_) {
            return;
        }
    }
    flush();
    read();
}

void LoadClient::onFrame(const net::Frame& frame) {
    if (!welcomed_) {
        if (frame.type != net::kServerWelcome) {
            throw std::runtime_error("server did not answer with ServerWelcome");
        }
        const net::ServerWelcomeMessage welcome = net::decodeWelcome(frame.payload);
        sessionId_ = welcome.sessionId;
        net::checkServerSequence(frame, sessionId_, lastServerSequence_);
        welcomed_ = true;
        sendJoin();
        return;
    }
    net::checkServerSequence(frame, sessionId_, lastServerSequence_);
    switch (frame.type) {
    case net::kServerJoined:
        entityId_ = net::decodeJoined(frame.payload).entityId;
        joined_ = true;
        swarm_.joined();
        scheduleCommand();
        return;
    case net::kServerSnapshot: {
        const net::DuelSnapshot snapshot = net::decodeSnapshot(frame.payload);
        if (snapshot.tick <= lastTick_) {
            throw std::runtime_error("snapshot ticks went backwards");
        }
        lastTick_ = snapshot.tick;
        const Clock::time_point now = Clock::now();
        if (lastSnapshotAt_) {
            swarm_.totals.readGaps.record(static_cast<u64>(
                std::chrono::duration_cast<std::chrono::microseconds>(now - *lastSnapshotAt_).count()));
        }
        lastSnapshotAt_ = now;
        if (arrivalNs_ && lastArrivalNs_ && *arrivalNs_ >= *lastArrivalNs_) {
            swarm_.totals.arrivalGaps.record((*arrivalNs_ - *lastArrivalNs_) / 1000);
        }
        lastArrivalNs_ = arrivalNs_;
        ++swarm_.totals.snapshots;
        opponentId_ = 0;
        for (const net::SnapshotPlayer& player : snapshot.players) {
            if (player.entityId != entityId_) {
                opponentId_ = player.entityId;
            }
        }
        return;
    }
    case net::kServerCombatEvents:
        swarm_.totals.events += net::decodeCombatEvents(frame.payload).size();
        return;
    case net::kServerCommandResult: {
        const net::CommandResult result = net::decodeCommandResult(frame.payload);
        if (result.commandSequence != lastResultSequence_ + 1) {
            throw std::runtime_error("command results out of order");
        }
        lastResultSequence_ = result.commandSequence;
        ++(result.accepted ? swarm_.totals.accepted : swarm_.totals.refused);
        return;
    }
    case net::kServerError: throw std::runtime_error(net::decodeServerError(frame.payload));
    default: throw std::runtime_error("unexpected duel server message");
    }
}

void LoadClient::send(u16 type, std::span<const std::byte> payload) {
    net::appendFrame(pending_, type, nextFrameSequence_++, sessionId_, payload);
    flush();
}

void LoadClient::flush() {
    if (writing_ || pending_.empty() || finished_) {
        return;
    }
    inFlight_.clear();
    inFlight_.swap(pending_);
    writing_ = true;
    asio::async_write(socket_, asio::buffer(inFlight_), [self = shared_from_this()](const asio::error_code& error,
                                                                                     std::size_t) {
        self->writing_ = false;
        if (error) {
            self->fail("write failed: " + error.message());
            return;
        }
        self->flush();
    });
}

void LoadClient::scheduleCommand() {
    const u32 intervalMs = swarm_.options().commandIntervalMs;
    timer_.expires_after(std::chrono::milliseconds(std::uniform_int_distribution<u32>(intervalMs / 2, intervalMs * 3 / 2)(random_)));
    timer_.async_wait([self = shared_from_this()](const asio::error_code& error) {
        if (!error && !self->finished_) {
            self->sendRandomCommand();
            self->scheduleCommand();
        }
    });
}

void LoadClient::sendRandomCommand() {
    const u8 characterClass = index_ % 2 == 0 ? net::kWarrior : net::kTemplar;
    const u32 choice = std::uniform_int_distribution<u32>(0, 9)(random_);
    ++commandCounter_;
    std::array<std::byte, net::kCommandBytes> command{};
    if (choice < 4) {
        const f32 angle = std::uniform_real_distribution<f32>(0.0f, 6.2831853f)(random_);
        command = net::encodeCommand(commandCounter_, net::kCommandMove, 0,
                                     static_cast<u16>(net::moveArgument(std::cos(angle), net::kRunSpeedFactor)),
                                     static_cast<u16>(net::moveArgument(std::sin(angle), net::kRunSpeedFactor)), 0);
    } else if (choice < 5) {
        command = net::encodeCommand(commandCounter_, net::kCommandStop, 0, 0, 0, 0);
    } else if (choice < 8) {
        command = net::encodeCommand(commandCounter_, net::kCommandBasicAttack, opponentId_, 0, 0, 1);
    } else {
        const u16 skill = static_cast<u16>((characterClass == net::kWarrior ? net::kSkillWarrior1 : net::kSkillTemplar1) +
                                           (choice - 8));
        command = net::encodeCommand(commandCounter_, net::kCommandUseSkill, opponentId_, 0, 0, skill);
    }
    ++swarm_.totals.commandsSent;
    send(net::kClientCommand, command);
}

std::optional<u32> number(std::string_view text) {
    u32 value = 0;
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<u32>(c - '0');
    }
    return value;
}

LoadOptions parseOptions(int argc, char** argv) {
    LoadOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const std::size_t equals = argument.find('=');
        const std::string_view name = argument.substr(0, equals);
        const std::string_view value = equals == std::string_view::npos ? "" : argument.substr(equals + 1);
        std::optional<u32> parsed = number(value);
        if (name == "--server") {
            const std::size_t colon = value.rfind(':');
            if (colon == std::string_view::npos || !number(value.substr(colon + 1))) {
                throw std::invalid_argument("Invalid --server value: expected HOST:PORT.");
            }
            options.host = std::string(value.substr(0, colon));
            options.port = std::string(value.substr(colon + 1));
        } else if (name == "--clients" && parsed && *parsed >= 1) {
            options.clients = *parsed;
        } else if (name == "--seconds" && parsed && *parsed >= 1) {
            options.seconds = *parsed;
        } else if (name == "--command-interval-ms" && parsed && *parsed >= 2) {
            options.commandIntervalMs = *parsed;
        } else {
            throw std::invalid_argument("Invalid option '" + std::string(argument) + "'.");
        }
    }
    if (options.port.empty()) {
        throw std::invalid_argument("--server=HOST:PORT is required.");
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    LoadOptions options;
    try {
        options = parseOptions(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "kestrune-duel-load: " << error.what() << "\n"
                  << "usage: kestrune-duel-load --server=HOST:PORT [--clients=N] [--seconds=S] "
                     "[--command-interval-ms=N]\n";
        return 2;
    }
    asio::io_context io(1);
    Swarm swarm(io, options);
    try {
        swarm.start();
        io.run();
    } catch (const std::exception& error) {
        std::cerr << "kestrune-duel-load: " << error.what() << "\n";
        return 1;
    }
    const Totals& totals = swarm.totals;
    std::cout << formatText("load: %u clients for %u s, %u joined, %u dropped or refused\n", options.clients,
                            options.seconds, totals.joined, totals.failed);
    std::cout << formatText("load: %llu snapshots; gap between arrivals (kernel receive time) p50 %.1f ms, "
                            "p99 %.1f ms, max %.1f ms\n",
                            static_cast<unsigned long long>(totals.snapshots),
                            static_cast<f64>(totals.arrivalGaps.percentileMicroseconds(0.50)) / 1000.0,
                            static_cast<f64>(totals.arrivalGaps.percentileMicroseconds(0.99)) / 1000.0,
                            static_cast<f64>(totals.arrivalGaps.maxMicroseconds()) / 1000.0);
    std::cout << formatText("load: gap between reads by this program p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
                            static_cast<f64>(totals.readGaps.percentileMicroseconds(0.50)) / 1000.0,
                            static_cast<f64>(totals.readGaps.percentileMicroseconds(0.99)) / 1000.0,
                            static_cast<f64>(totals.readGaps.maxMicroseconds()) / 1000.0);
    std::cout << formatText("load: %llu commands, %llu accepted, %llu refused; %llu combat events\n",
                            static_cast<unsigned long long>(totals.commandsSent),
                            static_cast<unsigned long long>(totals.accepted),
                            static_cast<unsigned long long>(totals.refused),
                            static_cast<unsigned long long>(totals.events));
    for (const std::string& failure : totals.failures) {
        std::cout << "load: " << failure << "\n";
    }
    return totals.joined == options.clients && totals.failed == 0 ? 0 : 1;
}
