#pragma once
// A small blocking TCP layer over Winsock 2 (socket_winsock.cpp) and POSIX sockets
// (socket_posix.cpp). Failures throw std::runtime_error naming the operation:
// "<operation> failed with WSA error <code>" on Windows, "<operation> failed with socket
// error <errno> (<description>)" elsewhere. A Socket owns its handle; shutdownBoth() may be
// called from one thread while another is blocked in receiveSome() on the same socket,
// and wakes it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/types.h"

namespace kestrune::net {

// SOCKET on Windows, a file descriptor elsewhere; both platforms' invalid values (~0 and
// -1) map to the same bits.
using NativeSocket = std::uintptr_t;
inline constexpr NativeSocket kInvalidSocket = ~NativeSocket{0};

// The platform's last socket error code (WSAGetLastError or errno) and its text.
int lastSocketError() noexcept;
std::string socketErrorText(std::string_view operation, int errorCode);
inline std::string socketErrorText(std::string_view operation) {
    return socketErrorText(operation, lastSocketError());
}

// WSAStartup(2.2) / WSACleanup on Windows ("WSAStartup failed with error N"); nothing to do
// elsewhere. Every successful start is owed one stop.
void startSockets();
void stopSockets() noexcept;

class Socket {
public:
    Socket() = default;
    explicit Socket(NativeSocket handle) noexcept : handle_(handle) {}
    ~Socket() { close(); }
    Socket(Socket&& other) noexcept : handle_(other.release()) {}
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.release();
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool isOpen() const noexcept { return handle_ != kInvalidSocket; }
    NativeSocket native() const noexcept { return handle_; }
    NativeSocket release() noexcept {
        const NativeSocket released = handle_;
        handle_ = kInvalidSocket;
        return released;
    }
    void close() noexcept;  // closesocket / close

private:
    NativeSocket handle_ = kInvalidSocket;
};

// Resolves `host` for IPv4 TCP and connects to the first address that accepts
// ("getaddrinfo failed with N", then the "connect" error of the last attempt).
Socket connectTcp(const std::string& host, u16 port);

void setNoDelay(Socket& socket);                      // TCP_NODELAY on
void setReceiveTimeout(Socket& socket, u32 timeoutMs);  // SO_RCVTIMEO; 0 waits forever
void setSendTimeout(Socket& socket, u32 timeoutMs);     // SO_SNDTIMEO; 0 waits forever
void setSendTimeout(Socket& socket, u32 timeoutMs);     // SO_SNDTIMEO; 0 waits forever

// One send()/recv() call each. Return the byte count, or -1 on failure with the reason
// in lastSocketError(); receiveSome() returns 0 when the peer closed the connection.
// Sending never raises SIGPIPE, and an interrupted call is retried.
i64 sendSome(Socket& socket, const std::byte* bytes, std::size_t countBytes) noexcept;
i64 receiveSome(Socket& socket, std::byte* bytes, std::size_t countBytes) noexcept;

// Ends both directions; a blocked receiveSome() on the socket returns. Errors are ignored
// (the peer may already be gone).
void shutdownBoth(Socket& socket) noexcept;

// A listening socket on 127.0.0.1 with a port chosen by the system, for loopback peers;
// `port` receives the port ("bind", "listen", "getsockname" errors).
Socket listenOnLoopback(u16& port);
Socket acceptConnection(Socket& listener);  // blocks ("accept" error)

}  // namespace kestrune::net
