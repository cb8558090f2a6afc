#include "net/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace kestrune::net {
namespace {

constexpr int kListenBacklog = 16;

int fd(const Socket& socket) noexcept { return static_cast<int>(socket.native()); }

Socket adopt(int descriptor) noexcept {
    return Socket(descriptor < 0 ? kInvalidSocket : static_cast<NativeSocket>(descriptor));
}

// strerror_r comes in a GNU form (returns the text) and an XSI form (fills the buffer);
// overloads pick whichever the C library declares. strerror itself is not thread-safe.
[[maybe_unused]] const char* errorDescription(const char* gnuResult, const char*) noexcept { return gnuResult; }
[[maybe_unused]] const char* errorDescription(int xsiResult, const char* buffer) noexcept {
    return xsiResult == 0 ? buffer : "unknown error";
}

// SO_RCVTIMEO and SO_SNDTIMEO take a timeval; a zero one waits forever.
void setTimeout(Socket& socket, int option, u32 timeoutMs, const char* operation) {
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(timeoutMs / 1000);
    timeout.tv_usec = static_cast<suseconds_t>((timeoutMs % 1000) * 1000);
    if (setsockopt(fd(socket), SOL_SOCKET, option, &timeout, sizeof(timeout)) != 0) {
        throw std::runtime_error(socketErrorText(operation));
    }
}

struct FreeAddressList {
    void operator()(addrinfo* list) const noexcept { freeaddrinfo(list); }
};

}  // namespace

int lastSocketError() noexcept { return errno; }

std::string socketErrorText(std::string_view operation, int errorCode) {
    char buffer[256] = {};
    const char* description = errorDescription(strerror_r(errorCode, buffer, sizeof(buffer)), buffer);
    return std::string(operation) + " failed with socket error " + std::to_string(errorCode) + " (" +
           description + ")";
}

void startSockets() {}
void stopSockets() noexcept {}

void Socket::close() noexcept {
    if (isOpen()) {
        ::close(fd(*this));
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
        Socket candidate = adopt(::socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol));
        if (!candidate.isOpen()) {
            errorCode = errno;
            continue;
        }
        if (::connect(fd(candidate), entry->ai_addr, entry->ai_addrlen) == 0) {
            return candidate;
        }
        errorCode = errno;  // kept before close() can touch errno
    }
    throw std::runtime_error(socketErrorText("connect", errorCode));
}

void setNoDelay(Socket& socket) {
    const int enabled = 1;
    if (setsockopt(fd(socket), IPPROTO_TCP, TCP_NODELAY, &enabled, sizeof(enabled)) != 0) {
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
    for (;;) {
        // MSG_NOSIGNAL: a peer that went away must surface as EPIPE, not kill the process.
        const ssize_t sent = ::send(fd(socket), bytes, countBytes, MSG_NOSIGNAL);
        if (sent >= 0 || errno != EINTR) {
            return sent;
        }
    }
}

i64 receiveSome(Socket& socket, std::byte* bytes, std::size_t countBytes) noexcept {
    for (;;) {
        const ssize_t received = ::recv(fd(socket), bytes, countBytes, 0);
        if (received >= 0 || errno != EINTR) {
            return received;
        }
    }
}

void shutdownBoth(Socket& socket) noexcept { ::shutdown(fd(socket), SHUT_RDWR); }

Socket listenOnLoopback(u16& port) {
    Socket listener = adopt(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!listener.isOpen()) {
        throw std::runtime_error(socketErrorText("socket"));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd(listener), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        throw std::runtime_error(socketErrorText("bind"));
    }
    if (::listen(fd(listener), kListenBacklog) != 0) {
        throw std::runtime_error(socketErrorText("listen"));
    }
    socklen_t length = sizeof(address);
    if (::getsockname(fd(listener), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error(socketErrorText("getsockname"));
    }
    port = ntohs(address.sin_port);
    return listener;
}

Socket acceptConnection(Socket& listener) {
    for (;;) {
        Socket accepted = adopt(::accept4(fd(listener), nullptr, nullptr, SOCK_CLOEXEC));
        if (accepted.isOpen()) {
            return accepted;
        }
        if (errno != EINTR) {
            throw std::runtime_error(socketErrorText("accept"));
        }
    }
}

}  // namespace kestrune::net
