#pragma once
// A duel server on a loopback port chosen by the system, run on its own thread, with
// ticks advanced only on demand, and players built on the project's DuelClient. The
// waits below poll until something arrives; their deadline only keeps a broken server
// from hanging the suite and is no timing requirement.

#include <asio.hpp>
#include <cstddef>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/types.h"
#include "duel_server.h"
#include "net/duel_client.h"
#include "net/duel_records.h"
#include "server_log.h"
#include "server_options.h"

namespace kestrune::duel::test {

class ServerHarness {
public:
    // The server listens on port 0 with manual ticks; the rest of `config` is as given.
    explicit ServerHarness(ServerConfig config = {});
    ~ServerHarness();

    u16 port() const noexcept { return port_; }
    // Runs ticks on the server thread and returns the tick number reached.
    u64 advance(u32 ticks);
    ServerCounts counts();
    // Whether the server's log so far holds `text`.
    bool logged(std::string_view text);
    // Stops the server and waits for its thread: every connection is closed by then.
    void stop();

private:
    template <class Action>
    auto onServerThread(Action action) -> decltype(action());

    asio::io_context io_;
    std::ostringstream logStream_;
    ServerLog log_;
    DuelServer server_;
    u16 port_ = 0;
    std::thread thread_;
};

// One player: a DuelClient plus everything it has taken so far.
class Player {
public:
    Player(u16 port, u8 characterClass, std::string_view name = "Player", std::string_view ticket = "");

    net::DuelClient client;
    std::vector<net::CombatEvent> events;
    std::vector<net::CommandResult> results;

    // The newest snapshot once its tick has reached `tick`.
    net::DuelSnapshot snapshotAt(u64 tick);
    net::CommandResult resultFor(u32 commandSequence);
    // Waits until the events taken so far satisfy `count` matching `kind`.
    std::vector<net::CombatEvent> eventsOfKind(u8 kind, std::size_t count);
    // Waits until the session has ended; returns lastError().
    std::string waitForEnd();

private:
    void takeAll();
    std::optional<net::DuelSnapshot> latest_;
};

const net::SnapshotPlayer& playerOfClass(const net::DuelSnapshot& snapshot, u8 characterClass);

}  // namespace kestrune::duel::test
