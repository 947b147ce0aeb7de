// SPDX-License-Identifier: MIT
// IPv4 socket-address and byte-order helpers, and a small owner for socket handles.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <utility>

namespace zoq {

// Family AF_INET, port and address in network order; host 0 is the wildcard address.
// The trailing zero bytes of the address are left as they are.
void fill_sockaddr(std::uint32_t host, std::uint16_t port, sockaddr_in& addr);
// Host-order address and port of an IPv4 socket address; also returns the port.
std::uint16_t read_sockaddr(const sockaddr_in& addr, std::uint32_t& host, std::uint16_t& port);

inline void put_be16(std::uint8_t* buffer, unsigned value) {
    buffer[0] = static_cast<std::uint8_t>((value >> 8) & 0xFFu);
    buffer[1] = static_cast<std::uint8_t>(value & 0xFFu);
}
inline std::uint16_t get_be16(const std::uint8_t* buffer) {
    return static_cast<std::uint16_t>(buffer[0] * 256u + buffer[1]);
}

inline constexpr int INVALID_SOCKET_HANDLE = -1;

// Owns one socket descriptor; closes it when it goes.
class Socket {
  public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, INVALID_SOCKET_HANDLE)) {}
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            close();
            fd_ = std::exchange(other.fd_, INVALID_SOCKET_HANDLE);
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { close(); }

    int fd() const { return fd_; }
    bool valid() const { return fd_ != INVALID_SOCKET_HANDLE; }
    int release() { return std::exchange(fd_, INVALID_SOCKET_HANDLE); }
    void close();

  private:
    int fd_ = INVALID_SOCKET_HANDLE;
};

// Waits up to `ms` milliseconds for the socket to become readable. True when it is.
bool wait_readable(int fd, int ms);
bool set_non_blocking(int fd);

}  // namespace zoq
