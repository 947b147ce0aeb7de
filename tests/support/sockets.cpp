// SPDX-License-Identifier: MIT
#include "tests/support/sockets.h"

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include <chrono>
#include <thread>

namespace zoq::test {

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
    ::setsockopt(static_cast<SOCKET>(static_cast<unsigned>(socket)), SOL_SOCKET, SO_LINGER,
                 reinterpret_cast<const char*>(&l), sizeof l);
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
