// SPDX-License-Identifier: MIT
// The program's one privileged act: binding the TFTP listener's UDP port (69 and up, below the
// ports an ordinary user may bind on Linux). An installed executable carries the right to bind
// such ports as a file capability; the process hands that right to a small helper at once and
// gives up every capability of its own, so the toolkit and every thread it starts never run
// privileged. Without the capability, or on systems without capabilities, binds are ordinary.
#pragma once

#include <cstdint>
#include <memory>

namespace zoq {

class PortBinder {
  public:
    virtual ~PortBinder() = default;
    // Binds the IPv4 UDP `socket` to ip:port (host order). 0, or the system's error code.
    virtual int bind(int socket, std::uint32_t ip, std::uint16_t port) = 0;
    // Gives the right up for good, once the listener is bound; later binds are ordinary.
    virtual void release() = 0;
};

// Must run first in main(), while the process has a single thread. When this process may bind
// privileged ports, a helper keeps that right (for ports first to last only) and every
// capability of this process is dropped: effective, permitted, inheritable, ambient and,
// where the process may, the bounding set. Null when there was no such right to keep.
std::unique_ptr<PortBinder> keep_port_privilege(std::uint16_t first, std::uint16_t last);

// An ordinary bind of the IPv4 UDP `socket` to ip:port (host order). 0, or the error code.
int bind_port(int socket, std::uint32_t ip, std::uint16_t port);

// The symbolic name of an error code from the two calls above, such as "EACCES", for the trace.
const char* error_name(int code);

}  // namespace zoq
