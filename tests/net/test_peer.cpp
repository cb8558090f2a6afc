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

// Only a hang waits this long; under Wine on a busy machine filling a socket's buffers with
// one small send after another has taken close to 20 s.
constexpr auto kHangGuard = std::chrono::seconds(90);
constexpr auto kPollInterval = std::chrono::milliseconds(1);

}  // namespace

Frame PeerConnection::receive(u16 type) {
    Frame frame = receiveFrame(socket_);
    checkClientSequence(frame, sessionId_, lastClientSequence_);
    if (frame.type != type) {
        throw std::runtime_error("peer expected message type " + std::to_string(type) + ", received " +
                                 std::to_string(frame.type));
    }
    return frame;
}

ClientHelloMessage PeerConnection::expectHello() { return decodeHello(receive(kClientHello).payload); }

ClientJoinMessage PeerConnection::expectJoin() { return decodeJoin(receive(kClientJoin).payload); }

ClientCommandMessage PeerConnection::expectCommand() { return decodeCommand(receive(kClientCommand).payload); }

void PeerConnection::send(u16 type, std::span<const std::byte> payload) {
    sendFrame(socket_, scratch_, type, nextSequence_++, sessionId_, payload);
}

void PeerConnection::sendRaw(std::span<const std::byte> bytes) { sendAll(socket_, bytes); }

void PeerConnection::sendWelcome() {
    sessionId_ = kPeerSessionId;
    send(kServerWelcome, encodeWelcome(ServerWelcomeMessage{kPeerSessionId, kPeerTickRate, 0}));
}

void PeerConnection::sendJoined(u8 characterClass) {
    send(kServerJoined, encodeJoined(ServerJoinedMessage{kPeerEntityId, characterClass, 0, 0}));
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
        for (;;) receiveFrame(socket_);
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
    if (thread_.joinable() && !accepted_.load()) {
        // The client never came: satisfy the accept so the thread can end.
        try {
            Socket poke = connectTcp("127.0.0.1", port_);
        } catch (const std::exception&) {
        }
    }
    finish();
}

std::string TestPeer::finish() {
    if (thread_.joinable()) thread_.join();
    return error_;
}

bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

}  // namespace kestrune::net::test
