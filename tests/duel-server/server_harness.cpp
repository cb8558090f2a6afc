#include "server_harness.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <iterator>
#include <stdexcept>

#include "net/test_peer.h"

namespace kestrune::duel::test {
namespace {

using net::test::eventually;

constexpr auto kServerAnswerGuard = std::chrono::seconds(30);

void waitFor(const std::string& failure, const std::function<bool()>& condition) {
    if (!eventually(condition)) throw std::runtime_error(failure);
}

ServerConfig onLoopback(ServerConfig config) {
    config.port = 0;
    config.manualTicks = true;
    return config;
}

}  // namespace

ServerHarness::ServerHarness(ServerConfig config)
    : log_(logStream_), server_(io_, onLoopback(std::move(config)), log_) {
    port_ = server_.port();
    server_.start();
    thread_ = std::thread([this] { io_.run(); });
}

ServerHarness::~ServerHarness() { stop(); }

template <class Action>
auto ServerHarness::onServerThread(Action action) -> decltype(action()) {
    std::packaged_task<decltype(action())()> task(std::move(action));
    auto answer = task.get_future();
    asio::post(io_, [&task] { task(); });
    if (answer.wait_for(kServerAnswerGuard) != std::future_status::ready) {
        throw std::runtime_error("the server thread did not answer");
    }
    return answer.get();
}

u64 ServerHarness::advance(u32 ticks) {
    return onServerThread([this, ticks] {
        server_.advanceTicks(ticks);
        return server_.counts().tick;
    });
}

ServerCounts ServerHarness::counts() { return onServerThread([this] { return server_.counts(); }); }

bool ServerHarness::logged(std::string_view text) {
    const std::string log = thread_.joinable() ? onServerThread([this] { return logStream_.str(); }) : logStream_.str();
    return log.find(text) != std::string::npos;
}

void ServerHarness::stop() {
    if (!thread_.joinable()) return;
    asio::post(io_, [this] { server_.stop(); });
    thread_.join();
}

Player::Player(u16 port, u8 characterClass, std::string_view name, std::string_view ticket) {
    client.connect("127.0.0.1", port, characterClass, name, ticket);
}

void Player::takeAll() {
    if (std::optional<net::DuelSnapshot> snapshot = client.takeSnapshot()) latest_ = std::move(snapshot);
    std::ranges::copy(client.takeCombatEvents(), std::back_inserter(events));
    std::ranges::copy(client.takeCommandResults(), std::back_inserter(results));
}

net::DuelSnapshot Player::snapshotAt(u64 tick) {
    waitFor("no snapshot of tick " + std::to_string(tick) + " arrived", [&] {
        takeAll();
        return latest_ && latest_->tick >= tick;
    });
    return *latest_;
}

net::CommandResult Player::resultFor(u32 commandSequence) {
    const auto matches = [&](const net::CommandResult& result) { return result.commandSequence == commandSequence; };
    waitFor("no result for command " + std::to_string(commandSequence) + " arrived", [&] {
        takeAll();
        return std::any_of(results.begin(), results.end(), matches);
    });
    return *std::find_if(results.begin(), results.end(), matches);
}

std::vector<net::CombatEvent> Player::eventsOfKind(u8 kind, std::size_t count) {
    std::vector<net::CombatEvent> found;
    waitFor("fewer than " + std::to_string(count) + " events of kind " + std::to_string(kind) + " arrived", [&] {
        takeAll();
        found.clear();
        std::ranges::copy_if(events, std::back_inserter(found),
                             [&](const net::CombatEvent& event) { return event.kind == kind; });
        return found.size() >= count;
    });
    return found;
}

std::string Player::waitForEnd() {
    waitFor("the session did not end", [&] { return !client.isRunning(); });
    return client.lastError();
}

const net::SnapshotPlayer& playerOfClass(const net::DuelSnapshot& snapshot, u8 characterClass) {
    const auto found = std::ranges::find(snapshot.players, characterClass, &net::SnapshotPlayer::characterClass);
    if (found != snapshot.players.end()) return *found;
    throw std::runtime_error("the snapshot has no player of class " + std::to_string(characterClass));
}

}  // namespace kestrune::duel::test
