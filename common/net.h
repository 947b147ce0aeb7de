// SPDX-License-Identifier: MIT
// Byte-order helpers, and a small owner for socket handles. The socket calls themselves and the
// socket address are the system's (os/socket.h, os/sockaddr.h).
#pragma once

#include <cstdint>
#include <utility>

#include "os/sockaddr.h"
#include "os/socket.h"

namespace zoq {

inline void put_be16(std::uint8_t* buffer, unsigned value) {
    buffer[0] = static_cast<std::uint8_t>((value >> 8) & 0xFFu);
    buffer[1] = static_cast<std::uint8_t>(value & 0xFFu);
}
inline std::uint16_t get_be16(const std::uint8_t* buffer) {
    return static_cast<std::uint16_t>(buffer[0] * 256u + buffer[1]);
}

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

}  // namespace zoq
