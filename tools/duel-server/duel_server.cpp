#include "duel_server.h"

#include <algorithm>
#include <array>
#include <asio.hpp>
#include <chrono>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "client_link.h"
#include "cpu_clock.h"
#include "duel_bot.h"
#include "duel_rules.h"
#include "net/protocol.h"
#include "net/server_messages.h"
#include "server_log.h"

namespace kestrune::duel {
namespace {

using asio::ip::tcp;

constexpr std::size_t kReadChunkBytes = 4096;
// Far above what a person or a bot sends (the rules refuse more than 8 per tick); a
// client past this is flooding and is closed.
constexpr u32 kCommandFloodPerTick = 64;
// Connections beyond two per duel: clients still in their handshake.
constexpr std::size_t kSpareConnections = 64;
// How long a refused client gets to take its ServerError before the socket is closed.
constexpr u32 kRefusalLingerMs = 2000;
constexpr u32 kAcceptRetryMs = 100;
// A loop that falls further behind than this stops catching up and restarts its schedule.
constexpr u64 kMaxTicksBehind = 5;
constexpr u64 kTickCpuBucketMicroseconds = 10;
constexpr std::size_t kTickCpuBuckets = 10000;  // up to 100 ms per tick

const char* className(u8 characterClass) noexcept {
    return characterClass == net::kWarrior ? "warrior" : "templar";
}

u8 otherClass(u8 characterClass) noexcept {
    return characterClass == net::kWarrior ? net::kTemplar : net::kWarrior;
}

std::size_t seatOf(u8 characterClass) noexcept { return characterClass == net::kTemplar ? 1 : 0; }

// Character names are the client's bytes: control characters would forge log lines.
std::string printable(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '"' || c == '\\') {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

class Connection;

struct Room {
    Room(u32 roomId, u16 tickRate) : id(roomId), duel(tickRate) {}

    bool occupied(std::size_t seat) const noexcept { return humans[seat] != nullptr || bots[seat].has_value(); }
    // One player waits and the other seat is free.
    bool waiting() const noexcept {
        return (humans[0] != nullptr) != (humans[1] != nullptr) && !bots[0] && !bots[1];
    }

    u32 id;
    Duel duel;
    std::array<Connection*, 2> humans{};
    std::array<std::optional<DuelBot>, 2> bots;
};

struct DuelServer::Impl {
    Impl(asio::io_context& context, ServerConfig serverConfig, ServerLog& serverLog);

    void accept();
    void onAccepted(tcp::socket socket);
    void join(Connection& connection, const net::ClientJoinMessage& join);
    void command(Connection& connection, const net::ClientCommandMessage& command);
    void seatBot(Room& room, u8 characterClass);
    void retire(std::shared_ptr<Connection> connection);
    void reap();
    void leaveRoom(Connection& connection);
    void scheduleTick();
    void runTick();
    void stop();
    u32 takeEntityId() noexcept;
    u64 takeSessionId();

    asio::io_context& io;
    ServerConfig config;
    ServerLog& log;
    tcp::acceptor acceptor;
    asio::steady_timer tickTimer;
    asio::steady_timer acceptRetryTimer;
    std::unordered_map<u64, std::shared_ptr<Connection>> connections;
    std::vector<std::unique_ptr<Room>> rooms;
    std::vector<std::shared_ptr<Connection>> retired;
    bool reapPosted = false;
    bool started = false;
    bool stopping = false;
    std::size_t maxConnections;
    u16 boundPort = 0;
    u64 nextConnectionId = 1;
    u32 nextEntityId = 1;
    u32 nextDuelId = 1;
    u64 tick = 0;
    std::mt19937_64 sessionIds{std::random_device{}()};
    std::chrono::steady_clock::time_point scheduleStart;
    u64 ticksSinceScheduleStart = 0;
    // Scratch of the tick, kept so that a running server encodes without allocating.
    net::DuelSnapshot snapshot;
    std::vector<std::byte> snapshotPayload;
    std::vector<std::byte> eventsPayload;
    MicrosecondHistogram tickCpu{kTickCpuBucketMicroseconds, kTickCpuBuckets};
    MicrosecondHistogram tickLateness{kTickCpuBucketMicroseconds, kTickCpuBuckets};
};

// ---- Section: Connection ----

class Connection : public std::enable_shared_from_this<Connection>, public ClientLinkHandler {
public:
    Connection(DuelServer::Impl& server, u64 connectionId, tcp::socket socket, std::string peerName)
        : id(connectionId),
          peer(std::move(peerName)),
          server_(server),
          socket_(std::move(socket)),
          link_(server.takeSessionId(), server.config.tickRate, server.config.writeQueueLimitBytes),
          deadline_(server.io) {}

    void start() {
        deadline_.expires_after(std::chrono::milliseconds(server_.config.handshakeTimeoutMs));
        deadline_.async_wait([self = shared_from_this()](const asio::error_code& error) {
            if (!error && self->open_ && self->link_.phase() != LinkPhase::Joined) {
                self->close("no hello and join within " + std::to_string(self->server_.config.handshakeTimeoutMs) +
                            " ms");
            }
        });
        read();
    }

    bool isOpen() const noexcept { return open_; }
    const std::string& gameTicket() const noexcept { return link_.gameTicket(); }

    void logEvent(std::string_view text) const {
        server_.log.line("connection " + std::to_string(id) + " " + peer + ": " + std::string(text));
    }

    // Queues one frame; a client whose queue is full is not reading and is dropped.
    void send(u16 type, std::span<const std::byte> payload) {
        if (open_ && !link_.send(type, payload)) {
            close("write queue full (" + std::to_string(server_.config.writeQueueLimitBytes) +
                  " bytes): the client is not reading");
        }
    }

    void joined(u32 joinedEntityId, u8 joinedClass, u32 duelId) {
        link_.joined(joinedEntityId, joinedClass, duelId);
        deadline_.cancel();
        if (link_.phase() != LinkPhase::Joined) {
            close("write queue full while joining");
        }
    }

    // Sends a ServerError, stops reading, and closes once the error is out.
    void refuse(u16 code, const std::string& text) {
        if (!open_ || closingAfterFlush_) {
            return;
        }
        logEvent("refused with error " + std::to_string(code) + ": " + text);
        link_.refuse(code, text);
        closingAfterFlush_ = true;
        deadline_.expires_after(std::chrono::milliseconds(kRefusalLingerMs));
        deadline_.async_wait([self = shared_from_this()](const asio::error_code& error) {
            if (!error) {
                self->close("");
            }
        });
        flush();
    }

    void flush() {
        if (!open_ || writing_) {
            return;
        }
        if (!link_.hasOutput()) {
            if (closingAfterFlush_) {
                close("");
            }
            return;
        }
        link_.takeOutput(inFlight_);
        // A tick's frames nearly always fit the socket buffer: write them at once, and
        // only hand a remainder to the event loop, saving a completion per client and tick.
        asio::error_code error;
        const std::size_t written = socket_.write_some(asio::buffer(inFlight_), error);
        if (error && error != asio::error::would_block && error != asio::error::try_again) {
            close("write failed: " + error.message());
            return;
        }
        if (!error && written == inFlight_.size()) {
            if (closingAfterFlush_) {
                close("");
            }
            return;
        }
        inFlight_.erase(inFlight_.begin(), inFlight_.begin() + static_cast<std::ptrdiff_t>(error ? 0 : written));
        writing_ = true;
        asio::async_write(socket_, asio::buffer(inFlight_),
                          [self = shared_from_this()](const asio::error_code& writeError, std::size_t) {
                              self->writing_ = false;
                              if (writeError) {
                                  if (writeError != asio::error::operation_aborted) {
                                      self->close("write failed: " + writeError.message());
                                  }
                                  return;
                              }
                              self->flush();
                          });
    }

    // Closes the socket at once; an empty reason logs nothing (the refusal was logged).
    void close(const std::string& reason) {
        if (!open_) {
            return;
        }
        open_ = false;
        if (!reason.empty()) {
            logEvent("closed: " + reason);
        }
        asio::error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
        deadline_.cancel();
        server_.retire(shared_from_this());
    }

    // ---- ClientLinkHandler ----
    void onHello(const net::ClientHelloMessage&) override {}
    void onJoin(const net::ClientJoinMessage& join) override { server_.join(*this, join); }
    void onCommand(const net::ClientCommandMessage& command) override {
        if (open_) {
            server_.command(*this, command);
        }
    }

    const u64 id;
    const std::string peer;
    Room* room = nullptr;
    u8 characterClass = 0;
    u32 entityId = 0;
    u32 commandsThisTick = 0;

private:
    void read() {
        socket_.async_read_some(asio::buffer(readBuffer_),
                                [self = shared_from_this()](const asio::error_code& error, std::size_t count) {
                                    self->onRead(error, count);
                                });
    }

    void onRead(const asio::error_code& error, std::size_t count) {
        if (!open_ || closingAfterFlush_) {
            return;
        }
        if (error == asio::error::eof) {
            close(link_.atFrameBoundary() ? "the client closed the connection"
                                          : "the client closed the connection in the middle of a frame");
            return;
        }
        if (error) {
            if (error != asio::error::operation_aborted) {
                close("read failed: " + error.message());
            }
            return;
        }
        try {
            link_.receive(std::span<const std::byte>(readBuffer_.data(), count), *this);
        } catch (const std::runtime_error& violation) {
            refuse(kErrorProtocol, violation.what());
            return;
        }
        if (!open_ || closingAfterFlush_) {
            return;
        }
        flush();
        read();
    }

    DuelServer::Impl& server_;
    tcp::socket socket_;
    ClientLink link_;
    asio::steady_timer deadline_;
    std::array<std::byte, kReadChunkBytes> readBuffer_{};
    std::vector<std::byte> inFlight_;
    bool open_ = true;
    bool writing_ = false;
    bool closingAfterFlush_ = false;
};

// ---- Section: Server ----

DuelServer::Impl::Impl(asio::io_context& context, ServerConfig serverConfig, ServerLog& serverLog)
    : io(context),
      config(std::move(serverConfig)),
      log(serverLog),
      acceptor(context),
      tickTimer(context),
      acceptRetryTimer(context),
      maxConnections(std::size_t{config.maxDuels} * 2 + kSpareConnections) {
    const std::string address = config.host + ":" + std::to_string(config.port);
    try {
        const tcp::resolver::results_type endpoints =
            tcp::resolver(context).resolve(config.host, std::to_string(config.port),
                                           tcp::resolver::passive | tcp::resolver::numeric_service);
        const tcp::endpoint endpoint = *endpoints.begin();
        acceptor.open(endpoint.protocol());
        acceptor.set_option(tcp::acceptor::reuse_address(true));
        acceptor.bind(endpoint);
        acceptor.listen(asio::socket_base::max_listen_connections);
        boundPort = acceptor.local_endpoint().port();
    } catch (const std::system_error& error) {
        throw std::runtime_error("Unable to listen on " + address + ": " + error.code().message() + ".");
    }
}

u32 DuelServer::Impl::takeEntityId() noexcept {
    const u32 id = nextEntityId;
    nextEntityId = nextEntityId == net::kLastSequence ? 1 : nextEntityId + 1;  // 0 means none
    return id;
}

u64 DuelServer::Impl::takeSessionId() {
    u64 id = 0;
    while (id == 0) {
        id = sessionIds();
    }
    return id;
}

void DuelServer::Impl::accept() {
    acceptor.async_accept([this](const asio::error_code& error, tcp::socket socket) {
        if (stopping || error == asio::error::operation_aborted) {
            return;
        }
        if (error) {
            // Out of descriptors, for example: try again shortly instead of spinning.
            log.line("accept failed: " + error.message());
            acceptRetryTimer.expires_after(std::chrono::milliseconds(kAcceptRetryMs));
            acceptRetryTimer.async_wait([this](const asio::error_code& waitError) {
                if (!waitError && !stopping) {
                    accept();
                }
            });
            return;
        }
        onAccepted(std::move(socket));
        accept();
    });
}

void DuelServer::Impl::onAccepted(tcp::socket socket) {
    asio::error_code error;
    const tcp::endpoint remote = socket.remote_endpoint(error);
    const std::string peer =
        error ? std::string("(unknown peer)") : remote.address().to_string() + ":" + std::to_string(remote.port());
    if (connections.size() >= maxConnections) {
        log.line("connection from " + peer + " refused: " + std::to_string(connections.size()) +
                 " connections are open");
        socket.close(error);
        return;
    }
    socket.set_option(tcp::no_delay(true), error);
    socket.non_blocking(true, error);  // for the direct writes of Connection::flush
    const u64 id = nextConnectionId++;
    auto connection = std::make_shared<Connection>(*this, id, std::move(socket), peer);
    connections.emplace(id, connection);
    connection->logEvent("accepted");
    connection->start();
}

void DuelServer::Impl::join(Connection& connection, const net::ClientJoinMessage& join) {
    if (config.tickets && !config.tickets->contains(connection.gameTicket())) {
        connection.refuse(kErrorTicketRefused, "game ticket is not accepted by this server");
        return;
    }
    const u8 joinClass = join.characterClass;
    const std::size_t seat = seatOf(joinClass);
    Room* room = nullptr;
    bool classTaken = false;
    for (const std::unique_ptr<Room>& candidate : rooms) {
        if (candidate->waiting()) {
            if (!candidate->occupied(seat)) {
                room = candidate.get();
                break;
            }
            classTaken = true;
        }
    }
    if (room == nullptr) {
        if (classTaken) {
            connection.refuse(kErrorClassTaken, std::string("the ") + className(joinClass) +
                                                    " seat of the waiting duel is taken; join as " +
                                                    className(otherClass(joinClass)) + " or try again later");
            return;
        }
        if (rooms.size() >= config.maxDuels) {
            connection.refuse(kErrorServerFull,
                              "server is full: its limit of " + std::to_string(config.maxDuels) + " running duels is reached");
            return;
        }
        rooms.push_back(std::make_unique<Room>(nextDuelId++, config.tickRate));
        room = rooms.back().get();
    }
    connection.room = room;
    connection.characterClass = joinClass;
    connection.entityId = takeEntityId();
    room->humans[seat] = &connection;
    room->duel.seat(joinClass, connection.entityId);
    connection.joined(connection.entityId, joinClass, room->id);
    connection.logEvent("joined duel " + std::to_string(room->id) + " as " + className(joinClass) + " " +
                        printable(join.characterName) + ", entity " + std::to_string(connection.entityId));
    if (config.bot && !room->occupied(1 - seat)) {
        seatBot(*room, otherClass(joinClass));
    }
}

void DuelServer::Impl::seatBot(Room& room, u8 characterClass) {
    const u32 entityId = takeEntityId();
    room.bots[seatOf(characterClass)].emplace(characterClass, config.tickRate, config.idleBot);
    room.duel.seat(characterClass, entityId);
    log.line("duel " + std::to_string(room.id) + ": " + (config.idleBot ? "an idle bot" : "a bot") + " joins as " +
             className(characterClass) + ", entity " + std::to_string(entityId));
}

void DuelServer::Impl::command(Connection& connection, const net::ClientCommandMessage& command) {
    if (++connection.commandsThisTick > kCommandFloodPerTick) {
        connection.refuse(kErrorProtocol, "more than " + std::to_string(kCommandFloodPerTick) +
                                              " commands in one tick");
        return;
    }
    const u16 reason = connection.room->duel.apply(connection.characterClass, command);
    const net::CommandResult result{command.commandSequence, reason == kAccepted, reason, tick};
    connection.send(net::kServerCommandResult, net::encodeCommandResult(result));
}

void DuelServer::Impl::retire(std::shared_ptr<Connection> connection) {
    retired.push_back(std::move(connection));
    // Seats are given up outside the handler that closed the connection, which may be
    // in the middle of a tick's walk over the rooms.
    if (!reapPosted) {
        reapPosted = true;
        asio::post(io, [this] { reap(); });
    }
}

void DuelServer::Impl::reap() {
    reapPosted = false;
    std::vector<std::shared_ptr<Connection>> closing;
    closing.swap(retired);
    for (const std::shared_ptr<Connection>& connection : closing) {
        leaveRoom(*connection);
        connections.erase(connection->id);
    }
}

void DuelServer::Impl::leaveRoom(Connection& connection) {
    Room* room = connection.room;
    if (room == nullptr) {
        return;
    }
    connection.room = nullptr;
    const std::size_t seat = seatOf(connection.characterClass);
    room->humans[seat] = nullptr;
    room->duel.vacate(connection.characterClass);
    if (room->humans[1 - seat] != nullptr) {
        if (config.bot && !stopping) {
            seatBot(*room, connection.characterClass);
        } else {
            log.line("duel " + std::to_string(room->id) + ": waiting for a new " +
                     className(connection.characterClass));
        }
        return;
    }
    log.line("duel " + std::to_string(room->id) + " ended");
    const auto found = std::find_if(rooms.begin(), rooms.end(),
                                    [room](const std::unique_ptr<Room>& candidate) { return candidate.get() == room; });
    std::swap(*found, rooms.back());
    rooms.pop_back();
}

void DuelServer::Impl::scheduleTick() {
    const u64 offsetNs = ticksSinceScheduleStart * 1000000000ull / config.tickRate;
    const auto due = scheduleStart + std::chrono::nanoseconds(offsetNs);
    tickTimer.expires_at(due);
    tickTimer.async_wait([this, due](const asio::error_code& error) {
        if (error || stopping) {
            return;
        }
        const auto lateness = std::chrono::steady_clock::now() - due;
        tickLateness.record(static_cast<u64>(std::chrono::duration_cast<std::chrono::microseconds>(lateness).count()));
        runTick();
        ++ticksSinceScheduleStart;
        const auto now = std::chrono::steady_clock::now();
        const auto behind = now - due;
        if (behind > std::chrono::nanoseconds(kMaxTicksBehind * 1000000000ull / config.tickRate)) {
            scheduleStart = now;
            ticksSinceScheduleStart = 1;
        }
        scheduleTick();
    });
}

void DuelServer::Impl::runTick() {
    const u64 cpuStart = threadCpuMicroseconds();
    ++tick;
    for (const std::unique_ptr<Room>& room : rooms) {
        for (std::optional<DuelBot>& bot : room->bots) {
            if (bot) {
                bot->think(room->duel);
            }
        }
        room->duel.step();
        room->duel.writeSnapshot(tick, snapshot);
        net::encodeSnapshot(snapshot, snapshotPayload);
        const std::span<const net::CombatEvent> events = room->duel.events();
        if (!events.empty()) {
            net::encodeCombatEvents(events, eventsPayload);
        }
        for (Connection* human : room->humans) {
            if (human == nullptr) {
                continue;
            }
            human->commandsThisTick = 0;
            human->send(net::kServerSnapshot, snapshotPayload);
            if (!events.empty()) {
                human->send(net::kServerCombatEvents, eventsPayload);
            }
            human->flush();
        }
        room->duel.clearEvents();
    }
    tickCpu.record(threadCpuMicroseconds() - cpuStart);
}

void DuelServer::Impl::stop() {
    if (stopping) {
        return;
    }
    stopping = true;
    asio::error_code ignored;
    acceptor.close(ignored);
    tickTimer.cancel();
    acceptRetryTimer.cancel();
    std::vector<std::shared_ptr<Connection>> open;
    for (const auto& [id, connection] : connections) {
        open.push_back(connection);
    }
    for (const std::shared_ptr<Connection>& connection : open) {
        connection->close("the server is stopping");
    }
    log.line("server stopped after " + std::to_string(tick) + " ticks");
}

// ---- Section: DuelServer ----

DuelServer::DuelServer(asio::io_context& io, ServerConfig config, ServerLog& log)
    : impl_(std::make_unique<Impl>(io, std::move(config), log)) {}

DuelServer::~DuelServer() = default;

u16 DuelServer::port() const noexcept { return impl_->boundPort; }

void DuelServer::start() {
    if (impl_->started) {
        return;
    }
    impl_->started = true;
    impl_->log.line("listening on " + impl_->config.host + ":" + std::to_string(port()) + " at " +
                    std::to_string(impl_->config.tickRate) + " ticks per second" +
                    (impl_->config.bot ? ", with bots" : ""));
    impl_->accept();
    if (!impl_->config.manualTicks) {
        impl_->scheduleStart = std::chrono::steady_clock::now();
        impl_->ticksSinceScheduleStart = 1;
        impl_->scheduleTick();
    }
}

void DuelServer::stop() { impl_->stop(); }

void DuelServer::advanceTicks(u32 count) {
    for (u32 i = 0; i < count; ++i) {
        impl_->runTick();
    }
}

ServerCounts DuelServer::counts() const noexcept {
    ServerCounts out;
    out.connections = impl_->connections.size();
    out.duels = impl_->rooms.size();
    for (const std::unique_ptr<Room>& room : impl_->rooms) {
        out.bots += static_cast<std::size_t>(room->bots[0].has_value()) + room->bots[1].has_value();
    }
    out.tick = impl_->tick;
    return out;
}

const MicrosecondHistogram& DuelServer::tickCpu() const noexcept { return impl_->tickCpu; }
const MicrosecondHistogram& DuelServer::tickLateness() const noexcept { return impl_->tickLateness; }

}  // namespace kestrune::duel
