// SPDX-License-Identifier: MIT
// The 1 ms beat of the TFTP transfer loop, as a port: the system's (a periodic timer beside the
// socket), and a scripted one with which a test decides when datagrams and beats arrive, with
// no real waiting. The session counts its resend interval and its retries in beats.
#pragma once

#include <memory>

namespace zoq {

struct Wake {
    bool readable = false;  // a datagram is waiting on the socket
    unsigned beats = 0;     // milliseconds that have passed since the last wait (0, 1 or more)
};

class Heartbeat {
  public:
    virtual ~Heartbeat() = default;
    // Blocks until the socket is readable or at least one beat has passed, and reports both.
    // A wait that comes back for a datagram still reports every beat that passed meanwhile.
    virtual Wake wait(int socket) = 0;
};

// The system's beat for one transfer: created when the transfer starts, gone when it ends.
std::unique_ptr<Heartbeat> make_system_heartbeat();

}  // namespace zoq
