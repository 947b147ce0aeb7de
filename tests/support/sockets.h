// SPDX-License-Identifier: MIT
// The socket calls only the tests' own peers make (servers that listen, options, the local
// address); everything else they do through os/socket.h.
#pragma once

#include "os/sockaddr.h"

namespace zoq::test {

bool listen_socket(int socket, int backlog);
// A connection from the queue (blocking unless the socket is non-blocking), or -1.
int accept_connection(int socket, sockaddr_in* peer);
bool socket_local_address(int socket, sockaddr_in& address);

// A fake device restarted on the same port binds at once. Nothing on Windows, where the option
// would let a second socket take a port that is in use.
void reuse_address(int socket);
// What another program would do to share a port that is in use: SO_REUSEADDR on both systems.
// False when the system refuses the option.
bool try_to_share_address(int socket);
// Windows: the socket holds its port exclusively (SO_EXCLUSIVEADDRUSE), which Wine keeps but does
// not act on. Elsewhere a port is shared only when every socket on it asks: always true.
bool holds_port_exclusively(int socket);
// Closing the connection sends a reset instead of the orderly end.
void reset_on_close(int socket);
// Blocks the calling thread for good (until the process ends).
[[noreturn]] void block_forever();

}  // namespace zoq::test
