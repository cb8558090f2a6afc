#include "test_peer.h"

#include <chrono>
#include <stdexcept>
#include <utility>

#include "net/client_messages.h"
#include "net/frame_io.h"
#include "net/frame_sequence.h"
#include "net/server_messages.h"

namespace kestrune::net::test {
namespace {

constexpr auto kHangGuard = std::chrono::seconds(20);
constexpr auto kPollInterval = std::chrono::milliseconds(1);

void expectType(const Frame& frame, u16 type) {
    if (frame.type != type) {
        throw std::runtime_error("peer expected message type " + std::to_string(type) + ", received " +
                                 std::to_string(frame.type));
    }
}

}  // namespace

Frame PeerConnection::receive() {
    Frame frame = receiveFrame(socket_);
    checkClientSequence(frame, clientSessionId_, lastClientSequence_);
    return frame;
}

ClientHelloMessage PeerConnection::expectHello() {
    const Frame frame = receive();
    expectType(frame, kClientHello);
    return decodeHello(frame.payload);
}

ClientJoinMessage PeerConnection::expectJoin() {
    const Frame frame = receive();
    expectType(frame, kClientJoin);
    return decodeJoin(frame.payload);
}

ClientCommandMessage PeerConnection::expectCommand(u32* frameSequence) {
    const Frame frame = receive();
    expectType(frame, kClientCommand);
    if (frameSequence != nullptr) {
        *frameSequence = frame.sequence;
    }
    return decodeCommand(frame.payload);
}

void PeerConnection::send(u16 type, std::span<const std::byte> payload) {
    sendFrame(type, nextSequence++, sessionId, payload);
}

void PeerConnection::sendFrame(u16 type, u32 sequence, u64 frameSessionId, std::span<const std::byte> payload) {
    net::sendFrame(socket_, scratch_, type, sequence, frameSessionId, payload);
}

void PeerConnection::sendRaw(std::span<const std::byte> bytes) { sendAll(socket_, bytes); }

void PeerConnection::sendWelcome(u64 welcomeSessionId, u16 tickRate) {
    sessionId = welcomeSessionId;
    clientSessionId_ = welcomeSessionId;
    send(kServerWelcome, encodeWelcome(ServerWelcomeMessage{welcomeSessionId, tickRate, 0}));
}

void PeerConnection::sendJoined(u8 characterClass, u32 entityId) {
    send(kServerJoined, encodeJoined(ServerJoinedMessage{entityId, characterClass, 0, 0}));
}

ClientJoinMessage PeerConnection::handshake() {
    expectHello();
    sendWelcome();
    const ClientJoinMessage join = expectJoin();
    sendJoined(join.characterClass);
    return join;
}

void PeerConnection::waitForClose() {
    try {
        for (;;) {
            receiveFrame(socket_);
        }
    } catch (const std::runtime_error&) {
        // Closed, or reset because the client closed with our frames unread: either way gone.
    }
}

TestPeer::TestPeer(Script script) {
    listener_ = listenOnLoopback(port_);
    thread_ = std::thread([this, script = std::move(script)] {
        try {
            PeerConnection connection(acceptConnection(listener_));
            accepted_.store(true);
            script(connection);
        } catch (const std::exception& error) {
            error_ = error.what();
        }
    });
}

TestPeer::~TestPeer() {
    if (thread_.joinable()) {
        if (!accepted_.load()) {
            // The client never came: satisfy the accept so the thread can end.
            try {
                Socket poke = connectTcp("127.0.0.1", port_);
            } catch (const std::exception&) {
            }
        }
        thread_.join();
    }
}

std::string TestPeer::finish() {
    if (thread_.joinable()) {
        thread_.join();
    }
    return error_;
}

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

}  // namespace kestrune::net::test
