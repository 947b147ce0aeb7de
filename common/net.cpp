// SPDX-License-Identifier: MIT
#include "common/net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace zoq {

void fill_sockaddr(std::uint32_t host, std::uint16_t port, sockaddr_in& addr) {
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = host == 0 ? htonl(INADDR_ANY) : htonl(host);
}

std::uint16_t read_sockaddr(const sockaddr_in& addr, std::uint32_t& host, std::uint16_t& port) {
    host = ntohl(addr.sin_addr.s_addr);
    port = ntohs(addr.sin_port);
    return port;
}

void Socket::close() {
    if (fd_ != INVALID_SOCKET_HANDLE) {
        ::close(fd_);
        fd_ = INVALID_SOCKET_HANDLE;
    }
}

bool wait_readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
}

bool set_non_blocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

}  // namespace zoq
