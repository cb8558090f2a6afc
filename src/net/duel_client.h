#pragma once
// The duel client session: one TCP connection to the duel server. connect() resolves,
// connects and joins synchronously on the calling thread, then a receive thread checks and
// decodes every server frame into a snapshot slot (newest wins) and two queues. The owning
// thread drains them with the take operations and sends commands; nothing it calls blocks
// on the network except connect() and a send, which fails once the send buffer has had no
// room for kSendTimeoutMs.
//
// Threads: connect, teardown, the senders and the take operations belong to the owning
// thread. stateMutex_ guards the slot, the queues and lastError_; lifecycleMutex_
// serialises teardown with command sending and is never taken by the receive thread, so
// teardown can join it. Errors after the join end the session (isRunning() turns false,
// lastError() says why); they never leave as exceptions.

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/microsecond_histogram.h"
#include "base/types.h"
#include "net/duel_records.h"
#include "net/socket.h"

namespace kestrune::net {

// Every blocking read of the handshake gives up after this long without data.
inline constexpr u32 kHandshakeReceiveTimeoutMs = 5000;
// A send waits only while the send buffer is full, that is when the server has taken none of
// many commands and has stopped reading. One that finds no room for this long fails and ends
// the session rather than hold the main thread until the connection drops.
inline constexpr u32 kSendTimeoutMs = 1000;
// Send times kept for matching results to their commands: results later than this many
// commands are not timed.
inline constexpr u32 kTimedCommands = 1024;
// Round trips are counted in 0.1 ms buckets up to 2 s.
inline constexpr u64 kRoundTripBucketMicroseconds = 100;
inline constexpr std::size_t kRoundTripBuckets = 20000;

// How the session has been doing, since the join.
struct DuelClientStatistics {
    u64 snapshotsReceived = 0;
    f64 snapshotsPerSecond = 0.0;  // from the first snapshot received to the last
    u64 commandsSent = 0;
    u64 roundTrips = 0;  // commands whose result arrived, timed from their send
    f64 roundTripAverageMs = 0.0;
    f64 roundTripP99Ms = 0.0;
    f64 roundTripMaxMs = 0.0;

    friend bool operator==(const DuelClientStatistics&, const DuelClientStatistics&) = default;
};

class DuelClient {
public:
    DuelClient() = default;
    ~DuelClient();
    DuelClient(const DuelClient&) = delete;
    DuelClient& operator=(const DuelClient&) = delete;

    // `characterClass` is the wire value (1 warrior, 2 templar). Returns after a successful
    // join; otherwise throws (std::invalid_argument for bad arguments, before any network
    // activity; std::runtime_error for the network and the peer) with the object torn down.
    void connect(const std::string& host, u16 port, u8 characterClass, std::string_view characterName,
                 std::string_view gameTicket);

    // Ends any session: wakes and joins the receive thread, then closes the socket. Leaves
    // the queues and lastError() for the owner; a later connect() clears them.
    void teardown();

    bool isRunning() const noexcept { return running_.load(); }
    u32 localEntityId() const noexcept { return localEntityId_.load(); }
    u16 tickRate() const noexcept { return tickRate_.load(); }
    u32 lastSentCommandSequence() const noexcept { return lastSentCommandSequence_.load(); }

    std::optional<DuelSnapshot> takeSnapshot();
    std::optional<DuelSnapshot> peekSnapshot() const;
    std::vector<CombatEvent> takeCombatEvents();
    std::vector<CommandResult> takeCommandResults();
    std::string lastError() const;
    DuelClientStatistics statistics() const;

    // Each returns true when the command was sent completely; false when no session is
    // running or the send failed (which ends the session).
    bool sendMove(i16 a, i16 b);
    bool sendStop();
    bool sendBasicAttack(u32 targetEntityId);
    bool sendSkill(u32 targetEntityId, u16 skill);

private:
    void join(const std::string& host, u16 port, u8 characterClass, std::string_view characterName,
              std::string_view gameTicket);
    void receiveLoop();
    bool sendCommand(u8 kind, u32 targetEntityId, u16 a, u16 b, u16 c);
    // Clears running_; only the caller that cleared it records why the session ended.
    void stopWithError(const char* text);
    void storeSnapshot(DuelSnapshot snapshot);
    void appendCombatEvents(std::vector<CombatEvent> events);

    Socket socket_;
    std::atomic<bool> running_{false};
    bool socketsStarted_ = false;
    std::thread receiveThread_;
    std::mutex lifecycleMutex_;
    mutable std::mutex stateMutex_;
    std::optional<DuelSnapshot> latestSnapshot_;
    std::vector<CombatEvent> combatEvents_;
    std::vector<CommandResult> commandResults_;
    std::string lastError_;
    struct SentCommand {
        u32 commandSequence = 0;
        u64 sentNs = 0;
    };
    std::array<SentCommand, kTimedCommands> sentCommands_{};
    MicrosecondHistogram roundTrips_{kRoundTripBucketMicroseconds, kRoundTripBuckets};
    u64 snapshotsReceived_ = 0;
    u64 firstSnapshotNs_ = 0;
    u64 lastSnapshotNs_ = 0;
    u64 commandsSent_ = 0;
    std::atomic<u32> localEntityId_{0};
    std::atomic<u16> tickRate_{0};
    std::atomic<u32> lastSentCommandSequence_{0};
    u64 sessionId_ = 0;
    u32 nextFrameSequence_ = 1;
    u32 lastServerSequence_ = 0;
    u32 commandCounter_ = 0;
    std::vector<std::byte> sendBuffer_;  // the handshake's, then lifecycleMutex_'s
};

}  // namespace kestrune::net
