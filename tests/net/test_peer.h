#pragma once
// A scripted duel server for the client suites: listens on a loopback port chosen by the
// system, accepts one connection on its own thread and runs a script against it. Built
// on the server-side codecs, so it checks every client frame as a real server would.
// Declare the peer before the client it serves: the client's teardown ends the peer's
// last read.

#include <atomic>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/types.h"
#include "net/duel_records.h"
#include "net/frame_codec.h"
#include "net/protocol.h"
#include "net/socket.h"

namespace kestrune::net::test {

inline constexpr u64 kPeerSessionId = 0x0123456789ABCDEFull;
inline constexpr u16 kPeerTickRate = 20;
inline constexpr u32 kPeerEntityId = 7;

// Winsock wants a start per user; elsewhere this does nothing.
class SocketsStarted {
public:
    SocketsStarted() { startSockets(); }
    ~SocketsStarted() { stopSockets(); }
    SocketsStarted(const SocketsStarted&) = delete;
    SocketsStarted& operator=(const SocketsStarted&) = delete;
};

class PeerConnection {
public:
    explicit PeerConnection(Socket socket) : socket_(std::move(socket)) {}

    ClientHelloMessage expectHello();
    ClientJoinMessage expectJoin();
    ClientCommandMessage expectCommand();

    // Sends with the next server sequence in the session.
    void send(u16 type, std::span<const std::byte> payload);
    void sendRaw(std::span<const std::byte> bytes);
    void sendWelcome();
    void sendJoined(u8 characterClass);

    // Hello, welcome, join, joined with the class the client asked for.
    ClientJoinMessage handshake();
    // Reads (and drops) client frames until the client closes its side.
    void waitForClose();
    void close() { socket_.close(); }

private:
    // Receives one client frame of `type` and checks its session and sequence.
    Frame receive(u16 type);

    Socket socket_;
    u64 sessionId_ = 0;  // 0 until the welcome
    u32 nextSequence_ = 1;
    u32 lastClientSequence_ = 0;
    std::vector<std::byte> scratch_;
};

class TestPeer {
public:
    using Script = std::function<void(PeerConnection&)>;

    explicit TestPeer(Script script);
    ~TestPeer();

    u16 port() const noexcept { return port_; }
    // Waits for the script to end; returns what it threw, or "" when it ran through.
    std::string finish();

private:
    SocketsStarted sockets_;
    Socket listener_;
    u16 port_ = 0;
    std::atomic<bool> accepted_{false};
    std::string error_;
    std::thread thread_;
};

// Polls `condition` until it holds. The deadline only keeps a broken client from hanging
// the suite; it is no timing requirement.
bool eventually(const std::function<bool()>& condition);

// Texts that name the platform's error codes.
std::string receiveTimeoutText();
std::string sendTimeoutText();
std::string connectRefusedText();

}  // namespace kestrune::net::test
