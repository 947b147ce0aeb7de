// SPDX-License-Identifier: MIT
#include "tests/support/sockets.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <sys/socket.h>
#endif

#include <chrono>
#include <thread>

namespace zoq::test {
namespace {

#if defined(_WIN32)
using Handle = SOCKET;
#else
using Handle = int;
#endif

Handle handle(int socket) {
    return static_cast<Handle>(static_cast<unsigned>(socket));
}

}  // namespace

bool listen_socket(int socket, int backlog) {
    return ::listen(handle(socket), backlog) == 0;
}

int accept_connection(int socket, sockaddr_in* peer) {
    sockaddr_in ignored{};
    socklen_t length = sizeof ignored;
    auto* out = reinterpret_cast<sockaddr*>(peer ? peer : &ignored);
#if defined(_WIN32)
    const Handle s = ::accept(handle(socket), out, &length);
    return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
#else
    // Not inherited by the peer programs a test starts while its fake device listens.
    return ::accept4(socket, out, &length, SOCK_CLOEXEC);
#endif
}

bool socket_local_address(int socket, sockaddr_in& address) {
    socklen_t length = sizeof address;
    return ::getsockname(handle(socket), reinterpret_cast<sockaddr*>(&address), &length) == 0;
}

#if defined(_WIN32)
void reuse_address(int) {}

bool try_to_share_address(int socket) {
    BOOL on = TRUE;
    return ::setsockopt(static_cast<SOCKET>(static_cast<unsigned>(socket)), SOL_SOCKET,
                        SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool holds_port_exclusively(int socket) {
    BOOL on = FALSE;
    int length = sizeof on;
    return ::getsockopt(static_cast<SOCKET>(static_cast<unsigned>(socket)), SOL_SOCKET,
                        SO_EXCLUSIVEADDRUSE, reinterpret_cast<char*>(&on), &length) == 0 &&
           on;
}

void reset_on_close(int socket) {
    linger l{1, 0};
    ::setsockopt(handle(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l),
                 sizeof l);
}
#else
void reuse_address(int socket) {
    int on = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

bool try_to_share_address(int socket) {
    int on = 1;
    return ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool holds_port_exclusively(int) {
    return true;
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
