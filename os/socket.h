// SPDX-License-Identifier: MIT
// The socket calls of the core: TCP to the device's web server, UDP for the TFTP server,
// waiting on a socket with a bound in milliseconds, and the owner that closes a handle when it
// goes. A handle is an `int` everywhere; -1 is none.
#pragma once

#include <cstddef>
#include <string>
#include <utility>

#include "os/sockaddr.h"

namespace zoq {

inline constexpr int INVALID_SOCKET_HANDLE = -1;

// Starts the system's socket layer (Winsock 1.1 on Windows; a probe on POSIX, where what can
// fail is IPv4 itself). Never shut down: the process ends with it started.
bool open_socket_layer();

// New IPv4 sockets, or INVALID_SOCKET_HANDLE. Not inherited by programs the process starts.
int open_tcp_socket();
int open_udp_socket();
void close_socket(int socket);

bool bind_socket(int socket, const sockaddr_in& address);
bool connect_socket(int socket, const sockaddr_in& address);

// Byte counts, or -1. A peer that has closed makes a send fail, never end the process; an
// interrupted call is repeated.
long send_stream(int socket, const void* data, std::size_t length);
long receive_stream(int socket, void* data, std::size_t length);
long send_datagram(int socket, const void* data, std::size_t length, const sockaddr_in& to);
long receive_datagram(int socket, void* data, std::size_t length, sockaddr_in& from);

bool set_non_blocking(int socket);
// Waits up to `ms` milliseconds for the socket to become readable. True when it is.
bool wait_readable(int socket, int ms);

// The system's text for the last failed socket call of this thread, for the trace.
std::string socket_error_text();

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
    void close() { close_socket(std::exchange(fd_, INVALID_SOCKET_HANDLE)); }

  private:
    int fd_ = INVALID_SOCKET_HANDLE;
};

}  // namespace zoq
