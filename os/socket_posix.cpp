// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "os/socket.h"

namespace zoq {
namespace {

const sockaddr* as_address(const sockaddr_in& address) {
    return reinterpret_cast<const sockaddr*>(&address);
}

}  // namespace

bool open_socket_layer() {
    int probe = open_udp_socket();
    if (probe == INVALID_SOCKET_HANDLE) return false;
    close_socket(probe);
    return true;
}

int open_tcp_socket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

int open_udp_socket() {
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

void close_socket(int socket) {
    if (socket != INVALID_SOCKET_HANDLE) ::close(socket);
}

bool bind_socket(int socket, const sockaddr_in& address) {
    return ::bind(socket, as_address(address), sizeof address) == 0;
}

bool connect_socket(int socket, const sockaddr_in& address) {
    int rc;
    do {
        rc = ::connect(socket, as_address(address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

long send_stream(int socket, const void* data, std::size_t length) {
    ssize_t n;
    do {
        n = ::send(socket, data, length, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long receive_stream(int socket, void* data, std::size_t length) {
    ssize_t n;
    do {
        n = ::recv(socket, data, length, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long send_datagram(int socket, const void* data, std::size_t length, const sockaddr_in& to) {
    return static_cast<long>(::sendto(socket, data, length, 0, as_address(to), sizeof to));
}

long receive_datagram(int socket, void* data, std::size_t length, sockaddr_in& from) {
    socklen_t from_length = sizeof from;
    return static_cast<long>(
        ::recvfrom(socket, data, length, 0, reinterpret_cast<sockaddr*>(&from), &from_length));
}

bool set_non_blocking(int socket) {
    int flags = ::fcntl(socket, F_GETFL, 0);
    return flags >= 0 && ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool wait_readable(int socket, int ms) {
    pollfd p{socket, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

std::string socket_error_text() {
    return std::strerror(errno);
}

}  // namespace zoq
