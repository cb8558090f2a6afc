#include "net/frame_io.h"

#include <array>
#include <stdexcept>

namespace kestrune::net {

void sendAll(Socket& socket, std::span<const std::byte> bytes) {
    std::size_t sentBytes = 0;
    while (sentBytes < bytes.size()) {
        const i64 sent = sendSome(socket, bytes.data() + sentBytes, bytes.size() - sentBytes);
        if (sent <= 0) {
            throw std::runtime_error(socketErrorText("send"));
        }
        sentBytes += static_cast<std::size_t>(sent);
    }
}

void sendFrame(Socket& socket, std::vector<std::byte>& scratch, u16 type, u32 sequence, u64 sessionId,
               std::span<const std::byte> payload) {
    encodeFrame(scratch, type, sequence, sessionId, payload);
    sendAll(socket, scratch);
}

void receiveExactly(Socket& socket, std::span<std::byte> bytes) {
    std::size_t receivedBytes = 0;
    while (receivedBytes < bytes.size()) {
        const i64 received = receiveSome(socket, bytes.data() + receivedBytes, bytes.size() - receivedBytes);
        if (received < 0) {
            throw std::runtime_error(socketErrorText("recv"));
        }
        if (received == 0) {
            throw std::runtime_error("duel server closed the connection");
        }
        receivedBytes += static_cast<std::size_t>(received);
    }
}

Frame receiveFrame(Socket& socket) {
    std::array<std::byte, kFrameHeaderBytes> headerBytes{};
    receiveExactly(socket, headerBytes);
    const FrameHeader header = decodeFrameHeader(headerBytes);
    Frame frame;
    frame.type = header.type;
    frame.sequence = header.sequence;
    frame.sessionId = header.sessionId;
    frame.payload.assign(header.payloadSizeBytes, std::byte{0});
    receiveExactly(socket, frame.payload);
    return frame;
}

}  // namespace kestrune::net
