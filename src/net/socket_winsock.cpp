#include "net/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <stdexcept>

namespace kestrune::net {
namespace {

constexpr int kListenBacklog = 16;
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

SOCKET handle(const Socket& socket) noexcept { return static_cast<SOCKET>(socket.native()); }

Socket adopt(SOCKET s) noexcept { return Socket(s == INVALID_SOCKET ? kInvalidSocket : static_cast<NativeSocket>(s)); }

// send and recv take an int length.
int clampLength(std::size_t countBytes) noexcept {
    return static_cast<int>(std::min<std::size_t>(countBytes, INT_MAX));
}

// SO_RCVTIMEO and SO_SNDTIMEO take milliseconds as a DWORD; 0 waits forever.
void setTimeout(Socket& socket, int option, u32 timeoutMs, const char* operation) {
    const DWORD timeout = timeoutMs;
    if (setsockopt(handle(socket), SOL_SOCKET, option, reinterpret_cast<const char*>(&timeout), sizeof(timeout)) ==
        SOCKET_ERROR) {
        throw std::runtime_error(socketErrorText(operation));
    }
}

struct FreeAddressList {
    void operator()(addrinfo* list) const noexcept { freeaddrinfo(list); }
};

}  // namespace

int lastSocketError() noexcept { return WSAGetLastError(); }

std::string socketErrorText(std::string_view operation, int errorCode) {
    return std::string(operation) + " failed with WSA error " + std::to_string(errorCode);
}

void startSockets() {
    WSADATA data{};
    const int result = WSAStartup(kWinsockVersion, &data);
    if (result != 0) {
        throw std::runtime_error("WSAStartup failed with error " + std::to_string(result));
    }
}

void stopSockets() noexcept { WSACleanup(); }

void Socket::close() noexcept {
    if (isOpen()) {
        closesocket(handle(*this));
        handle_ = kInvalidSocket;
    }
}

Socket connectTcp(const std::string& host, u16 port) {
    addrinfo hints{};
    hints.ai_flags = 0;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* first = nullptr;
    const int result = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &first);
    if (result != 0) {
        throw std::runtime_error("getaddrinfo failed with " + std::to_string(result));
    }
    const std::unique_ptr<addrinfo, FreeAddressList> addresses(first);
    int errorCode = 0;
    for (const addrinfo* entry = first; entry != nullptr; entry = entry->ai_next) {
        Socket candidate = adopt(::socket(entry->ai_family, entry->ai_socktype, entry->ai_protocol));
        if (!candidate.isOpen()) {
            errorCode = WSAGetLastError();
            continue;
        }
        if (::connect(handle(candidate), entry->ai_addr, static_cast<int>(entry->ai_addrlen)) == 0) {
            return candidate;
        }
        errorCode = WSAGetLastError();  // kept before closesocket() can reset it
    }
    throw std::runtime_error(socketErrorText("connect", errorCode));
}

void setNoDelay(Socket& socket) {
    const BOOL enabled = TRUE;
    if (setsockopt(handle(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&enabled),
                   sizeof(enabled)) == SOCKET_ERROR) {
        throw std::runtime_error(socketErrorText("setsockopt(TCP_NODELAY)"));
    }
}

void setReceiveTimeout(Socket& socket, u32 timeoutMs) {
    setTimeout(socket, SO_RCVTIMEO, timeoutMs, "setsockopt(SO_RCVTIMEO)");
}

void setSendTimeout(Socket& socket, u32 timeoutMs) {
    setTimeout(socket, SO_SNDTIMEO, timeoutMs, "setsockopt(SO_SNDTIMEO)");
}

i64 sendSome(Socket& socket, const std::byte* bytes, std::size_t countBytes) noexcept {
    return ::send(handle(socket), reinterpret_cast<const char*>(bytes), clampLength(countBytes), 0);
}

i64 receiveSome(Socket& socket, std::byte* bytes, std::size_t countBytes) noexcept {
    return ::recv(handle(socket), reinterpret_cast<char*>(bytes), clampLength(countBytes), 0);
}

void shutdownBoth(Socket& socket) noexcept { ::shutdown(handle(socket), SD_BOTH); }

Socket listenOnLoopback(u16& port) {
    Socket listener = adopt(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!listener.isOpen()) {
        throw std::runtime_error(socketErrorText("socket"));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(handle(listener), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == SOCKET_ERROR) {
        throw std::runtime_error(socketErrorText("bind"));
    }
    if (::listen(handle(listener), kListenBacklog) == SOCKET_ERROR) {
        throw std::runtime_error(socketErrorText("listen"));
    }
    int length = sizeof(address);
    if (::getsockname(handle(listener), reinterpret_cast<sockaddr*>(&address), &length) == SOCKET_ERROR) {
        throw std::runtime_error(socketErrorText("getsockname"));
    }
    port = ntohs(address.sin_port);
    return listener;
}

Socket acceptConnection(Socket& listener) {
    Socket accepted = adopt(::accept(handle(listener), nullptr, nullptr));
    if (!accepted.isOpen()) {
        throw std::runtime_error(socketErrorText("accept"));
    }
    return accepted;
}

}  // namespace kestrune::net
