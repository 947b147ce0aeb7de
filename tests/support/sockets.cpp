// SPDX-License-Identifier: MIT
#include "tests/support/sockets.h"

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <sys/socket.h>

#include <cerrno>
#endif

#include <chrono>
#include <thread>

namespace zoq::test {

#if defined(_WIN32)
namespace {

SOCKET handle(int socket) {
    return static_cast<SOCKET>(static_cast<unsigned>(socket));
}

}  // namespace

bool listen_socket(int socket, int backlog) {
    return ::listen(handle(socket), backlog) == 0;
}

int accept_connection(int socket, sockaddr_in* peer) {
    sockaddr_in ignored{};
    int length = sizeof ignored;
    sockaddr_in* out = peer ? peer : &ignored;
    const SOCKET s = ::accept(handle(socket), reinterpret_cast<sockaddr*>(out), &length);
    return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

bool socket_local_address(int socket, sockaddr_in& address) {
    int length = sizeof address;
    return ::getsockname(handle(socket), reinterpret_cast<sockaddr*>(&address), &length) == 0;
}

void reuse_address(int) {}

void reset_on_close(int socket) {
    linger l{1, 0};
    ::setsockopt(static_cast<SOCKET>(static_cast<unsigned>(socket)), SOL_SOCKET, SO_LINGER,
                 reinterpret_cast<const char*>(&l), sizeof l);
}
#else
bool listen_socket(int socket, int backlog) {
    return ::listen(socket, backlog) == 0;
}

int accept_connection(int socket, sockaddr_in* peer) {
    sockaddr_in ignored{};
    socklen_t length = sizeof ignored;
    sockaddr_in* out = peer ? peer : &ignored;
    int rc;
    do {
        rc = ::accept4(socket, reinterpret_cast<sockaddr*>(out), &length, SOCK_CLOEXEC);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

bool socket_local_address(int socket, sockaddr_in& address) {
    socklen_t length = sizeof address;
    return ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) == 0;
}

void reuse_address(int socket) {
    int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

void reset_on_close(int socket) {
    linger l{1, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}
#endif

void block_forever() {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace zoq::test
